#include "measure/ValueText.h"

#include <limits>

namespace talviren {

std::string quotientText(int count, int divisor, std::string_view decimalSeparator) {
    std::string text = std::to_string(count / divisor);
    int fraction = count % divisor;
    if (fraction == 0) {
        return text;
    }
    // Fraction digits with leading zeros kept and trailing zeros dropped.
    std::string digits;
    for (int place = divisor / 10; place > 0; place /= 10) {
        digits += static_cast<char>('0' + (fraction / place) % 10);
    }
    digits.erase(digits.find_last_not_of('0') + 1);
    text += decimalSeparator;
    text += digits;
    return text;
}

namespace {

// How a count reads in one range or function: its divisor on the display and in the base unit
// (amperes, volts, ohms), the display unit, and the count above which it reads "OL".
struct Scale {
    int displayDivisor;
    std::string_view unit;
    int baseDivisor;
    int overloadLimit = std::numeric_limits<int>::max(); // the largest: never overloaded
    bool canBeNegative = false;
};

std::optional<Scale> currentScale(std::uint8_t range) {
    switch (range) {
    case 0:
        return Scale{1, kUnitMilliAmpere, 1000};
    case 1:
        return Scale{100, kUnitAmpere, 100};
    case 2:
        return Scale{10, kUnitAmpere, 10};
    case 3:
    case 4:
        return Scale{1, kUnitAmpere, 1};
    case 5:
        return Scale{1, kUnitAmpere, 1, kCurrentOverloadLimit};
    default:
        return std::nullopt;
    }
}

std::optional<Scale> secondScale(std::uint8_t function) {
    switch (function) {
    case kAcCurrentAcVoltage:
        return Scale{10, kUnitVolt, 10, kAcVoltageOverloadLimit};
    case kAcCurrentDcVoltage:
        return Scale{10, kUnitVolt, 10, kDcVoltageOverloadLimit, true};
    case kAcCurrentResistance:
        // Kilo-ohms in thousandths are ohms.
        return Scale{1000, kUnitKiloOhm, 1, kResistanceOverloadLimit};
    default:
        return std::nullopt;
    }
}

std::string displayText(const Scale& scale, int count, bool negative,
                        std::string_view decimalSeparator) {
    // The overload test comes first: "OLV" never carries a sign.
    if (count > scale.overloadLimit) {
        std::string text(kOverload);
        text += scale.unit;
        return text;
    }
    // The display keeps the sign even on a zero ("-0V"), as the meter program shows it.
    std::string text = negative ? "-" : "";
    text += quotientText(count, scale.displayDivisor, decimalSeparator);
    text += scale.unit;
    return text;
}

std::optional<std::string> baseUnitText(const Scale& scale, int count, bool negative) {
    if (count > scale.overloadLimit) {
        return std::nullopt;
    }
    std::string text = negative && count != 0 ? "-" : "";
    text += quotientText(count, scale.baseDivisor, ".");
    return text;
}

bool secondIsNegative(const Scale& scale, const MeterReading& reading) {
    return scale.canBeNegative && reading.secondSign == 1;
}

} // namespace

std::optional<std::string> currentText(const MeterReading& reading,
                                       std::string_view decimalSeparator) {
    const auto scale = currentScale(reading.currentRange);
    if (!scale) {
        return std::nullopt;
    }
    return displayText(*scale, reading.currentCount, false, decimalSeparator);
}

std::optional<std::string> secondText(const MeterReading& reading,
                                      std::string_view decimalSeparator) {
    const auto scale = secondScale(reading.function);
    if (!scale) {
        return std::nullopt;
    }
    return displayText(*scale, reading.secondCount, secondIsNegative(*scale, reading),
                       decimalSeparator);
}

std::optional<std::string> currentInBaseUnit(const MeterReading& reading) {
    const auto scale = currentScale(reading.currentRange);
    if (!scale) {
        return std::nullopt;
    }
    return baseUnitText(*scale, reading.currentCount, false);
}

std::optional<std::string> secondInBaseUnit(const MeterReading& reading) {
    const auto scale = secondScale(reading.function);
    if (!scale) {
        return std::nullopt;
    }
    return baseUnitText(*scale, reading.secondCount, secondIsNegative(*scale, reading));
}

std::optional<QuantitySymbols> quantitySymbols(std::uint8_t function) {
    switch (function) {
    case kAcCurrentAcVoltage:
        return QuantitySymbols{"AC I", "AC U"};
    case kAcCurrentDcVoltage:
        return QuantitySymbols{"AC I", "DC U"};
    case kAcCurrentResistance:
        return QuantitySymbols{"AC I", "R"};
    default:
        return std::nullopt;
    }
}

std::string quantityCaption(std::string_view symbol) {
    std::string caption(symbol);
    caption += ": ";
    return caption;
}

} // namespace talviren
