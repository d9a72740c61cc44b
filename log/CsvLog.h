#pragma once

#include "measure/Reading.h"

#include <cstdint>
#include <string>
#include <string_view>

// The CSV log of live readings, as `talviren-cli watch` and the window's logging write it:
//   time,function,name1,text1,name2,text2,value1,value2
// time: local time with its offset from UTC, RFC 3339 with milliseconds
// ("2026-10-25T02:30:00.000+02:00"), so that no hour reads twice when the clocks go back; names and
// texts as the window shows them (texts with the user's decimal separator); values as plain numbers
// in A, V or Ω with "." (empty on overload). Fields holding a comma, a quote, CR or LF are quoted
// as RFC 4180 says.
namespace talviren::csvlog {

// The first line of every log.
inline constexpr std::string_view kHeader = "time,function,name1,text1,name2,text2,value1,value2";
// The fields after the time, as the record download's CSV also writes them.
inline constexpr std::string_view kReadingColumns =
    "function,name1,text1,name2,text2,value1,value2";

// A field quoted when it needs to be: "12,34A" becomes "\"12,34A\"", a quote is doubled.
std::string field(std::string_view text);

// Local time of wallMs (milliseconds since 1970 UTC) as "2026-12-07T14:03:59.250", for messages.
std::string localTime(std::int64_t wallMs);
// The time field of a log line: "2026-12-07T14:03:59.250+01:00".
std::string timeField(std::int64_t wallMs);

// The reading's fields after the time: function, names, texts, values; no line break.
std::string readingFields(const DecodedReading& reading);

// The file of one meter among several, beside the one chosen: "run.csv" and "L1" give
// "run-L1.csv" (a name without an extension gets "-L1" at its end).
std::string meterFilePath(const std::string& path, const std::string& meter);

// One whole log line of a live reading, ending in "\n".
std::string line(const TimedReading& reading);
// The same line appended to `out` (for writers of many lines).
void appendLine(std::string& out, const TimedReading& reading);

} // namespace talviren::csvlog
