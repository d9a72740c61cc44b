#pragma once

#include "measure/MeterReading.h"
#include "measure/Reading.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace talviren {

// One reading of the history in 16 bytes: a week at 2 Hz (1,209,600 readings) takes 19 MB.
struct TrendPoint {
    std::int64_t wallMs = 0;
    std::uint16_t currentCount = 0;
    std::uint16_t secondCount = 0;
    std::uint8_t function = 0;
    std::uint8_t currentRange = 0;
    std::uint8_t secondSign = 0;
    bool breakBefore = false; // no line joins this reading to the one before

    MeterReading reading() const {
        return {function, currentCount, currentRange, secondCount, secondSign};
    }
};

// Every reading of a run (or of an opened log) in arrival order, kept as the meter's own
// counts: numbers and texts are decoded from them on demand by the one scale table. Stored in
// chunks that never move, so that growing costs no copy and no second allocation of the whole.
//
// Each reading keeps its true wall-clock time. The chart reads a key instead, which never runs
// backwards: the wall-clock time, but when the clock is set back (NTP on a small computer after
// boot), the line breaks and the readings after the step go on from where the time axis stood,
// shifted by the step, until the clock is set forward past them again.
class TrendHistory {
public:
    // A pause longer than two 500 ms ticks breaks the line (with some room for jitter).
    static constexpr std::int64_t kGapMs = 1250;
    // A wall clock that moves this much more or less than the steady clock was set.
    static constexpr std::int64_t kStepMs = 1000;
    static constexpr unsigned kChunkBits = 16; // 65,536 readings (1 MiB) to a chunk

    // A live reading: its steady time decides whether it follows the one before, and whether
    // the wall clock was set meanwhile.
    void add(const TimedReading& reading);
    // A reading from a log: its wall-clock time decides.
    void add(std::int64_t wallMs, const MeterReading& reading);
    // The next reading starts a new line (the link was lost).
    void markBreak() { breakPending_ = true; }
    // From now on only the newest reading is kept (size() at most 1), with its key and break
    // worked out from all before: for a run that draws no chart.
    void keepLatestOnly() {
        latestOnly_ = true;
        if (size_ > 0) {
            latest_ = back();
            const std::int64_t shift = currentShift();
            chunks_.clear();
            shifts_.clear();
            if (shift != 0) {
                shifts_.push_back({0, shift});
            }
            size_ = 1;
        }
    }

    // Readings kept; every reading ever added, and the key of the first of them.
    std::size_t size() const { return size_; }
    std::uint64_t added() const { return added_; }
    std::int64_t firstKeyMs() const { return firstKeyMs_; }
    bool empty() const { return size_ == 0; }
    const TrendPoint& operator[](std::size_t i) const {
        if (latestOnly_) {
            return latest_;
        }
        return chunks_[i >> kChunkBits][i & ((std::size_t(1) << kChunkBits) - 1)];
    }
    const TrendPoint& back() const { return (*this)[size_ - 1]; }
    // The chart's time of reading i, in milliseconds: never less than that of the one before.
    std::int64_t keyMs(std::size_t i) const {
        return shifts_.empty() ? (*this)[i].wallMs : (*this)[i].wallMs + shiftOf(i);
    }

private:
    // From reading `first` on, keys are the wall-clock time plus `ms`.
    struct Shift {
        std::size_t first;
        std::int64_t ms;
    };

    void push(std::int64_t wallMs, const MeterReading& reading, bool breakBefore,
              std::int64_t shiftMs);
    std::int64_t shiftOf(std::size_t i) const;
    // The shift of the readings added last.
    std::int64_t currentShift() const { return shifts_.empty() ? 0 : shifts_.back().ms; }

    std::vector<std::unique_ptr<TrendPoint[]>> chunks_;
    std::size_t size_ = 0;
    std::int64_t lastSteadyNs_ = 0;
    std::int64_t lastKeyMs_ = 0;
    std::vector<Shift> shifts_; // rare: only where the clock was set back
    bool breakPending_ = true;
    bool latestOnly_ = false;
    TrendPoint latest_;
    std::uint64_t added_ = 0;
    std::int64_t firstKeyMs_ = 0;
};

static_assert(sizeof(TrendPoint) == 16);

} // namespace talviren
