#include "measure/ValueText.h"

#include <cstdio>
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

Quantity quantity(const QuantityScale& scale, int count, bool negative,
                  std::string_view decimalSeparator) {
    const QuantityCount c = scaledCount(scale, count, negative);
    std::string text;
    if (c.overload) {
        text = std::string(kOverload) + std::string(scale.unit);
    } else {
        // The display keeps the sign even on a zero ("-0V"), as the meter program shows it.
        if (negative) {
            text = '-';
        }
        text += quotientText(count, scale.displayDivisor, decimalSeparator);
        text += scale.unit;
    }
    return quantityWithText(c, std::move(text));
}

std::optional<QuantityScale> secondScaleOf(const MeterReading& reading, bool& negative) {
    const auto scale = secondScale(reading.function);
    negative = scale && scale->canBeNegative && reading.secondSign == 1;
    return scale;
}

} // namespace

std::optional<Quantity> currentQuantity(const MeterReading& reading,
                                        std::string_view decimalSeparator) {
    const auto scale = currentScale(reading.currentRange);
    if (!scale) {
        return std::nullopt;
    }
    return quantity(*scale, reading.currentCount, false, decimalSeparator);
}

std::optional<Quantity> secondQuantity(const MeterReading& reading,
                                       std::string_view decimalSeparator) {
    bool negative = false;
    const auto scale = secondScaleOf(reading, negative);
    if (!scale) {
        return std::nullopt;
    }
    return quantity(*scale, reading.secondCount, negative, decimalSeparator);
}

std::optional<QuantityKind> secondKind(std::uint8_t function) {
    const auto scale = secondScale(function);
    return scale ? std::optional<QuantityKind>(scale->kind) : std::nullopt;
}

std::optional<QuantitySymbols> quantitySymbols(std::uint8_t function) {
    const auto kind = secondKind(function);
    if (!kind) {
        return std::nullopt;
    }
    return QuantitySymbols{quantityKindInfo(QuantityKind::AcCurrent).symbol,
                           quantityKindInfo(*kind).symbol};
}

std::string meanText(QuantityKind kind, double mean, std::string_view decimalSeparator) {
    const QuantityKindInfo& info = quantityKindInfo(kind);
    const int decimals =
        kind == QuantityKind::AcCurrent || kind == QuantityKind::Resistance ? 4 : 2;
    char number[64];
    std::snprintf(number, sizeof number, "%.*f", decimals, mean / info.basePerShown);
    std::string text = number;
    if (const auto point = text.find('.'); point != std::string::npos) {
        text.replace(point, 1, decimalSeparator);
    }
    return text.append(info.shownUnit);
}

} // namespace talviren
