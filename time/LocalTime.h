#pragma once

#include <cstdint>
#include <string>

namespace talviren {

// The offset of local time from UTC at wallMs, in milliseconds, asked of the system each time.
std::int64_t systemOffsetMs(std::int64_t wallMs);

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t daysFromCivil(int year, int month, int day);

// Year, month and day of a day count since 1970-01-01.
void civilFromDays(std::int64_t days, int& year, int& month, int& day);

// The local calendar day (days since 1970-01-01) of UTC milliseconds.
std::int64_t localDay(std::int64_t wallMs);
// The UTC milliseconds at which local day `day` begins: its midnight, or where a clock change
// skips midnight, the first moment of the day there is (always a whole minute).
std::int64_t localDayStartMs(std::int64_t day);

// Local wall-clock time of UTC milliseconds, fast enough for a million log lines: the offset
// from UTC is asked of the system once per quarter hour (every zone changes its offset on a
// quarter hour), the calendar is worked out by arithmetic. One per thread.
class LocalTime {
public:
    // Milliseconds to add to UTC for local time at wallMs.
    std::int64_t offsetMs(std::int64_t wallMs);
    // Appends "2026-12-07T14:03:59.250".
    void appendIso(std::string& out, std::int64_t wallMs);
    // Appends the same with the offset from UTC: "2026-12-07T14:03:59.250+02:00".
    void appendIsoWithOffset(std::string& out, std::int64_t wallMs);

private:
    std::int64_t bucket_ = INT64_MIN;
    std::int64_t offsetMs_ = 0;
};

} // namespace talviren
