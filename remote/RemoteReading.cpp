#include "remote/RemoteReading.h"

#include "measure/ReadingTexts.h"
#include "time/TimeReader.h"

namespace talviren::remote {

namespace {

// The text a quantity object shows ("12.34A"), or empty for null (no such quantity).
std::optional<std::string_view> quantityText(const json::JsonValue* quantity) {
    if (!quantity || quantity->isNull()) {
        return std::string_view();
    }
    const json::JsonValue* text = quantity->isObject() ? quantity->member("text") : nullptr;
    if (!text || text->type() != json::JsonValue::Type::String) {
        return std::nullopt;
    }
    return text->text();
}

} // namespace

std::optional<RemoteReading> remoteReading(const json::JsonValue& object,
                                           std::string_view decimalSeparator, std::string& error) {
    const json::JsonValue* seq = object.member("seq");
    const json::JsonValue* time = object.member("time");
    const json::JsonValue* function = object.member("function");
    // 256 and above stand for none: no meter has such a function.
    const unsigned long long seqNumber = seq ? seq->whole().value_or(0) : 0;
    const unsigned long long functionNumber = function ? function->whole().value_or(256) : 256;
    const std::string_view timeText =
        time && time->type() == json::JsonValue::Type::String ? *time->text() : std::string_view();
    if (!object.isObject() || seqNumber == 0 || functionNumber > 255 || timeText.empty()) {
        error = "a reading without seq, time or function";
        return std::nullopt;
    }
    TimeReader times;
    const auto wallMs = times.read(timeText);
    // From 1970 to 2200: the times a meter's readings can have, and the steady time below
    // holds them.
    if (!wallMs || *wallMs < 0 || *wallMs > 7'258'118'400'000) {
        error = "a reading whose time cannot be read";
        return std::nullopt;
    }
    const auto currentText = quantityText(object.member("current"));
    const auto secondText = quantityText(object.member("second"));
    const auto raw =
        currentText && secondText
            ? readingFromTexts(static_cast<std::uint8_t>(functionNumber), *currentText, *secondText)
            : std::nullopt;
    if (!raw) {
        error = "a reading whose texts no meter shows";
        return std::nullopt;
    }
    RemoteReading remote;
    remote.seq = seqNumber;
    static_cast<DecodedReading&>(remote.reading) = decodeReading(*raw, decimalSeparator);
    remote.reading.wallMs = *wallMs;
    // The remote's own clock orders its readings; a gap on it is a gap in the chart.
    remote.reading.steadyNs = *wallMs * 1'000'000;
    if (const json::JsonValue* power = object.member("power"); power && power->isObject()) {
        if (const json::JsonValue* factor = power->member("power_factor")) {
            if (const auto text = factor->text()) {
                remote.powerFactor = parsePowerFactor(std::string(*text));
            }
        }
    }
    return remote;
}

} // namespace talviren::remote
