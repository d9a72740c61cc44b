#include "measure/ValueText.h"
#include "trend/ReadingStatistics.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace talviren;

namespace {

TimedReading timed(std::uint8_t function, int current, std::uint8_t range, int second,
                   std::int64_t wallMs, std::uint8_t sign = 0) {
    TimedReading r;
    static_cast<DecodedReading&>(r) =
        decodeReading(MeterReading{function, current, range, second, sign}, ".");
    r.wallMs = wallMs;
    return r;
}

TEST(Statistics, MinMaxMeanAndLastPerKindWithOverloadsApart) {
    ReadingStatistics stats;
    stats.add(timed(2, 1234, 1, 310, 1000, 1)); // 12.34 A, -31 V
    stats.add(timed(2, 85, 0, 10001, 2000));    // 85 mA, OLV
    stats.add(timed(2, 10001, 5, 125, 3000));   // OLA, 12.5 V
    stats.add(timed(1, 20, 3, 2313, 4000));     // 20 A, AC 231.3 V
    stats.add(timed(2, 1234, 1, 310, 5000, 1)); // ties keep the first minimum and maximum
    const auto& current = stats.of(QuantityKind::AcCurrent);
    EXPECT_EQ(current.count, 4);
    EXPECT_EQ(current.overloads, 1);
    EXPECT_EQ(current.minimum.text, "85mA");
    EXPECT_EQ(current.minimum.wallMs, 2000);
    EXPECT_EQ(current.maximum.text, "20A");
    EXPECT_DOUBLE_EQ(current.mean(), (12.34 + 0.085 + 20 + 12.34) / 4);
    EXPECT_EQ(current.last.text, "12.34A");
    const auto& dc = stats.of(QuantityKind::DcVoltage);
    EXPECT_EQ(dc.count, 3);
    EXPECT_EQ(dc.overloads, 1);
    EXPECT_EQ(dc.minimum.text, "-31V");
    EXPECT_EQ(dc.minimum.wallMs, 1000) << "the first of equal values";
    EXPECT_EQ(dc.maximum.text, "12.5V");
    EXPECT_DOUBLE_EQ(dc.mean(), (-31 - 31 + 12.5) / 3);
    EXPECT_EQ(stats.of(QuantityKind::AcVoltage).count, 1);
    EXPECT_FALSE(stats.of(QuantityKind::Resistance).seen());
    EXPECT_EQ(stats.seenKinds(),
              (std::vector<QuantityKind>{QuantityKind::AcCurrent, QuantityKind::AcVoltage,
                                         QuantityKind::DcVoltage}));
    stats.reset();
    EXPECT_TRUE(stats.seenKinds().empty());
    EXPECT_TRUE(std::isnan(stats.of(QuantityKind::AcCurrent).mean()));
}

TEST(Statistics, OnlyOverloadsGiveNoMeanButALastText) {
    ReadingStatistics stats;
    stats.add(timed(3, 0, 0, 2001, 7));
    const auto& r = stats.of(QuantityKind::Resistance);
    EXPECT_TRUE(r.seen());
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.overloads, 1);
    EXPECT_EQ(r.last.text, "OLk\u03A9");
    EXPECT_TRUE(std::isnan(r.mean()));
}

TEST(Statistics, MeanOfMillionsOfReadingsDoesNotDrift) {
    // 0.1 A and 0.2 A alternating, three million times: a running double sum drifts, ours not.
    ReadingStatistics stats;
    const TimedReading a = timed(1, 10, 1, 0, 0);
    const TimedReading b = timed(1, 20, 1, 0, 0);
    for (int i = 0; i < 1'500'000; ++i) {
        stats.add(*a.current, i);
        stats.add(*b.current, i);
    }
    const auto& current = stats.of(QuantityKind::AcCurrent);
    EXPECT_EQ(current.count, 3'000'000);
    EXPECT_EQ(current.sumMilli, 450'000'000);
    EXPECT_EQ(current.mean(), 0.15);
}

} // namespace
