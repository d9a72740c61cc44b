#pragma once

#include "log/CsvLogReader.h"
#include "measure/MeterReading.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace talviren::study {

// What one minute of a meter measured (the minute on the clock: every zone's offset from UTC
// is whole minutes, so that the local clock's minutes are UTC's). Integrals are trapezoids over
// the pieces of the minute: two consecutive readings at most 1.25 s apart, both with the value.
struct Minute {
    double currentArea = 0;      // A s
    double apparentArea = 0;     // VA s
    std::int32_t currentMs = 0;  // measured: of the current
    std::int32_t apparentMs = 0; // and of S (AC voltage and current, both in range)
    double maxCurrent = -1;      // the highest current reading in it; below 0: none
    std::uint16_t readings = 0;  // whose time lies in it
    std::uint16_t overloads = 0; // of them over range, in either quantity
};

// One meter's readings taken in, in time order, as minutes: nothing of a reading is kept but
// what it adds to its minute. A piece that crosses a minute's end (or the period's) is split
// there, the value at the boundary taken on the straight line between its two readings. Only
// readings within the period count; the minutes reach from the first reading's minute to the
// last's. Plain C++.
class MeterMinutes : public LogReadingSink {
public:
    // The longest step that is still a piece; a longer one is a gap.
    static constexpr std::int64_t kPieceMs = 1250;

    // Readings from `fromMs` (included) to `toMs` (excluded) count.
    MeterMinutes(std::int64_t fromMs = INT64_MIN, std::int64_t toMs = INT64_MAX)
        : fromMs_(fromMs), toMs_(toMs) {}

    // The next reading (never earlier than the one before).
    void add(std::int64_t wallMs, const MeterReading& reading);
    void reading(std::int64_t wallMs, const MeterReading& reading, std::string_view,
                 std::string_view) override {
        add(wallMs, reading);
    }

    // The minute that began at `minute` × 60 s since 1970; an empty one outside.
    const Minute& at(std::int64_t minute) const {
        static const Minute none;
        const std::int64_t i = minute - firstMinute_;
        return i >= 0 && i < static_cast<std::int64_t>(minutes_.size())
                   ? minutes_[static_cast<std::size_t>(i)]
                   : none;
    }
    bool empty() const { return readings_ == 0; }
    std::int64_t readings() const { return readings_; }
    // The first and the last reading that counted (valid unless empty()).
    std::int64_t firstMs() const { return firstMs_; }
    std::int64_t lastMs() const { return lastMs_; }
    // The longest step between two consecutive readings, and where it began.
    std::int64_t longestGapMs() const { return longestGapMs_; }
    std::int64_t longestGapFromMs() const { return longestGapFromMs_; }
    // The longest gaps (steps over 1.25 s), longest first, ten at most: where and how long.
    struct Gap {
        std::int64_t fromMs = 0, lengthMs = 0;
    };
    const std::vector<Gap>& gaps() const { return gaps_; }

private:
    struct Point {
        std::int64_t ms = 0;
        bool hasCurrent = false, hasApparent = false;
        double current = 0, apparent = 0; // A, VA
    };
    Minute& minute(std::int64_t ms);
    // The piece from a to b, within the period, split at the minute between them.
    void addPiece(const Point& a, const Point& b);
    void addSpan(std::int64_t fromMs, std::int64_t toMs, const Point& a, const Point& b);

    std::int64_t fromMs_, toMs_;
    std::int64_t firstMinute_ = 0;
    std::vector<Minute> minutes_;
    std::int64_t cachedFromMs_ = INT64_MIN / 2; // the minute asked for last
    std::size_t cachedIndex_ = 0;
    std::optional<Point> previous_;
    std::int64_t readings_ = 0;
    std::int64_t firstMs_ = 0, lastMs_ = 0;
    std::int64_t longestGapMs_ = 0, longestGapFromMs_ = 0;
    std::vector<Gap> gaps_;
};

} // namespace talviren::study
