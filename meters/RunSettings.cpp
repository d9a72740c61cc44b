#include "meters/RunSettings.h"

#include "measure/Trimmed.h"

#include <algorithm>

namespace talviren {

std::vector<AlarmLine> alarmLinesOf(const std::vector<std::string>& written) {
    std::vector<AlarmLine> lines;
    for (const std::string& line : written) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        const std::string_view name = trimmed(std::string_view(line).substr(0, colon));
        if (!name.empty()) {
            lines.push_back({std::string(name),
                             std::string(trimmed(std::string_view(line).substr(colon + 1)))});
        }
    }
    return lines;
}

void RunSettings::setPowerFactor(std::optional<PowerFactor> factor) {
    if (factor != powerFactor_) {
        powerFactor_ = factor;
        listeners_.notify([](RunSettingsListener& listener) { listener.powerFactorChanged(); });
    }
}

void RunSettings::setAlarmLines(std::vector<AlarmLine> lines) {
    // By name, as the settings file keeps them; a name given twice keeps its last rule.
    std::stable_sort(lines.begin(), lines.end(),
                     [](const AlarmLine& a, const AlarmLine& b) { return a.name < b.name; });
    alarmLines_.clear();
    for (AlarmLine& line : lines) {
        if (!alarmLines_.empty() && alarmLines_.back().name == line.name) {
            alarmLines_.back() = std::move(line);
        } else {
            alarmLines_.push_back(std::move(line));
        }
    }
    listeners_.notify([](RunSettingsListener& listener) { listener.alarmsChanged(); });
}

std::vector<AlarmRule> RunSettings::usableAlarms() const {
    std::vector<AlarmRule> rules;
    for (const AlarmLine& line : alarmLines_) {
        AlarmParse parsed = parseAlarm(line.name, line.rule);
        if (!parsed.rule) {
            continue;
        }
        rules.push_back(std::move(*parsed.rule));
        if (checkAlarms(rules, powerFactor_.has_value())) {
            rules.pop_back();
        }
    }
    return rules;
}

void RunSettings::setLogPath(std::optional<std::string> path) {
    if (path != logPath_) {
        logPath_ = std::move(path);
        listeners_.notify([](RunSettingsListener& listener) { listener.loggingChanged(); });
    }
}

} // namespace talviren
