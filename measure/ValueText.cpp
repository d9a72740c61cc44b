#include "measure/ValueText.h"

namespace talviren {

std::string integerText(int count) {
    return std::to_string(count);
}

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

std::string withUnit(std::string number, std::string_view unit) {
    number += unit;
    return number;
}

std::string overload(std::string_view unit) {
    return withUnit(std::string(kOverload), unit);
}

} // namespace

std::optional<std::string> currentText(const MeterReading& reading,
                                       std::string_view decimalSeparator) {
    const int count = reading.currentCount;
    switch (reading.currentRange) {
    case 0:
        return withUnit(integerText(count), kUnitMilliAmpere);
    case 1:
        return withUnit(quotientText(count, 100, decimalSeparator), kUnitAmpere);
    case 2:
        return withUnit(quotientText(count, 10, decimalSeparator), kUnitAmpere);
    case 3:
    case 4:
        return withUnit(integerText(count), kUnitAmpere);
    case 5:
        if (count > kCurrentOverloadLimit) {
            return overload(kUnitAmpere);
        }
        return withUnit(integerText(count), kUnitAmpere);
    default:
        return std::nullopt;
    }
}

std::optional<std::string> secondText(const MeterReading& reading,
                                      std::string_view decimalSeparator) {
    const int count = reading.secondCount;
    switch (reading.function) {
    case kAcCurrentAcVoltage:
        if (count > kAcVoltageOverloadLimit) {
            return overload(kUnitVolt);
        }
        return withUnit(quotientText(count, 10, decimalSeparator), kUnitVolt);
    case kAcCurrentDcVoltage: {
        // The overload test comes first: "OLV" never carries a sign.
        if (count > kDcVoltageOverloadLimit) {
            return overload(kUnitVolt);
        }
        std::string text = reading.secondSign == 1 ? "-" : "";
        text += quotientText(count, 10, decimalSeparator);
        return withUnit(std::move(text), kUnitVolt);
    }
    case kAcCurrentResistance:
        if (count > kResistanceOverloadLimit) {
            return overload(kUnitKiloOhm);
        }
        return withUnit(quotientText(count, 1000, decimalSeparator), kUnitKiloOhm);
    default:
        return std::nullopt;
    }
}

std::optional<std::string> currentInBaseUnit(const MeterReading& reading) {
    const int count = reading.currentCount;
    switch (reading.currentRange) {
    case 0:
        return quotientText(count, 1000, ".");
    case 1:
        return quotientText(count, 100, ".");
    case 2:
        return quotientText(count, 10, ".");
    case 3:
    case 4:
        return integerText(count);
    case 5:
        if (count > kCurrentOverloadLimit) {
            return std::nullopt;
        }
        return integerText(count);
    default:
        return std::nullopt;
    }
}

std::optional<std::string> secondInBaseUnit(const MeterReading& reading) {
    const int count = reading.secondCount;
    switch (reading.function) {
    case kAcCurrentAcVoltage:
        if (count > kAcVoltageOverloadLimit) {
            return std::nullopt;
        }
        return quotientText(count, 10, ".");
    case kAcCurrentDcVoltage:
        if (count > kDcVoltageOverloadLimit) {
            return std::nullopt;
        }
        {
            std::string text = reading.secondSign == 1 && count != 0 ? "-" : "";
            text += quotientText(count, 10, ".");
            return text;
        }
    case kAcCurrentResistance:
        if (count > kResistanceOverloadLimit) {
            return std::nullopt;
        }
        return integerText(count); // kilo-ohms in thousandths are ohms
    default:
        return std::nullopt;
    }
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
