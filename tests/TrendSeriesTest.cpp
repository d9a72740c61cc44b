#include "trend/TrendSeries.h"
#include "measure/ValueText.h"

#include <gtest/gtest.h>

#include <random>

using namespace talviren;

namespace {

// A history of random readings: every function and range, pauses now and then.
TrendHistory randomHistory(int count, std::mt19937& random) {
    TrendHistory history;
    std::int64_t t = 0;
    for (int i = 0; i < count; ++i) {
        t += random() % 50 == 0 ? 3000 : 500;
        const MeterReading raw{
            static_cast<std::uint8_t>(random() % 5), static_cast<int>(random() % 12000),
            static_cast<std::uint8_t>(random() % 20 == 0 ? 7 : random() % 6),
            static_cast<int>(random() % 10500), static_cast<std::uint8_t>(random() % 2)};
        history.add(t, raw);
    }
    return history;
}

TEST(TrendSeries, SamplesAreTheQuantitiesOfTheReadingsInTheShownUnit) {
    std::mt19937 random(3);
    const TrendHistory history = randomHistory(3000, random);
    for (QuantityKind kind : kAllQuantityKinds) {
        const TrendSeries series(history, kind);
        for (std::size_t i = 0; i < history.size(); ++i) {
            const MeterReading raw = history[i].reading();
            const auto q = kind == QuantityKind::AcCurrent    ? currentQuantity(raw, ".")
                           : secondKind(raw.function) == kind ? secondQuantity(raw, ".")
                                                              : std::nullopt;
            const TrendSeries::Sample s = series.sample(i);
            if (!q) {
                ASSERT_EQ(s.state, TrendSeries::Sample::Missing) << i;
            } else if (q->overload) {
                ASSERT_EQ(s.state, TrendSeries::Sample::Overload) << i;
            } else {
                ASSERT_EQ(s.state, TrendSeries::Sample::Value) << i;
                ASSERT_DOUBLE_EQ(s.value, q->value() / quantityKindInfo(kind).basePerShown) << i;
            }
        }
    }
}

TEST(TrendSeries, BlockSummariesAndValueRangesAgreeWithEveryReading) {
    std::mt19937 random(5);
    const TrendHistory history = randomHistory(20000, random);
    const TrendSeries series(history, QuantityKind::AcCurrent);
    for (int round = 0; round < 200; ++round) {
        std::size_t begin = random() % history.size();
        std::size_t end = begin + random() % 3000;
        end = std::min(end, history.size());
        double low = 0;
        double high = 0;
        bool found = false;
        double expectedLow = 1e300;
        double expectedHigh = -1e300;
        for (std::size_t i = begin; i < end; ++i) {
            const TrendSeries::Sample s = series.sample(i);
            if (s.state == TrendSeries::Sample::Value) {
                expectedLow = std::min(expectedLow, s.value);
                expectedHigh = std::max(expectedHigh, s.value);
                found = true;
            }
        }
        ASSERT_EQ(series.valueRange(begin, end, low, high), found);
        if (found) {
            ASSERT_EQ(low, expectedLow);
            ASSERT_EQ(high, expectedHigh);
        }
    }
    for (std::size_t b = 0; b < history.size() / TrendSeries::kBlock; ++b) {
        const TrendSeries::Block& block = series.block(b);
        bool clean = true;
        bool overload = false;
        for (std::size_t i = b * TrendSeries::kBlock; i < (b + 1) * TrendSeries::kBlock; ++i) {
            const auto state = series.sample(i).state;
            overload = overload || state == TrendSeries::Sample::Overload;
            clean = clean && state == TrendSeries::Sample::Value &&
                    (i == b * TrendSeries::kBlock || !series.breakBefore(i));
        }
        ASSERT_EQ(block.clean, clean) << b;
        ASSERT_EQ(block.overload, overload) << b;
    }
}

TEST(TrendHistory, PausesLongerThanTwoTicksAndLinkLossesBreakTheLine) {
    TrendHistory history;
    TimedReading r;
    const std::int64_t steps[] = {0, 500, 1000, 2000, 3250, 4600, 5100};
    for (std::int64_t ms : steps) {
        r.steadyNs = ms * 1'000'000;
        history.add(r);
    }
    history.markBreak();
    r.steadyNs += 500'000'000;
    history.add(r);
    std::vector<bool> breaks;
    for (std::size_t i = 0; i < history.size(); ++i) {
        breaks.push_back(history[i].breakBefore);
    }
    EXPECT_EQ(breaks, (std::vector<bool>{true, false, false, false, false, true, false, true}));
    // A log breaks on its wall-clock times; the history grows past a chunk without moving.
    TrendHistory log;
    for (std::int64_t i = 0; i < 70000; ++i) {
        log.add(i * 500 + (i >= 66000 ? 2000 : 0), MeterReading{1, 5, 1, 5, 0});
    }
    EXPECT_TRUE(log[66000].breakBefore);
    EXPECT_FALSE(log[65999].breakBefore);
    EXPECT_EQ(log.back().wallMs, 69999 * 500 + 2000);
}

} // namespace
