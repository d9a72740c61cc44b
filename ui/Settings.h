#pragma once

#include <QString>

#include <vector>

namespace talviren {

// The file the window keeps what the user set in: $XDG_CONFIG_HOME/talviren/talviren.conf.
QString settingsFile();

// An alarm as the settings keep it: in the group [alarms], its name as the key and the rest of
// its line as the value ("over=current > 15A for 2s clear 14A"), which a user may also write
// with an editor.
struct StoredAlarm {
    QString name;
    QString rule;
    // "over: current > 15A for 2s clear 14A"
    QString line() const { return name + QStringLiteral(": ") + rule; }
};

// The alarms kept, by name.
std::vector<StoredAlarm> storedAlarms();
// Replaces the alarms kept.
void storeAlarms(const std::vector<StoredAlarm>& alarms);

} // namespace talviren
