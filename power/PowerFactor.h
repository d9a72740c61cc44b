#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talviren {

// The power factor the user gives for a circuit, in millionths: the meter cannot see the phase
// between current and voltage, so real power is an estimate P = S × PF. Without one there is
// no real power at all: 1 is never assumed.
struct PowerFactor {
    std::int32_t ppm = 1'000'000; // 1 to 1,000,000

    double value() const { return static_cast<double>(ppm) / 1e6; }
    // As the user wrote it, shortest: "0.95", "1".
    std::string text() const;
    // "P (PF 0.95)": how real power is labelled wherever it appears.
    std::string label() const { return "P (PF " + text() + ")"; }

    friend bool operator==(const PowerFactor&, const PowerFactor&) = default;
};

// A power factor from text: a plain decimal above 0 and at most 1, with "." or "," and at
// most six decimals ("0.95", ",8", "1"); nothing for anything else.
std::optional<PowerFactor> parsePowerFactor(std::string_view text);

// Why `given` is refused, after the name of the field or option that took it:
// "takes a power factor above 0 and at most 1 (0 < PF ≤ 1), such as 0.95, not '1.5'".
std::string powerFactorRefusal(std::string_view given);

// P = S × PF in ten-billionths of a watt, exact, from S in ten-thousandths of a VA.
inline std::int64_t realPowerTenBillionths(std::int64_t apparentUnits, PowerFactor pf) {
    return apparentUnits * pf.ppm;
}
// P as a plain number in W with "." ("2711.5299"), exact.
std::string realPowerNumber(std::int64_t apparentUnits, PowerFactor pf);
// P from ten-billionths of a watt to the nearest milliwatt, with "." ("2711.53"): where P
// must fit a column or a tile.
std::string realPowerMilliwatts(std::int64_t tenBillionths);

} // namespace talviren
