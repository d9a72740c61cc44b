#include "measure/ReadingTexts.h"

#include "measure/ValueText.h"

#include <limits>

namespace talviren {

namespace {

// A number as the display writes it: no leading zeros, at most maxDecimals decimals after "."
// or ",", none of them a trailing zero. Gives count and decimals.
struct DisplayNumber {
    int count;
    int decimals;
};
// Always inline, as digits() is.
[[gnu::always_inline]] inline std::optional<DisplayNumber> displayNumber(std::string_view text,
                                                                         int maxDecimals) {
    // One pass: digits, perhaps a separator and more digits.
    int count = 0;
    std::size_t i = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        count = count * 10 + (text[i++] - '0');
    }
    const std::size_t whole = i;
    // The display writes at most five digits before the separator; more would overflow below.
    if (whole == 0 || whole > 6 || (whole > 1 && text[0] == '0')) {
        return std::nullopt;
    }
    if (i == text.size()) {
        return DisplayNumber{count, 0};
    }
    if (text[i] != '.' && text[i] != ',') {
        return std::nullopt;
    }
    const std::size_t fractionStart = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' &&
           static_cast<int>(i - fractionStart) < maxDecimals) {
        count = count * 10 + (text[i++] - '0');
    }
    const int decimals = static_cast<int>(i - fractionStart);
    if (i != text.size() || decimals == 0 || decimals > maxDecimals || text.back() == '0') {
        return std::nullopt;
    }
    return DisplayNumber{count, decimals};
}

int scaled(const DisplayNumber& n, int decimals) {
    int count = n.count;
    for (int k = n.decimals; k < decimals; ++k) {
        count *= 10;
    }
    return count;
}

bool endsWith(std::string_view text, std::string_view suffix, std::string_view& rest) {
    if (text.size() <= suffix.size() || text.substr(text.size() - suffix.size()) != suffix) {
        return false;
    }
    rest = text.substr(0, text.size() - suffix.size());
    return true;
}

// Decimals the display writes on a scale: as many as its divisor has zeros.
int decimalsOf(const QuantityScale& scale) {
    int decimals = 0;
    for (int divisor = scale.displayDivisor; divisor > 1; divisor /= 10) {
        ++decimals;
    }
    return decimals;
}

// The count (and sign) a text stands for on a scale, read by the rules the display writes it
// by; nothing when the display cannot have written it so.
struct TextCount {
    int count;
    bool negative;
};
// The number of a text, read once however many scales are tried with it.
struct ParsedNumber {
    std::string_view text; // what was read: the text without its unit
    std::optional<DisplayNumber> number;
    bool read = false;
};

[[gnu::always_inline]] inline std::optional<TextCount>
countFromText(std::string_view text, const QuantityScale& scale, ParsedNumber& parsed) {
    std::string_view number;
    if (!endsWith(text, scale.unit, number)) {
        return std::nullopt;
    }
    if (number == kOverload) {
        if (scale.overloadLimit == std::numeric_limits<int>::max()) {
            return std::nullopt; // this scale never reads "OL"
        }
        return TextCount{scale.overloadLimit + 1, false};
    }
    const bool negative = scale.canBeNegative && number.starts_with('-');
    if (negative) {
        number.remove_prefix(1);
    }
    if (!parsed.read || parsed.text != number) {
        parsed = {number, displayNumber(number, 3), true}; // no scale has more decimals
    }
    const int decimals = decimalsOf(scale);
    const auto& n = parsed.number;
    if (!n || n->decimals > decimals) {
        return std::nullopt;
    }
    const int count = scaled(*n, decimals);
    if (count > scale.overloadLimit || count > countFromDigits(255, 255)) {
        return std::nullopt;
    }
    return TextCount{count, negative};
}

// The first range code that has no current (the scale table ends before it).
std::uint8_t noCurrentRange() {
    std::uint8_t range = 0;
    while (currentScale(range)) {
        ++range;
    }
    return range;
}

// Range and count of a current text; false when the display cannot have shown it.
bool currentFromText(std::string_view text, MeterReading& reading) {
    if (text.empty()) {
        reading.currentRange = noCurrentRange();
        return true;
    }
    // The first range that writes the same text will do: its text and value are the same.
    ParsedNumber parsed;
    for (std::uint8_t range = 0; const auto scale = currentScale(range); ++range) {
        if (const auto found = countFromText(text, *scale, parsed)) {
            reading.currentRange = range;
            reading.currentCount = found->count;
            return true;
        }
    }
    return false;
}

// Count and sign of a second text for the function; false when it cannot have been shown.
bool secondFromText(std::string_view text, MeterReading& reading) {
    const auto scale = secondScale(reading.function);
    if (!scale) {
        return text.empty();
    }
    ParsedNumber parsed;
    const auto found = countFromText(text, *scale, parsed);
    if (!found) {
        return false;
    }
    reading.secondCount = found->count;
    reading.secondSign = found->negative ? 1 : 0;
    return true;
}

// A plain number in the base unit ("0.085", "-31") in thousandths; nothing when malformed.
std::optional<std::int64_t> plainMilli(std::string_view text) {
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    const auto n = displayNumber(text, 3);
    if (!n || text.find(',') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::int64_t milli = scaled(*n, 3);
    return negative ? -milli : milli;
}

// The value column agrees with the quantity: its number, or empty on overload or without one.
bool valueAgreesWith(std::string_view value, const std::optional<QuantityCount>& quantity) {
    if (!quantity || quantity->overload) {
        return value.empty();
    }
    const auto milli = plainMilli(value);
    return milli && *milli == quantity->milli();
}

} // namespace

std::optional<MeterReading> readingFromTexts(std::uint8_t function, std::string_view currentText,
                                             std::string_view secondText) {
    MeterReading reading;
    if (!readingFromTexts(function, currentText, secondText, reading)) {
        return std::nullopt;
    }
    return reading;
}

bool readingFromTexts(std::uint8_t function, std::string_view currentText,
                      std::string_view secondText, MeterReading& reading) {
    reading = MeterReading{};
    reading.function = function;
    return currentFromText(currentText, reading) && secondFromText(secondText, reading);
}

bool plainValueAgrees(std::string_view value, const std::optional<QuantityCount>& quantity) {
    return valueAgreesWith(value, quantity);
}

} // namespace talviren
