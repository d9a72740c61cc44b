#pragma once

#include "alarm/AlarmRule.h"
#include "base/Listeners.h"
#include "power/PowerFactor.h"

#include <optional>
#include <string>
#include <vector>

namespace talviren {

// An alarm as the settings keep it: its name, and the rest of its line
// ("over", "current > 15A for 2s clear 14A").
struct AlarmLine {
    std::string name;
    std::string rule;
    // "over: current > 15A for 2s clear 14A"
    std::string line() const { return name + ": " + rule; }

    friend bool operator==(const AlarmLine&, const AlarmLine&) = default;
};

// Alarm lines as the user wrote them ("over: current > 15A"), to be kept: a line without a name
// has no key to be kept under and is left out.
std::vector<AlarmLine> alarmLinesOf(const std::vector<std::string>& written);

// Hears the run's settings change.
class RunSettingsListener {
public:
    virtual ~RunSettingsListener() = default;
    virtual void powerFactorChanged() {}
    virtual void alarmsChanged() {}
    // The run started logging every meter, or stopped.
    virtual void loggingChanged() {}
};

// What the user set for the run, in one place: the power factor, the alarms, and the log every
// meter writes. Every view edits it here and listens; the meters follow it (FleetCore), and the
// window keeps the first two for the next start. Plain C++.
class RunSettings {
public:
    // The power factor of the meters whose readings come without one; none: no P.
    const std::optional<PowerFactor>& powerFactor() const { return powerFactor_; }
    void setPowerFactor(std::optional<PowerFactor> factor);

    // The alarm lines, usable or not, by name (one rule a name).
    const std::vector<AlarmLine>& alarmLines() const { return alarmLines_; }
    void setAlarmLines(std::vector<AlarmLine> lines);
    // The rules of the lines that parse and fit together at the power factor, in their order;
    // the others wait in the settings to be mended.
    std::vector<AlarmRule> usableAlarms() const;

    // The log every meter writes while the run logs (BASE, or BASE-NAME.csv each with several
    // meters); none while it does not.
    const std::optional<std::string>& logPath() const { return logPath_; }
    void setLogPath(std::optional<std::string> path);

    void addListener(RunSettingsListener* listener) { listeners_.add(listener); }
    void removeListener(RunSettingsListener* listener) { listeners_.remove(listener); }

private:
    std::optional<PowerFactor> powerFactor_;
    std::vector<AlarmLine> alarmLines_;
    std::optional<std::string> logPath_;
    Listeners<RunSettingsListener> listeners_;
};

} // namespace talviren
