#pragma once

#include "alarm/AlarmEngine.h"
#include "measure/Reading.h"
#include "power/PowerFactor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace talviren::json {

// Appends `text` as a JSON string: quotes, backslashes and control characters escaped, UTF-8
// kept as it is.
void appendString(std::string& out, std::string_view text);
// Appends `"key":`, after a comma unless it opens the object.
void appendKey(std::string& out, std::string_view key);
// Appends `wallMs` as a JSON string of local time with its UTC offset and milliseconds
// ("2026-12-08T10:15:02.500+01:00").
void appendTime(std::string& out, std::int64_t wallMs);
// Appends a quantity as {"name","overload","text","unit","value"}, the value as the exact
// decimal its text shows (null on overload); null when there is none.
void appendQuantity(std::string& out, const std::optional<Quantity>& quantity);

// The JSON object of one reading, as MQTT publishes it and the web serves it:
// {"seq", "time" (local, milliseconds, UTC offset), "function", "current", "second",
//  "apparent_power" ({"value", "unit": "VA"} or null), "power" (with a power factor only:
//  {"value", "unit": "W", "power_factor"} or null), "energy" ({"apparent_vah", "wh" with a
//  power factor}: the run's energy up to and including this reading)}. Keys in order, every
// number the exact decimal it stands for.
std::string readingJson(std::uint64_t seq, const TimedReading& reading, double apparentEnergyVAh,
                        std::optional<PowerFactor> powerFactor);

// The JSON of an alarm's raise or clear: {"alarm", "condition", "state", "time", "value"}, the
// value being the watched quantity's object as in the reading JSON (null where there is none,
// as for no-reading).
std::string alarmEventJson(const AlarmEvent& event, std::optional<PowerFactor> powerFactor);

// An energy rounded to 10^-decimals of its unit, as its exact decimal text.
std::string energyText(double value, int decimals = 4);

} // namespace talviren::json
