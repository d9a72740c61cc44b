#pragma once

#include "measure/MeterReading.h"
#include "measure/Quantity.h"

#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace talviren {

// Units and overload texts exactly as the meter program shows them (UTF-8).
inline constexpr std::string_view kUnitMilliAmpere = "mA";
inline constexpr std::string_view kUnitAmpere = "A";
inline constexpr std::string_view kUnitVolt = "V";
inline constexpr std::string_view kUnitKiloOhm = "k\u03A9"; // Greek capital omega, not the ohm sign
inline constexpr std::string_view kUnitOhm = "\u03A9";
inline constexpr std::string_view kOverload = "OL";

// Overload limits: a count above the limit reads "OL"; the limit itself is a number.
inline constexpr int kCurrentOverloadLimit = 10000; // range 5 only
inline constexpr int kAcVoltageOverloadLimit = 7500;
inline constexpr int kDcVoltageOverloadLimit = 10000;
inline constexpr int kResistanceOverloadLimit = 2000;

// How a count reads in one range (the current) or one function (the second quantity): its
// divisor on the display and in the base unit (A, V, Ω), the display unit, and the count above
// which it reads "OL". The one table behind the texts, the numbers and the log's reader.
struct QuantityScale {
    QuantityKind kind;
    int displayDivisor;
    std::string_view unit;
    int baseDivisor;
    int overloadLimit = std::numeric_limits<int>::max(); // the largest: never overloaded
    bool canBeNegative = false;                          // the sign byte can make it negative
};

// The scale of the current in a range; nothing for range codes 6 and above. Inline, as are the
// numbers below: they are asked for several times a reading, and a call returning its
// optional through memory costs more than the switch.
inline std::optional<QuantityScale> currentScale(std::uint8_t range) {
    constexpr QuantityKind kind = QuantityKind::AcCurrent;
    switch (range) {
    case 0:
        return QuantityScale{kind, 1, kUnitMilliAmpere, 1000};
    case 1:
        return QuantityScale{kind, 100, kUnitAmpere, 100};
    case 2:
        return QuantityScale{kind, 10, kUnitAmpere, 10};
    case 3:
    case 4:
        return QuantityScale{kind, 1, kUnitAmpere, 1};
    case 5:
        return QuantityScale{kind, 1, kUnitAmpere, 1, kCurrentOverloadLimit};
    default:
        return std::nullopt;
    }
}

// The scale of the second quantity of a function; nothing for codes other than 1 to 3.
inline std::optional<QuantityScale> secondScale(std::uint8_t function) {
    switch (function) {
    case kAcCurrentAcVoltage:
        return QuantityScale{QuantityKind::AcVoltage, 10, kUnitVolt, 10, kAcVoltageOverloadLimit};
    case kAcCurrentDcVoltage:
        return QuantityScale{QuantityKind::DcVoltage, 10,  kUnitVolt, 10,
                             kDcVoltageOverloadLimit, true};
    case kAcCurrentResistance:
        // Kilo-ohms in thousandths are ohms.
        return QuantityScale{QuantityKind::Resistance, 1000, kUnitKiloOhm, 1,
                             kResistanceOverloadLimit};
    default:
        return std::nullopt;
    }
}

// A count on a scale as a number: its kind, divisor, overload and sign.
inline QuantityCount scaledCount(const QuantityScale& scale, int count, bool negative) {
    QuantityCount q;
    q.kind = scale.kind;
    q.divisor = scale.baseDivisor;
    // The overload test comes first: "OLV" never carries a sign.
    q.overload = count > scale.overloadLimit;
    q.count = negative && !q.overload ? -count : count;
    return q;
}

// count / divisor (1, 10, 100 or 1000) as its exact shortest decimal text, computed on integers
// so that no binary rounding can creep in: "12.34", "12", "0.05".
std::string quotientText(int count, int divisor, std::string_view decimalSeparator);

// A mean in the unit the window shows its kind in, to one decimal more than the display's finest
// step: "12.3456A", "231.27V", "1.2280kΩ".
std::string meanText(QuantityKind kind, double mean, std::string_view decimalSeparator);

// The current by its range code, as text and number; nothing for range codes 6 and above.
std::optional<Quantity> currentQuantity(const MeterReading& reading,
                                        std::string_view decimalSeparator);

// The second quantity by the function code; nothing for codes other than 1 to 3.
std::optional<Quantity> secondQuantity(const MeterReading& reading,
                                       std::string_view decimalSeparator);

// The current as a count alone, without its text: for long histories.
inline std::optional<QuantityCount> currentNumber(const MeterReading& reading) {
    const auto scale = currentScale(reading.currentRange);
    if (!scale) {
        return std::nullopt;
    }
    return scaledCount(*scale, reading.currentCount, false);
}

// The second quantity as a count alone.
inline std::optional<QuantityCount> secondNumber(const MeterReading& reading) {
    const auto scale = secondScale(reading.function);
    if (!scale) {
        return std::nullopt;
    }
    return scaledCount(*scale, reading.secondCount,
                       scale->canBeNegative && reading.secondSign == 1);
}

// The kind of the second quantity of a function code; nothing for codes other than 1 to 3.
std::optional<QuantityKind> secondKind(std::uint8_t function);

// The two quantity symbols of a function code.
struct QuantitySymbols {
    std::string_view current;
    std::string_view second;
};

// "AC I" with "AC U", "DC U" or "R"; nothing for codes other than 1 to 3.
std::optional<QuantitySymbols> quantitySymbols(std::uint8_t function);

} // namespace talviren
