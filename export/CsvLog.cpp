#include "export/CsvLog.h"

#include "measure/ValueText.h"

#include <ctime>

namespace talviren::csvlog {

std::string field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    quoted += '"';
    return quoted;
}

std::string localTime(std::int64_t wallMs) {
    std::int64_t seconds = wallMs / 1000;
    int millis = static_cast<int>(wallMs % 1000);
    if (millis < 0) {
        millis += 1000;
        --seconds;
    }
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    ::localtime_r(&time, &local);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  millis);
    return text;
}

std::string readingFields(const DecodedReading& reading) {
    const auto symbols = quantitySymbols(reading.raw.function);
    std::string out = std::to_string(reading.raw.function);
    const auto add = [&out](std::string_view text) {
        out += ',';
        out += field(text);
    };
    add(symbols ? symbols->current : std::string_view());
    add(reading.current ? std::string_view(reading.current->text) : std::string_view());
    add(symbols ? symbols->second : std::string_view());
    add(reading.second ? std::string_view(reading.second->text) : std::string_view());
    add(reading.current ? plainNumber(*reading.current) : std::string());
    add(reading.second ? plainNumber(*reading.second) : std::string());
    return out;
}

std::string line(const TimedReading& reading) {
    std::string out = localTime(reading.wallMs);
    out += ',';
    out += readingFields(reading);
    out += '\n';
    return out;
}

} // namespace talviren::csvlog
