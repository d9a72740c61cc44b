#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace talviren {

// The four quantities the meter measures.
enum class QuantityKind : std::uint8_t {
    AcCurrent = 0,
    AcVoltage = 1,
    DcVoltage = 2,
    Resistance = 3,
};

// Number of quantity kinds, for tables indexed by kind.
inline constexpr std::size_t kQuantityKindCount = 4;

// What stays the same for every quantity of a kind.
struct QuantityKindInfo {
    std::string_view symbol;    // "AC I", "AC U", "DC U", "R"
    std::string_view baseUnit;  // "A", "V", "Ω": the unit of Quantity::value
    std::string_view key;       // "ac_current", ...: a name for files and topics
    std::string_view shownUnit; // the unit the window shows the kind in: "A", "V", "kΩ"
    int basePerShown;           // base units in one shown unit: 1, or 1000 for kΩ
};

// The fixed facts of a kind.
const QuantityKindInfo& quantityKindInfo(QuantityKind kind);

// All kinds in the window's order: current, AC voltage, DC voltage, resistance.
inline constexpr QuantityKind kAllQuantityKinds[kQuantityKindCount] = {
    QuantityKind::AcCurrent, QuantityKind::AcVoltage, QuantityKind::DcVoltage,
    QuantityKind::Resistance};

// A quantity as the meter's count alone, with nothing to allocate: for long histories.
struct QuantityCount {
    QuantityKind kind = QuantityKind::AcCurrent;
    bool overload = false; // beyond the range: the text reads "OL", the value is NaN
    int count = 0;         // the meter's count, negative for a negative DC voltage
    int divisor = 1;       // count / divisor is the value in the base unit (1, 10, 100, 1000)

    // In A, V or Ω; NaN on overload. Both operands are exact and IEEE division rounds once:
    // the nearest double to the decimal the display shows. A negative zero is kept out.
    double value() const {
        if (overload) {
            return std::numeric_limits<double>::quiet_NaN();
        }
        return count == 0 ? 0.0 : static_cast<double>(count) / divisor;
    }
    // In thousandths of the base unit, as an exact integer (for sums without drift).
    std::int64_t milli() const { return static_cast<std::int64_t>(count) * (1000 / divisor); }
};

// One quantity of a reading: as a number, and as the text the window shows.
struct Quantity : QuantityCount {
    std::string text; // "12.34A", "-31V", "1.228kΩ", "OLV"

    // "AC I", ...
    std::string_view symbol() const { return quantityKindInfo(kind).symbol; }
    // "A", "V" or "Ω".
    std::string_view unit() const { return quantityKindInfo(kind).baseUnit; }
};

// The quantity of a count with a text given (as a log holds it).
Quantity quantityWithText(const QuantityCount& count, std::string text);

// The value as a plain number in the base unit with "." as separator ("0.085", "-31", "1228");
// empty on overload.
std::string plainNumber(const Quantity& quantity);

} // namespace talviren
