#include "power/ApparentPower.h"

#include "measure/ValueText.h"

#include <charconv>

namespace talviren {

ApparentPower apparentPower(const MeterReading& reading) {
    const auto second = secondNumber(reading);
    if (!second || second->kind != QuantityKind::AcVoltage) {
        return {};
    }
    const auto current = currentNumber(reading);
    if (!current) {
        return {};
    }
    if (current->overload || second->overload) {
        return {ApparentPower::Overload, 0};
    }
    // Divisors are powers of ten whose product divides 10^4 (mA: 1000, AC V: 10).
    const std::int64_t scale =
        kPowerUnitsPerVA / (std::int64_t{current->divisor} * second->divisor);
    return {ApparentPower::Value, std::int64_t{current->count} * second->count * scale};
}

std::string decimalText(std::int64_t value, int decimals) {
    const bool negative = value < 0;
    // Digits of the magnitude, least significant first, without overflow at the minimum.
    std::string digits;
    std::uint64_t magnitude =
        negative ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
    do {
        digits += static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    while (static_cast<int>(digits.size()) <= decimals) {
        digits += '0';
    }
    // Trailing zeros of the fraction go.
    int keep = decimals;
    std::size_t lowest = 0;
    while (keep > 0 && digits[lowest] == '0') {
        ++lowest;
        --keep;
    }
    std::string text = negative && value != 0 ? "-" : "";
    for (std::size_t i = digits.size(); i-- > static_cast<std::size_t>(decimals);) {
        text += digits[i];
    }
    if (keep > 0) {
        text += '.';
        for (std::size_t i = static_cast<std::size_t>(decimals); i-- > lowest;) {
            text += digits[i];
        }
    }
    return text;
}

double decimalValue(std::string_view text) {
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

} // namespace talviren
