#include "measure/ValueText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

using namespace talviren;

namespace {

// The texts alone, as the window shows them.
std::optional<std::string> currentText(const MeterReading& reading, std::string_view separator) {
    const auto q = currentQuantity(reading, separator);
    return q ? std::optional<std::string>(q->text) : std::nullopt;
}
std::optional<std::string> secondText(const MeterReading& reading, std::string_view separator) {
    const auto q = secondQuantity(reading, separator);
    return q ? std::optional<std::string>(q->text) : std::nullopt;
}

using Bytes = std::vector<std::uint8_t>;

MeterReading reading(std::uint8_t function, int current, std::uint8_t range, int second,
                     std::uint8_t sign = 0) {
    return {function, current, range, second, sign};
}

struct TextCase {
    MeterReading reading;
    const char* current; // nullptr: not written
    const char* second;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << "function " << int(c.reading.function) << " range " << int(c.reading.currentRange)
        << " counts " << c.reading.currentCount << "/" << c.reading.secondCount;
}

class ReadingTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(ReadingTexts, MatchTheDisplayRules) {
    const TextCase& c = GetParam();
    const auto current = currentText(c.reading, ".");
    const auto second = secondText(c.reading, ".");
    if (c.current) {
        ASSERT_TRUE(current.has_value());
        EXPECT_EQ(*current, c.current);
    } else {
        EXPECT_FALSE(current.has_value());
    }
    if (c.second) {
        ASSERT_TRUE(second.has_value());
        EXPECT_EQ(*second, c.second);
    } else {
        EXPECT_FALSE(second.has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(AllRangesFunctionsAndLimits, ReadingTexts,
                         ::testing::Values(
                             // range 0: milliamperes, no overload test
                             TextCase{reading(1, 0, 0, 0), "0mA", "0V"},
                             TextCase{reading(1, 25755, 0, 2313), "25755mA", "231.3V"},
                             // range 1: hundredths
                             TextCase{reading(1, 1200, 1, 7500), "12A", "750V"},
                             TextCase{reading(1, 1230, 1, 7501), "12.3A", "OLV"},
                             TextCase{reading(1, 1234, 1, 1), "12.34A", "0.1V"},
                             TextCase{reading(1, 5, 1, 10), "0.05A", "1V"},
                             TextCase{reading(1, 0, 1, 25755), "0A", "OLV"},
                             // range 2: tenths
                             TextCase{reading(3, 144, 2, 1228), "14.4A", "1.228k\u03A9"},
                             TextCase{reading(3, 10, 2, 2000), "1A", "2k\u03A9"},
                             TextCase{reading(3, 1, 2, 2001), "0.1A", "OLk\u03A9"},
                             TextCase{reading(3, 0, 2, 1), "0A", "0.001k\u03A9"},
                             TextCase{reading(3, 0, 2, 1500), "0A", "1.5k\u03A9"},
                             TextCase{reading(3, 0, 2, 10), "0A", "0.01k\u03A9"},
                             // ranges 3 and 4: whole amperes, no overload test
                             TextCase{reading(2, 10001, 3, 310, 1), "10001A", "-31V"},
                             TextCase{reading(2, 25755, 4, 10000, 1), "25755A", "-1000V"},
                             // range 5: overload above 10000, sign ignored on overload
                             TextCase{reading(2, 10000, 5, 10001, 1), "10000A", "OLV"},
                             TextCase{reading(2, 10001, 5, 0, 1), "OLA", "-0V"},
                             TextCase{reading(2, 5, 5, 125, 2), "5A", "12.5V"},
                             TextCase{reading(2, 5, 5, 125, 0), "5A", "12.5V"},
                             // range codes 6 and above, function codes outside 1 to 3
                             TextCase{reading(1, 100, 6, 100), nullptr, "10V"},
                             TextCase{reading(1, 100, 255, 100), nullptr, "10V"},
                             TextCase{reading(0, 85, 0, 100), "85mA", nullptr},
                             TextCase{reading(4, 85, 0, 100), "85mA", nullptr},
                             TextCase{reading(255, 85, 0, 100), "85mA", nullptr}));

TEST(QuotientText, IsExactForEveryCountAndDivisor) {
    // Every count the meter can send, against a decimal text made independently.
    for (int divisor : {10, 100, 1000}) {
        for (int count = 0; count <= 25755; ++count) {
            char expected[32];
            std::snprintf(expected, sizeof expected, "%.*f",
                          divisor == 10    ? 1
                          : divisor == 100 ? 2
                                           : 3,
                          count / static_cast<double>(divisor));
            std::string trimmed = expected;
            trimmed.erase(trimmed.find_last_not_of('0') + 1);
            if (trimmed.back() == '.') {
                trimmed.pop_back();
            }
            ASSERT_EQ(quotientText(count, divisor, "."), trimmed) << count << " / " << divisor;
        }
    }
}

// The number a display text shows, read independently of the decoder and moved into the base
// unit by its unit's power of ten (strtod rounds once, as the decoder's division does).
std::optional<double> textInBaseUnit(std::string text, int extraExponent = 0) {
    const std::pair<const char*, int> units[] = {{"mA", -3}, {"k\u03A9", 3}, {"A", 0}, {"V", 0}};
    for (const auto& [unit, exponent] : units) {
        const std::string suffix = unit;
        if (text.size() > suffix.size() && text.ends_with(suffix)) {
            text.resize(text.size() - suffix.size());
            if (text == "OL") {
                return std::nullopt;
            }
            return std::strtod((text + "e" + std::to_string(exponent + extraExponent)).c_str(),
                               nullptr);
        }
    }
    ADD_FAILURE() << "no unit in " << text;
    return std::nullopt;
}

TEST(Quantities, NumbersAreTheDisplayTextsInTheBaseUnitForEveryRangeAndFunction) {
    const QuantityKind secondKinds[] = {QuantityKind::AcVoltage, QuantityKind::DcVoltage,
                                        QuantityKind::Resistance};
    for (int function = 0; function <= 4; ++function) {
        for (int range = 0; range <= 6; ++range) {
            for (int count = 0; count <= 25755; count += (count < 200 ? 1 : 37)) {
                for (std::uint8_t sign : {0, 1}) {
                    const MeterReading r = reading(static_cast<std::uint8_t>(function), count,
                                                   static_cast<std::uint8_t>(range), count, sign);
                    const auto current = currentQuantity(r, ".");
                    const auto second = secondQuantity(r, ".");
                    ASSERT_EQ(current.has_value(), range <= 5);
                    ASSERT_EQ(second.has_value(), function >= 1 && function <= 3);
                    for (const auto& q : {current, second}) {
                        if (!q) {
                            continue;
                        }
                        const auto expected = textInBaseUnit(q->text);
                        ASSERT_EQ(q->overload, !expected) << q->text;
                        if (expected) {
                            ASSERT_EQ(q->value(), *expected) << q->text;
                            ASSERT_EQ(static_cast<double>(q->milli()), *textInBaseUnit(q->text, 3))
                                << q->text;
                        } else {
                            ASSERT_TRUE(std::isnan(q->value())) << q->text;
                        }
                    }
                    if (current) {
                        ASSERT_EQ(current->kind, QuantityKind::AcCurrent);
                        ASSERT_EQ(current->symbol(), "AC I");
                        ASSERT_EQ(current->text, currentText(r, ".").value());
                    }
                    if (second) {
                        ASSERT_EQ(second->kind, secondKinds[function - 1]);
                        ASSERT_EQ(second->symbol(), quantitySymbols(r.function)->second);
                        ASSERT_EQ(second->text, secondText(r, ".").value());
                    }
                }
            }
        }
    }
}

TEST(Quantities, PlainNumbersInAmperesVoltsAndOhms) {
    struct Case {
        MeterReading reading;
        const char* current; // nullptr: no quantity
        const char* second;
    };
    const Case cases[] = {
        {reading(1, 85, 0, 2313), "0.085", "231.3"},
        {reading(1, 1234, 1, 7501), "12.34", ""},
        {reading(2, 144, 2, 310, 1), "14.4", "-31"},
        {reading(2, 0, 3, 0, 1), "0", "0"}, // "-0V" is shown, but the number has no sign
        {reading(2, 7, 4, 10001, 1), "7", ""},
        {reading(3, 10000, 5, 1228), "10000", "1228"},
        {reading(3, 10001, 5, 2001), "", ""},
        {reading(4, 5, 6, 5), nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const auto current = currentQuantity(c.reading, ",");
        const auto second = secondQuantity(c.reading, ",");
        EXPECT_EQ(current ? plainNumber(*current) : "none", c.current ? c.current : "none");
        EXPECT_EQ(second ? plainNumber(*second) : "none", c.second ? c.second : "none");
    }
    EXPECT_EQ(secondQuantity(reading(2, 0, 3, 0, 1), ".")->text, "-0V");
    EXPECT_FALSE(std::signbit(secondQuantity(reading(2, 0, 3, 0, 1), ".")->value()));
}

TEST(QuotientText, UsesTheGivenSeparator) {
    EXPECT_EQ(quotientText(1234, 100, ","), "12,34");
    EXPECT_EQ(quotientText(1200, 100, ","), "12");
    EXPECT_EQ(currentText(reading(1, 5, 1, 0), ",").value(), "0,05A");
    EXPECT_EQ(secondText(reading(3, 0, 0, 1228), ",").value(), "1,228k\u03A9");
}

TEST(ValueText, KiloOhmIsGreekCapitalOmegaInUtf8) {
    EXPECT_EQ(std::string(kUnitKiloOhm), std::string("k\xCE\xA9"));
}

TEST(MeterReadingBytes, LowPartsAboveNinetyNineAddUnchecked) {
    const Bytes bytes = {1, 1, 150, 0, 0, 150, 0};
    const auto r = MeterReading::fromBytes(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->currentCount, 250);
    EXPECT_EQ(r->secondCount, 150);
    EXPECT_EQ(currentText(*r, ".").value(), "250mA");
    const Bytes maximum = {1, 255, 255, 0, 255, 255, 0};
    EXPECT_EQ(MeterReading::fromBytes(maximum)->currentCount, 25755);
}

TEST(MeterReadingBytes, ShortBlockGivesNoReading) {
    const Bytes six = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(MeterReading::fromBytes(six));
    EXPECT_FALSE(MeterReading::fromBytes({}));
}

} // namespace
