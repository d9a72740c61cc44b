#pragma once

#include "measure/MeterReading.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace talviren {

// Power is counted in ten-thousandths of a volt-ampere: the current's count over 1 to 1000
// times the voltage's count over 10 is a whole number of them, so S is exact as an integer.
inline constexpr std::int64_t kPowerUnitsPerVA = 10'000;

// The apparent power S = U × I of one reading: both quantities come from the same reply, so
// the product is exact, not interpolated.
struct ApparentPower {
    enum State : std::uint8_t {
        Value,    // AC voltage and current, both in range
        Overload, // AC voltage, but one of the two over range
        None,     // the second quantity is no AC voltage (or the reading is not understood)
    };
    State state = None;
    std::int64_t units = 0; // in ten-thousandths of a VA, when there is a value

    bool hasValue() const { return state == Value; }
    // In VA: the nearest double to the exact product (units stay below 2^53).
    double va() const { return static_cast<double>(units) / kPowerUnitsPerVA; }
};

// S of a reading, decoded by the same scale table as its texts.
ApparentPower apparentPower(const MeterReading& reading);

// `value / 10^decimals` as its exact shortest decimal text with "." ("2854.242", "0", "19.5585").
std::string decimalText(std::int64_t value, int decimals);

// S as a plain number in VA with "." ("2854.242"), exact.
inline std::string apparentPowerNumber(std::int64_t units) {
    return decimalText(units, 4);
}

// The nearest double to an exact decimal text (as the JSON and the workbook want it).
double decimalValue(std::string_view text);

} // namespace talviren
