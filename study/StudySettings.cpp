#include "study/StudySettings.h"

#include "measure/Trimmed.h"
#include "time/LocalTime.h"

#include <charconv>
#include <cmath>

namespace talviren::study {

namespace {

// A plain decimal number ("12", "12.5"), nothing else; none for anything else.
std::optional<double> plainNumber(std::string_view text) {
    if (text.empty() || text.front() == '+' || text.front() == '-') {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<int> parseInterval(std::string_view text) {
    text = trimmed(text);
    for (const auto& [name, seconds] : {std::pair{"1m", 60},
                                        {"5m", 300},
                                        {"10m", 600},
                                        {"15m", 900},
                                        {"30m", 1800},
                                        {"1h", 3600},
                                        {"60m", 3600}}) {
        if (text == name) {
            return seconds;
        }
    }
    return std::nullopt;
}

std::optional<double> parseCoverage(std::string_view text) {
    text = trimmed(text);
    if (text.ends_with('%')) {
        text.remove_suffix(1);
    }
    const auto percent = plainNumber(trimmed(text));
    if (!percent || *percent <= 0 || *percent > 100) {
        return std::nullopt;
    }
    return *percent / 100;
}

std::optional<double> parseAmperes(std::string_view text) {
    text = trimmed(text);
    if (text.ends_with('A') || text.ends_with('a')) {
        text.remove_suffix(1);
    }
    return plainNumber(trimmed(text));
}

std::optional<std::int64_t> parseDay(std::string_view text) {
    text = trimmed(text);
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') {
        return std::nullopt;
    }
    const auto number = [&](std::size_t at, std::size_t length) -> std::optional<int> {
        int value = 0;
        const auto [end, error] =
            std::from_chars(text.data() + at, text.data() + at + length, value);
        return error == std::errc() && end == text.data() + at + length ? std::optional(value)
                                                                        : std::nullopt;
    };
    const auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
    if (!year || !month || !day || *month < 1 || *month > 12 || *day < 1 || *day > 31) {
        return std::nullopt;
    }
    const std::int64_t days = daysFromCivil(*year, *month, *day);
    int y = 0, m = 0, d = 0;
    civilFromDays(days, y, m, d);
    if (y != *year || m != *month || d != *day) {
        return std::nullopt; // 2026-02-30
    }
    return days;
}

std::string intervalName(int intervalS) {
    return intervalS % 3600 == 0 ? std::to_string(intervalS / 3600) + " h"
                                 : std::to_string(intervalS / 60) + " min";
}

} // namespace talviren::study
