#include "trend/TrendHistory.h"

#include <algorithm>

namespace talviren {

namespace {

std::uint16_t count16(int count) {
    // Counts are 0 to 25755: base-100 digits of two bytes.
    return static_cast<std::uint16_t>(count);
}

} // namespace

void TrendHistory::push(std::int64_t wallMs, const MeterReading& reading, bool breakBefore,
                        std::int64_t shiftMs) {
    TrendPoint point;
    point.wallMs = wallMs;
    point.currentCount = count16(reading.currentCount);
    point.secondCount = count16(reading.secondCount);
    point.function = reading.function;
    point.currentRange = reading.currentRange;
    point.secondSign = reading.secondSign;
    point.breakBefore = breakBefore || breakPending_ || added_ == 0;
    breakPending_ = false;
    if (added_ == 0) {
        firstKeyMs_ = wallMs + shiftMs;
    }
    ++added_;
    lastKeyMs_ = wallMs + shiftMs;
    if (latestOnly_) {
        latest_ = point;
        shifts_.clear();
        if (shiftMs != 0) {
            shifts_.push_back({0, shiftMs});
        }
        size_ = 1;
        return;
    }
    if (shiftMs != currentShift()) {
        shifts_.push_back({size_, shiftMs});
    }
    constexpr std::size_t chunk = std::size_t(1) << kChunkBits;
    if (size_ % chunk == 0 && size_ / chunk == chunks_.size()) {
        chunks_.push_back(std::make_unique_for_overwrite<TrendPoint[]>(chunk));
    }
    chunks_[size_ >> kChunkBits][size_ & (chunk - 1)] = point;
    ++size_;
}

std::int64_t TrendHistory::shiftOf(std::size_t i) const {
    const auto after = std::upper_bound(shifts_.begin(), shifts_.end(), i,
                                        [](std::size_t n, const Shift& s) { return n < s.first; });
    return after == shifts_.begin() ? 0 : std::prev(after)->ms;
}

void TrendHistory::add(const TimedReading& reading) {
    if (added_ == 0) {
        lastSteadyNs_ = reading.steadyNs;
        push(reading.wallMs, reading.raw, true, 0);
        return;
    }
    const std::int64_t elapsedMs = (reading.steadyNs - lastSteadyNs_) / 1'000'000;
    lastSteadyNs_ = reading.steadyNs;
    const std::int64_t expected = lastKeyMs_ + elapsedMs;
    const std::int64_t shift = currentShift();
    const auto near = [expected](std::int64_t key) {
        return key >= expected - kStepMs && key <= expected + kStepMs;
    };
    const bool gap = elapsedMs > kGapMs;
    if (reading.wallMs >= lastKeyMs_ && near(reading.wallMs)) {
        push(reading.wallMs, reading.raw, gap, 0); // the clock as it should be
    } else if (near(reading.wallMs + shift)) {
        push(reading.wallMs, reading.raw, gap, shift); // on, as shifted before
    } else if (reading.wallMs >= lastKeyMs_) {
        push(reading.wallMs, reading.raw, true, 0); // set forward: a gap in the chart
    } else {
        // Set back: the line breaks, and the readings go on from where the time axis stood.
        push(reading.wallMs, reading.raw, true, expected - reading.wallMs);
    }
}

void TrendHistory::add(std::int64_t wallMs, const MeterReading& reading) {
    if (added_ == 0) {
        push(wallMs, reading, true, 0);
        return;
    }
    const std::int64_t shift = currentShift();
    if (wallMs >= lastKeyMs_) {
        push(wallMs, reading, wallMs - lastKeyMs_ > kGapMs, 0);
    } else if (wallMs + shift >= lastKeyMs_) {
        push(wallMs, reading, wallMs + shift - lastKeyMs_ > kGapMs, shift);
    } else {
        // The log's clock was set back: a new line from where the last one ended.
        push(wallMs, reading, true, lastKeyMs_ - wallMs);
    }
}

} // namespace talviren
