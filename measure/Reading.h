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

} // namespace talviren
