#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talviren {

// What an alarm can watch.
enum class AlarmQuantity : std::uint8_t {
    Current,
    AcVoltage,
    DcVoltage,
    Resistance,
    ApparentPower,
    Power, // real power: needs a power factor
};

// The name an alarm line gives a quantity ("current", ...) and its unit ("A", ...).
std::string_view alarmQuantityName(AlarmQuantity quantity);
std::string_view alarmQuantityUnit(AlarmQuantity quantity);

// One alarm, as a line of the rule language: NAME: CONDITION [for DURATION] [clear LIMIT].
struct AlarmRule {
    enum class Condition : std::uint8_t { Above, Below, Outside, Inside, Overload, NoReading };

    std::string name;
    std::string meter; // the meter it watches ("L2", "total" for the sum); empty: the own one
    Condition condition = Condition::Above;
    AlarmQuantity quantity = AlarmQuantity::Current; // for the comparisons
    double limit = 0;                                // > and <, in A, V, Ω, VA or W
    double low = 0, high = 0;                        // outside and inside
    double clearLimit = 0;                           // > and <: where a raised alarm clears
    std::int64_t durationMs = 0;                     // how long it must hold first
    std::string conditionText;                       // "L2.current > 15A for 2s", as written
    std::string limitText;                           // "> 15A for 2s", after the quantity
    std::string line;                                // the rule after "NAME:", as written

    // Whether it compares a quantity (not overload or no-reading).
    bool comparesQuantity() const {
        return condition != Condition::Overload && condition != Condition::NoReading;
    }
};

// An alarm line read, or why it cannot be: `error` names the alarm and what is wrong.
struct AlarmParse {
    std::optional<AlarmRule> rule;
    std::string error;
};

// The name of the sum of several meters in a rule: "total.power > 10kW".
inline constexpr std::string_view kTotalMeter = "total";

// Reads one line, "over: current > 15A for 2s clear 14A". A quantity may name its meter first,
// "L2.current > 15A", "L3.no-reading for 30s", "total.apparent_power > 6kVA".
AlarmParse parseAlarm(std::string_view line);
// Reads an alarm given as its name and the rest of its line (as the settings file keeps it).
AlarmParse parseAlarm(std::string_view name, std::string_view rule);

// Alarms read together: every line parses, no name twice, and `power` only with a power
// factor. The first problem, or none.
std::optional<std::string> checkAlarms(const std::vector<AlarmRule>& rules, bool hasPowerFactor);

} // namespace talviren
