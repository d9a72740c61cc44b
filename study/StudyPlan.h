#pragma once

#include "base/Listeners.h"
#include "study/StudySettings.h"

#include <string>
#include <vector>

namespace talviren::study {

// Hears what a study is to be made of change.
class StudyPlanListener {
public:
    virtual ~StudyPlanListener() = default;
    // The meters or their files changed.
    virtual void sourcesChanged() {}
    // The interval, the coverage, or the 220.87 fields changed.
    virtual void settingsChanged() {}
};

// What the window's load study is made of: each meter's log files, or the window's own meters'
// recordings so far ("this run"), and the study's settings (the power factor is the run's, and
// comes with it). The Study view edits it; the window keeps the settings for the next start.
// Plain C++.
class StudyPlan {
public:
    // The meters whose logs are studied; empty while the run itself is.
    const std::vector<MeterFiles>& meters() const { return meters_; }
    bool thisRun() const { return thisRun_; }
    // One meter's files in place of whatever was studied ("Open…").
    void openFiles(std::vector<std::string> files, std::string name = "log");
    // Another meter's files beside the others ("Add meter…"); false when the name is taken
    // or no meter's name.
    bool addMeter(std::string name, std::vector<std::string> files);
    // The window's own meters, from their recordings ("This run").
    void studyThisRun();
    // Several meters' files at once (the command line's groups).
    void setMeters(std::vector<MeterFiles> meters);

    const StudySettings& settings() const { return settings_; }
    // The interval, the coverage and the 220.87 fields (the power factor is not kept here).
    void setSettings(const StudySettings& settings);

    void addListener(StudyPlanListener* listener) { listeners_.add(listener); }
    void removeListener(StudyPlanListener* listener) { listeners_.remove(listener); }

private:
    void sourcesChanged();

    std::vector<MeterFiles> meters_;
    bool thisRun_ = false;
    StudySettings settings_;
    Listeners<StudyPlanListener> listeners_;
};

} // namespace talviren::study
