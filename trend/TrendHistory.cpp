#include "trend/TrendHistory.h"

namespace talviren {

namespace {

std::uint16_t count16(int count) {
    // Counts are 0 to 25755: base-100 digits of two bytes.
    return static_cast<std::uint16_t>(count);
}

} // namespace

void TrendHistory::push(std::int64_t wallMs, const MeterReading& reading, bool breakBefore) {
    TrendPoint point;
    point.wallMs = wallMs;
    point.currentCount = count16(reading.currentCount);
    point.secondCount = count16(reading.secondCount);
    point.function = reading.function;
    point.currentRange = reading.currentRange;
    point.secondSign = reading.secondSign;
    point.breakBefore = breakBefore || breakPending_ || points_.empty();
    breakPending_ = false;
    points_.push_back(point);
}

void TrendHistory::add(const TimedReading& reading) {
    const bool gap = !points_.empty() && reading.steadyNs - lastSteadyNs_ > kGapMs * 1'000'000;
    lastSteadyNs_ = reading.steadyNs;
    push(reading.wallMs, reading.raw, gap);
}

void TrendHistory::add(std::int64_t wallMs, const MeterReading& reading) {
    const bool gap = !points_.empty() && wallMs - points_.back().wallMs > kGapMs;
    push(wallMs, reading, gap);
}

void TrendHistory::clear() {
    points_.clear();
    breakPending_ = true;
}

} // namespace talviren
