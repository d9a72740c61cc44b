#include "json/ReadingJson.h"

#include "measure/ValueText.h"
#include "power/ApparentPower.h"
#include "time/LocalTime.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace talviren::json {

namespace {

// Appends `"text"` (with a comma before and a colon after, when asked) in one go: the reading's
// JSON is some thirty of them, built twice in every reading's path.
void appendQuotedPlain(std::string& out, std::string_view text, bool comma, bool colon) {
    char buffer[80];
    if (text.size() + 4 > sizeof buffer) {
        if (comma) {
            out += ',';
        }
        out += '"';
        out.append(text);
        out += colon ? "\":" : "\"";
        return;
    }
    std::size_t n = 0;
    if (comma) {
        buffer[n++] = ',';
    }
    buffer[n++] = '"';
    std::memcpy(buffer + n, text.data(), text.size());
    n += text.size();
    buffer[n++] = '"';
    if (colon) {
        buffer[n++] = ':';
    }
    out.append(buffer, n);
}

bool needsEscape(char c) {
    return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
}

} // namespace

void appendString(std::string& out, std::string_view text) {
    if (std::none_of(text.begin(), text.end(), needsEscape)) {
        appendQuotedPlain(out, text, false, false);
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[(c >> 4) & 0xf];
            out += kHex[c & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendKey(std::string& out, std::string_view key) {
    // Keys are this program's own words: nothing in them to escape.
    appendQuotedPlain(out, key, out.back() != '{', true);
}

void appendTime(std::string& out, std::int64_t wallMs) {
    thread_local LocalTime zone; // asks the system for the offset once a quarter hour
    out += '"';
    zone.appendIsoWithOffset(out, wallMs);
    out += '"';
}

void appendQuantity(std::string& out, const std::optional<Quantity>& q) {
    if (!q) {
        out += "null";
        return;
    }
    out += '{';
    appendKey(out, "name");
    appendString(out, q->symbol());
    appendKey(out, "overload");
    out += q->overload ? "true" : "false";
    appendKey(out, "text");
    appendString(out, q->text);
    appendKey(out, "unit");
    appendString(out, q->unit());
    appendKey(out, "value");
    out += q->overload ? std::string("null") : plainNumber(*q);
    out += '}';
}

std::string energyText(double value, int decimals) {
    // Rounded to 0.0001 of the unit; 7 decimals write the same count in thousands (kWh).
    return decimalText(std::llround(value * 1e4), decimals);
}

std::string readingJson(std::uint64_t seq, const TimedReading& reading, double apparentEnergyVAh,
                        std::optional<PowerFactor> powerFactor) {
    // Written as text, keys in order: it is built in the reading's path.
    thread_local std::string out;
    out.assign("{");
    const ApparentPower s = apparentPower(reading.raw);
    appendKey(out, "apparent_power");
    if (s.hasValue()) {
        out += "{\"unit\":\"VA\",\"value\":";
        out += apparentPowerNumber(s.units);
        out += '}';
    } else {
        out += "null";
    }
    appendKey(out, "current");
    appendQuantity(out, reading.current);
    appendKey(out, "energy");
    out += "{\"apparent_vah\":";
    out += energyText(apparentEnergyVAh);
    if (powerFactor) {
        out += ",\"wh\":";
        out += energyText(apparentEnergyVAh * powerFactor->value());
    }
    out += '}';
    appendKey(out, "function");
    out += std::to_string(reading.raw.function);
    if (powerFactor) {
        appendKey(out, "power");
        if (s.hasValue()) {
            out += "{\"power_factor\":";
            out += powerFactor->text();
            out += ",\"unit\":\"W\",\"value\":";
            out += realPowerNumber(s.units, *powerFactor);
            out += '}';
        } else {
            out += "null";
        }
    }
    appendKey(out, "second");
    appendQuantity(out, reading.second);
    appendKey(out, "seq");
    out += std::to_string(seq);
    appendKey(out, "time");
    appendTime(out, reading.wallMs);
    out += '}';
    return out;
}

std::string alarmEventJson(const AlarmEvent& event, std::optional<PowerFactor> powerFactor) {
    std::string out = "{";
    appendKey(out, "alarm");
    appendString(out, event.rule->name);
    appendKey(out, "condition");
    appendString(out, event.rule->conditionText);
    appendKey(out, "state");
    appendString(out, event.raised ? "raised" : "cleared");
    appendKey(out, "time");
    appendTime(out, event.wallMs);
    appendKey(out, "value");
    const TimedReading* reading = event.reading ? &*event.reading : nullptr;
    const AlarmRule& rule = *event.rule;
    if (!reading || rule.condition == AlarmRule::Condition::NoReading) {
        out += "null";
    } else if (rule.condition == AlarmRule::Condition::Overload) {
        const bool second = reading->second && reading->second->overload &&
                            !(reading->current && reading->current->overload);
        appendQuantity(out, second ? reading->second : reading->current);
    } else if (rule.quantity == AlarmQuantity::Current) {
        appendQuantity(out, reading->current);
    } else if (rule.quantity == AlarmQuantity::ApparentPower ||
               rule.quantity == AlarmQuantity::Power) {
        const ApparentPower s = apparentPower(reading->raw);
        if (!s.hasValue()) {
            out += "null";
        } else if (rule.quantity == AlarmQuantity::ApparentPower || !powerFactor) {
            out += "{\"unit\":\"VA\",\"value\":" + apparentPowerNumber(s.units) + "}";
        } else {
            out += "{\"power_factor\":" + powerFactor->text() +
                   ",\"unit\":\"W\",\"value\":" + realPowerNumber(s.units, *powerFactor) + "}";
        }
    } else {
        appendQuantity(out, reading->second);
    }
    out += '}';
    return out;
}

} // namespace talviren::json
