#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace talviren {

// Reads the times of a log, in the order of its lines, as milliseconds since 1970 UTC:
// "2026-10-25T02:30:00.000+02:00" (RFC 3339, as logs are written now) exactly, and the form
// without an offset that older logs have as local time. Local time is ambiguous once a year,
// when the clocks go back and an hour is lived twice: its lines are read in file order, the
// first pass as summer time and the second, once the times have gone back, as standard time.
// A local time that never was (the hour skipped in spring) reads with the offset from before.
class TimeReader {
public:
    // The time of one line; nothing when the text is no such time.
    std::optional<std::int64_t> read(std::string_view text) {
        std::int64_t ms = 0;
        return read(text, ms) ? std::optional<std::int64_t>(ms) : std::nullopt;
    }
    // The same into `ms`, for long logs: false when the text is no such time. (An optional
    // handed back from another file goes through memory, and the load after it stalls.)
    bool read(std::string_view text, std::int64_t& ms);

private:
    // What is known of one local quarter hour: the offsets in effect around it, and whether
    // each of them gives a time that is this local time.
    struct QuarterHour {
        std::int64_t key = INT64_MIN;
        std::int64_t offsetBefore = 0;
        std::int64_t offsetAfter = 0;
        bool beforeFits = false;
        bool afterFits = false;
    };

    std::int64_t fromLocal(std::int64_t localMs);

    // The date, hour and minute of the line before ("2026-12-07T14:03"), as local ms.
    struct Minute {
        char text[16] = {};
        std::int64_t localMs = 0;
        bool known = false;
    };

    QuarterHour quarter_;
    Minute minute_;
    std::int64_t last_ = INT64_MIN; // the time of the line read before
};

} // namespace talviren
