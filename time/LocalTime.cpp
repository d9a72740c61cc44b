#include "time/LocalTime.h"

#include <ctime>

namespace talviren {

namespace {

constexpr std::int64_t kQuarterHourMs = 15 * 60 * 1000;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Year, month and day of a day count since 1970-01-01 (H. Hinnant's civil_from_days).
void civil(std::int64_t days, int& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = floorDiv(days, 146097);
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

void digits(std::string& out, int value, int width) {
    char text[8];
    for (int i = width - 1; i >= 0; --i) {
        text[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    out.append(text, static_cast<std::size_t>(width));
}

} // namespace

std::int64_t systemOffsetMs(std::int64_t wallMs) {
    const std::time_t time = static_cast<std::time_t>(floorDiv(wallMs, 1000));
    std::tm local{};
    ::localtime_r(&time, &local);
    return static_cast<std::int64_t>(local.tm_gmtoff) * 1000;
}

void civilFromDays(std::int64_t days, int& year, int& month, int& day) {
    civil(days, year, month, day);
}

std::int64_t localDay(std::int64_t wallMs) {
    return floorDiv(wallMs + systemOffsetMs(wallMs), 86'400'000);
}

std::int64_t localDayStartMs(std::int64_t day) {
    // The first minute whose local day is `day`, within the day in UTC and the farthest
    // offsets from it (−12 h to +14 h).
    std::int64_t low = (day * 86'400'000 - 15 * 3'600'000) / 60'000;
    std::int64_t high = (day * 86'400'000 + 13 * 3'600'000) / 60'000;
    while (low < high) {
        const std::int64_t middle = low + (high - low) / 2;
        if (localDay(middle * 60'000) < day) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low * 60'000;
}

std::int64_t daysFromCivil(int year, int month, int day) {
    // H. Hinnant's days_from_civil.
    const std::int64_t y = month <= 2 ? year - 1 : year;
    const std::int64_t era = floorDiv(y, 400);
    const std::int64_t yearOfEra = y - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::int64_t LocalTime::offsetMs(std::int64_t wallMs) {
    const std::int64_t bucket = floorDiv(wallMs, kQuarterHourMs);
    if (bucket != bucket_) {
        offsetMs_ = systemOffsetMs(bucket * kQuarterHourMs);
        bucket_ = bucket;
    }
    return offsetMs_;
}

void LocalTime::appendIso(std::string& out, std::int64_t wallMs) {
    const std::int64_t local = wallMs + offsetMs(wallMs);
    const std::int64_t days = floorDiv(local, 86'400'000);
    const std::int64_t ofDay = local - days * 86'400'000;
    int year = 0;
    int month = 0;
    int day = 0;
    civil(days, year, month, day);
    digits(out, year, 4);
    out += '-';
    digits(out, month, 2);
    out += '-';
    digits(out, day, 2);
    out += 'T';
    digits(out, static_cast<int>(ofDay / 3'600'000), 2);
    out += ':';
    digits(out, static_cast<int>(ofDay / 60'000 % 60), 2);
    out += ':';
    digits(out, static_cast<int>(ofDay / 1000 % 60), 2);
    out += '.';
    digits(out, static_cast<int>(ofDay % 1000), 3);
}

void LocalTime::appendIsoWithOffset(std::string& out, std::int64_t wallMs) {
    appendIso(out, wallMs);
    const std::int64_t offset = offsetMs(wallMs);
    const int minutes = static_cast<int>((offset < 0 ? -offset : offset) / 60'000);
    out += offset < 0 ? '-' : '+';
    digits(out, minutes / 60, 2);
    out += ':';
    digits(out, minutes % 60, 2);
}

} // namespace talviren
