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
    point.breakBefore = breakBefore || breakPending_ || size_ == 0;
    breakPending_ = false;
    constexpr std::size_t chunk = std::size_t(1) << kChunkBits;
    if (size_ % chunk == 0 && size_ / chunk == chunks_.size()) {
        chunks_.push_back(std::make_unique_for_overwrite<TrendPoint[]>(chunk));
    }
    chunks_[size_ >> kChunkBits][size_ & (chunk - 1)] = point;
    ++size_;
}

void TrendHistory::add(const TimedReading& reading) {
    const bool gap = size_ > 0 && reading.steadyNs - lastSteadyNs_ > kGapMs * 1'000'000;
    lastSteadyNs_ = reading.steadyNs;
    push(reading.wallMs, reading.raw, gap);
}

void TrendHistory::add(std::int64_t wallMs, const MeterReading& reading) {
    const bool gap = size_ > 0 && wallMs - back().wallMs > kGapMs;
    push(wallMs, reading, gap);
}

void TrendHistory::clear() {
    chunks_.clear();
    size_ = 0;
    breakPending_ = true;
}

} // namespace talviren
