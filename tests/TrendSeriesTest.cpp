#include "FakeLink.h"

#include "log/CsvLog.h"
#include "measure/ValueText.h"
#include "trend/CurveOutline.h"
#include "trend/TrendSeries.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
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

TEST(TrendSeries, PowerIsTheProductOfTheQuantitiesOfAcVoltageReadings) {
    std::mt19937 random(4);
    const TrendHistory history = randomHistory(3000, random);
    for (const std::optional<PowerFactor> pf :
         {std::optional<PowerFactor>(), std::optional<PowerFactor>(PowerFactor{800'000})}) {
        const TrendSeries series = TrendSeries::power(history, pf);
        int values = 0;
        for (std::size_t i = 0; i < history.size(); ++i) {
            const MeterReading raw = history[i].reading();
            const auto current = currentQuantity(raw, ".");
            const auto second = secondQuantity(raw, ".");
            const TrendSeries::Sample s = series.sample(i);
            if (!current || !second || second->kind != QuantityKind::AcVoltage) {
                ASSERT_EQ(s.state, TrendSeries::Sample::Missing) << i;
            } else if (current->overload || second->overload) {
                ASSERT_EQ(s.state, TrendSeries::Sample::Overload) << i;
            } else {
                ASSERT_EQ(s.state, TrendSeries::Sample::Value) << i;
                ASSERT_NEAR(s.value, current->value() * second->value() * (pf ? 0.8 : 1.0),
                            1e-9 * s.value)
                    << i;
                ++values;
            }
        }
        EXPECT_GT(values, 100);
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
        r.wallMs = 1'765'000'000'000 + ms; // the wall clock runs with the steady one
        history.add(r);
    }
    history.markBreak();
    r.steadyNs += 500'000'000;
    r.wallMs += 500;
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

namespace {

// The tests' reading clock, stepped by hand.
class StepClock : public ReadingClock {
public:
    std::int64_t wallMs() const override { return wall; }
    std::int64_t steadyNs() const override { return steady; }
    void tick() {
        wall += 500;
        steady += 500'000'000;
    }
    std::int64_t wall = 1'765'000'000'000;
    std::int64_t steady = 1'000'000'000;
};

// A live run whose wall clock is set back five minutes, then forward two hours: the history
// keeps every reading with its true time, in order; the chart's keys never run backwards and
// break exactly at the steps; the log keeps the true times.
TEST(TrendHistory, AClockSetBackAndForwardDisturbsNeitherTheChartNorTheLog) {
    talviren::testing::LinkRig rig;
    StepClock clock;
    rig.link.setClock(&clock);
    const std::string log = ::testing::TempDir() + "steps.csv";
    std::remove(log.c_str());
    std::string error;
    ASSERT_TRUE(rig.session.recording().startLog(log, error)) << error;
    rig.port.outcomes[1] = OpenResult::Opened;
    rig.scan.tick();
    rig.port.deliver({0xD5, 0x55, 0x55});
    rig.scan.tick();
    std::vector<std::int64_t> trueTimes;
    for (int i = 0; i < 40; ++i) {
        if (i == 10) {
            clock.wall -= 5 * 60'000;
        } else if (i == 25) {
            clock.wall += 2 * 3'600'000;
        }
        rig.poll.tick();
        rig.port.deliver({1, 12, 34, 1, 23, 13, 0});
        trueTimes.push_back(clock.wall);
        clock.tick();
    }
    rig.session.recording().stopLog();
    const TrendHistory& history = rig.session.recording().history();
    ASSERT_EQ(history.size(), 40u);
    const TrendSeries series(history, QuantityKind::AcCurrent);
    for (std::size_t i = 0; i < history.size(); ++i) {
        EXPECT_EQ(history[i].wallMs, trueTimes[i]) << i;
        EXPECT_EQ(history[i].breakBefore, i == 0 || i == 10 || i == 25) << i;
        if (i > 0) {
            EXPECT_GT(history.keyMs(i), history.keyMs(i - 1)) << i;
        }
        EXPECT_EQ(series.lowerBound(series.key(i)), i) << "the search finds reading " << i;
    }
    EXPECT_EQ(history.keyMs(10) - history.keyMs(9), 500) << "on from where the axis stood";
    EXPECT_EQ(history.keyMs(25), trueTimes[25]) << "set forward past the shifted keys";
    std::ifstream in(log);
    std::string line;
    std::getline(in, line); // the header
    for (std::size_t i = 0; std::getline(in, line); ++i) {
        ASSERT_LT(i, trueTimes.size());
        EXPECT_EQ(line.substr(0, line.find(',')), csvlog::timeField(trueTimes[i]));
    }
    std::remove(log.c_str());
}

// A log whose clock went back: read in file order, keys that never run backwards.
TEST(TrendHistory, ALogWhoseClockWentBackOpensInOrder) {
    TrendHistory history;
    const MeterReading raw{1, 1234, 1, 2313, 0};
    for (std::int64_t t : {10'000, 10'500, 11'000, 4'000, 4'500, 5'000, 60'000}) {
        history.add(t, raw);
    }
    const std::vector<std::int64_t> keys = {10'000, 10'500, 11'000, 11'000, 11'500, 12'000, 60'000};
    const std::vector<bool> breaks = {true, false, false, true, false, false, true};
    for (std::size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(history.keyMs(i), keys[i]) << i;
        EXPECT_EQ(history[i].breakBefore, breaks[i]) << i;
    }
    EXPECT_EQ(history[3].wallMs, 4'000);
}

} // namespace

namespace {

// The outline of a crowded random history against the readings themselves: each pixel column
// holds its first, lowest, highest and last value, overloads mark their columns, no line runs
// across a gap, and the points are bounded by the columns, not the readings.
TEST(CurveOutline, TheEnvelopeOfEachColumnIsItsReadingsAndNoLineCrossesAGap) {
    std::mt19937 random(11);
    const TrendHistory history = randomHistory(50000, random);
    const TrendSeries series(history, QuantityKind::AcCurrent);
    PixelAxis axis;
    axis.origin = series.key(0);
    axis.width = 700;
    axis.perSecond = axis.width / (series.key(history.size() - 1) - axis.origin);
    CurveOutline outline;
    outline.outline(series, 0, history.size(), axis);
    ASSERT_TRUE(outline.envelope());

    struct Column {
        double first = 0, low = 0, high = 0, last = 0;
        bool any = false;
    };
    std::map<double, Column> expected;
    std::vector<double> overloads;
    for (std::size_t i = 0; i < history.size(); ++i) {
        const double x = std::floor(axis.pixel(series.key(i)));
        const TrendSeries::Sample s = series.sample(i);
        if (s.state == TrendSeries::Sample::Overload &&
            (overloads.empty() || overloads.back() != x)) {
            overloads.push_back(x);
        }
        if (s.state != TrendSeries::Sample::Value) {
            continue;
        }
        Column& c = expected[x];
        c.first = c.any ? c.first : s.value;
        c.low = c.any ? std::min(c.low, s.value) : s.value;
        c.high = c.any ? std::max(c.high, s.value) : s.value;
        c.last = s.value;
        c.any = true;
    }
    EXPECT_EQ(outline.overloads(), overloads);
    std::map<double, Column> drawn;
    std::map<double, std::pair<std::size_t, std::size_t>> lineOf; // first and last point's line
    std::size_t line = 0;
    for (std::size_t k = 0; k < outline.points().size(); ++k) {
        while (k >= outline.lineEnds()[line]) {
            ++line;
        }
        const CurveOutline::Point& p = outline.points()[k];
        Column& c = drawn[p.x];
        c.first = c.any ? c.first : p.value;
        c.low = c.any ? std::min(c.low, p.value) : p.value;
        c.high = c.any ? std::max(c.high, p.value) : p.value;
        c.last = p.value;
        c.any = true;
        lineOf.try_emplace(p.x, line, line).first->second.second = line;
    }
    ASSERT_EQ(drawn.size(), expected.size());
    for (const auto& [x, c] : expected) {
        const Column& d = drawn[x];
        ASSERT_EQ(d.first, c.first) << x;
        ASSERT_EQ(d.low, c.low) << x;
        ASSERT_EQ(d.high, c.high) << x;
        ASSERT_EQ(d.last, c.last) << x;
    }
    std::size_t gaps = 0;
    std::size_t gapsBetweenColumns = 0;
    for (std::size_t i = 1; i < history.size(); ++i) {
        const bool gap = series.breakBefore(i) ||
                         series.sample(i - 1).state != TrendSeries::Sample::Value ||
                         series.sample(i).state != TrendSeries::Sample::Value;
        const double a = std::floor(axis.pixel(series.key(i - 1)));
        const double b = std::floor(axis.pixel(series.key(i)));
        gaps += gap;
        if (gap && a != b && lineOf.count(a) && lineOf.count(b)) {
            ++gapsBetweenColumns;
            ASSERT_NE(lineOf[a].second, lineOf[b].first) << "a line across the gap before " << i;
        }
    }
    EXPECT_GT(gapsBetweenColumns, 10u);
    // Four points a column, and a column starts afresh after a gap inside it.
    EXPECT_LE(outline.points().size(), 4 * (expected.size() + gaps));
    EXPECT_LT(outline.points().size(), history.size() / 2) << "far fewer points than readings";
}

} // namespace
