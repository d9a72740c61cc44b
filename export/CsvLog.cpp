#include "export/CsvLog.h"

#include "export/LocalTime.h"

#include "measure/ValueText.h"

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
    std::string out;
    thread_local LocalTime zone;
    zone.appendIso(out, wallMs);
    return out;
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
    std::string out;
    out.reserve(80);
    thread_local LocalTime zone;
    zone.appendIso(out, reading.wallMs);
    out += ',';
    out += readingFields(reading);
    out += '\n';
    return out;
}

} // namespace talviren::csvlog
