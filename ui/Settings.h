#pragma once

#include "meters/RunSettings.h"
#include "study/StudyPlan.h"

#include <QSize>

#include <QString>
#include <QStringList>

#include <optional>
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

// Reads the run's settings the window keeps: the power factor ([trend] power_factor) and the
// alarms.
void loadRunSettings(RunSettings& settings);

// Keeps the run's power factor and alarms in the settings file whenever they change, for the
// next start; the log is not kept.
class RunSettingsKeeper : private RunSettingsListener {
public:
    explicit RunSettingsKeeper(RunSettings& settings);
    ~RunSettingsKeeper() override;
    RunSettingsKeeper(const RunSettingsKeeper&) = delete;
    RunSettingsKeeper& operator=(const RunSettingsKeeper&) = delete;

private:
    void powerFactorChanged() override;
    void alarmsChanged() override;

    RunSettings& settings_;
};

// Reads the Study view's settings the window keeps ([study]: interval, coverage, rating, new
// load, demand).
void loadStudySettings(study::StudyPlan& plan);

// Keeps the Study view's settings whenever they change.
class StudyPlanKeeper : private study::StudyPlanListener {
public:
    explicit StudyPlanKeeper(study::StudyPlan& plan);
    ~StudyPlanKeeper() override;
    StudyPlanKeeper(const StudyPlanKeeper&) = delete;
    StudyPlanKeeper& operator=(const StudyPlanKeeper&) = delete;

private:
    void settingsChanged() override;

    study::StudyPlan& plan_;
};

// The window's size as it was left ([window] size, maximized); none before the first time.
std::optional<QSize> storedWindowSize();
bool storedWindowMaximized();
void storeWindowSize(QSize size, bool maximized);

// The meters kept in the group [meters], "NAME=VALUE" each ("L2=COM5"), by name;
// empty when there is no such group.
QStringList storedMeterLines();
// Replaces the meters kept (none: the group goes, and the window has its own meter alone).
void storeMeterLines(const QStringList& lines);

} // namespace talviren
