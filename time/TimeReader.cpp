#include "time/TimeReader.h"

#include "measure/MeterReading.h"
#include "time/LocalTime.h"

#include <algorithm>
#include <cstring>

namespace talviren {

namespace {

constexpr std::int64_t kMinuteMs = 60'000;
constexpr std::int64_t kHourMs = 60 * kMinuteMs;
constexpr std::int64_t kQuarterHourMs = 15 * kMinuteMs;

bool leapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : days[month - 1];
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

} // namespace

bool TimeReader::read(std::string_view text, std::int64_t& ms) {
    if (text.size() < 19 || text[16] != ':') {
        return false;
    }
    const auto second = digits(text.substr(17, 2));
    if (!second || *second > 60) {
        return false;
    }
    // A log's lines come two a second: the minute is that of the line before, mostly.
    if (!minute_.known || std::memcmp(text.data(), minute_.text, sizeof minute_.text) != 0) {
        if (text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':') {
            return false;
        }
        const auto year = digits(text.substr(0, 4));
        const auto month = digits(text.substr(5, 2));
        const auto day = digits(text.substr(8, 2));
        const auto hour = digits(text.substr(11, 2));
        const auto minute = digits(text.substr(14, 2));
        if (!year || !month || !day || !hour || !minute || *month < 1 || *month > 12 || *day < 1 ||
            *day > daysInMonth(*year, *month) || *hour > 23 || *minute > 59) {
            return false;
        }
        std::memcpy(minute_.text, text.data(), sizeof minute_.text);
        minute_.known = true;
        minute_.localMs = daysFromCivil(*year, *month, *day) * 24 * kHourMs + *hour * kHourMs +
                          *minute * kMinuteMs;
    }
    std::string_view rest = text.substr(19);
    int millis = 0;
    if (!rest.empty() && rest[0] == '.') {
        std::size_t n = 1;
        while (n < rest.size() && rest[n] >= '0' && rest[n] <= '9') {
            ++n;
        }
        const std::string_view fraction = rest.substr(1, n - 1);
        if (fraction.empty() || fraction.size() > 9) {
            return false;
        }
        millis = *digits(fraction.substr(0, std::min<std::size_t>(3, fraction.size())));
        for (std::size_t k = fraction.size(); k < 3; ++k) {
            millis *= 10;
        }
        rest.remove_prefix(n);
    }
    const std::int64_t local = minute_.localMs + *second * 1000LL + millis;
    std::int64_t time = 0;
    if (rest.empty()) {
        time = fromLocal(local);
    } else if (rest == "Z") {
        time = local;
    } else {
        const auto hours =
            rest.size() == 6 && rest[3] == ':' ? digits(rest.substr(1, 2)) : std::nullopt;
        const auto minutes = hours ? digits(rest.substr(4, 2)) : std::nullopt;
        if (!minutes || (rest[0] != '+' && rest[0] != '-') || *hours > 23 || *minutes > 59) {
            return false;
        }
        const std::int64_t offset = *hours * kHourMs + *minutes * kMinuteMs;
        time = local - (rest[0] == '-' ? -offset : offset);
    }
    last_ = time;
    ms = time;
    return true;
}

std::int64_t TimeReader::fromLocal(std::int64_t localMs) {
    // Every zone's offsets are whole quarter hours and change on one, so a local quarter hour
    // has one answer; the lines of a log share a quarter hour with the line before nearly always.
    const std::int64_t key = floorDiv(localMs, kQuarterHourMs);
    if (key != quarter_.key) {
        const std::int64_t start = key * kQuarterHourMs;
        quarter_.key = key;
        // Offsets lie between -12 and +14 hours: these two are in effect before and after any
        // change that can bear on this local time.
        quarter_.offsetBefore = systemOffsetMs(start - 15 * kHourMs);
        quarter_.offsetAfter = systemOffsetMs(start + 13 * kHourMs);
        const auto fits = [start](std::int64_t offset) {
            return systemOffsetMs(start - offset) == offset;
        };
        quarter_.beforeFits = fits(quarter_.offsetBefore);
        quarter_.afterFits = fits(quarter_.offsetAfter);
    }
    const std::int64_t before = localMs - quarter_.offsetBefore;
    const std::int64_t after = localMs - quarter_.offsetAfter;
    if (quarter_.beforeFits && quarter_.afterFits && before != after) {
        // The hour lived twice: the first pass until the times go back.
        const std::int64_t first = std::min(before, after);
        const std::int64_t second = std::max(before, after);
        return first >= last_ ? first : second;
    }
    if (quarter_.afterFits && !quarter_.beforeFits) {
        return after;
    }
    return before;
}

} // namespace talviren
