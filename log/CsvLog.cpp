#include "log/CsvLog.h"

#include "time/LocalTime.h"

#include "measure/ValueText.h"

namespace talviren::csvlog {

namespace {

// Appends a field, quoted when it needs to be.
void appendQuoted(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    out += '"';
}

// This thread's cache of the offset from UTC.
LocalTime& zone() {
    thread_local LocalTime local;
    return local;
}

} // namespace

std::string field(std::string_view text) {
    std::string out;
    appendQuoted(out, text);
    return out;
}

std::string localTime(std::int64_t wallMs) {
    std::string out;
    zone().appendIso(out, wallMs);
    return out;
}

std::string timeField(std::int64_t wallMs) {
    std::string out;
    zone().appendIsoWithOffset(out, wallMs);
    return out;
}

namespace {

void appendField(std::string& out, std::string_view text) {
    out += ',';
    appendQuoted(out, text);
}

void appendFields(std::string& out, const DecodedReading& reading) {
    const auto symbols = quantitySymbols(reading.raw.function);
    out += std::to_string(reading.raw.function);
    appendField(out, symbols ? symbols->current : std::string_view());
    appendField(out,
                reading.current ? std::string_view(reading.current->text) : std::string_view());
    appendField(out, symbols ? symbols->second : std::string_view());
    appendField(out, reading.second ? std::string_view(reading.second->text) : std::string_view());
    // Numbers never need quotes: digits, a point and a minus.
    out += ',';
    if (reading.current) {
        out += plainNumber(*reading.current);
    }
    out += ',';
    if (reading.second) {
        out += plainNumber(*reading.second);
    }
}

} // namespace

std::string readingFields(const DecodedReading& reading) {
    std::string out;
    appendFields(out, reading);
    return out;
}

void appendLine(std::string& out, const TimedReading& reading) {
    zone().appendIsoWithOffset(out, reading.wallMs);
    out += ',';
    appendFields(out, reading);
    out += '\n';
}

std::string line(const TimedReading& reading) {
    std::string out;
    out.reserve(96);
    appendLine(out, reading);
    return out;
}

std::string meterFilePath(const std::string& path, const std::string& meter) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot == (slash == std::string::npos ? 0 : slash + 1)) {
        return path + "-" + meter;
    }
    return path.substr(0, dot) + "-" + meter + path.substr(dot);
}

} // namespace talviren::csvlog
