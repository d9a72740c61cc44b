#pragma once

#include "measure/MeterReading.h"
#include "measure/Quantity.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace talviren {

// A reading with its two quantities decoded once, texts and numbers alike.
struct DecodedReading {
    MeterReading raw;
    std::optional<Quantity> current; // none for range codes 6 and above
    std::optional<Quantity> second;  // none for function codes other than 1 to 3
};

// Decodes both quantities; texts use the given decimal separator.
DecodedReading decodeReading(const MeterReading& raw, std::string_view decimalSeparator);

// A live reading and when it arrived.
struct TimedReading : DecodedReading {
    std::int64_t wallMs = 0;   // wall-clock time, milliseconds since 1970 (UTC)
    std::int64_t steadyNs = 0; // steady clock, for intervals that must not jump
};

// Where reading times come from; tests put in a clock of their own.
class ReadingClock {
public:
    virtual ~ReadingClock() = default;
    // Milliseconds since 1970-01-01 UTC.
    virtual std::int64_t wallMs() const = 0;
    // Nanoseconds of a clock that never jumps.
    virtual std::int64_t steadyNs() const = 0;
};

// The system's clocks.
ReadingClock& systemClock();

// Durations on the readings' clock (an alarm's "for", no-reading, the stretches around a
// triggered log) are counted in readings that come on a 500 ms tick, and a real line jitters by
// some milliseconds: a duration that lands on a tick counts as reached within a quarter tick of
// it, so that `for 1s` raises on the reading 1 s after the first whatever the jitter.
inline constexpr std::int64_t kDurationToleranceNs = 125'000'000;

// Whether `elapsedNs` reaches `durationNs`, within the tolerance.
constexpr bool durationReached(std::int64_t elapsedNs, std::int64_t durationNs) {
    return elapsedNs + kDurationToleranceNs >= durationNs;
}

// Whether `elapsedNs` lies within `durationNs`, within the tolerance.
constexpr bool withinDuration(std::int64_t elapsedNs, std::int64_t durationNs) {
    return elapsedNs <= durationNs + kDurationToleranceNs;
}

} // namespace talviren
