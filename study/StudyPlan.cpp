#include "study/StudyPlan.h"

#include <algorithm>

namespace talviren::study {

void StudyPlan::openFiles(std::vector<std::string> files, std::string name) {
    meters_ = {{std::move(name), std::move(files)}};
    thisRun_ = false;
    sourcesChanged();
}

bool StudyPlan::addMeter(std::string name, std::vector<std::string> files) {
    const bool taken = std::any_of(meters_.begin(), meters_.end(),
                                   [&](const MeterFiles& m) { return m.name == name; });
    if (taken || name.empty() || files.empty()) {
        return false;
    }
    if (thisRun_) {
        meters_.clear();
        thisRun_ = false;
    }
    meters_.push_back({std::move(name), std::move(files)});
    sourcesChanged();
    return true;
}

void StudyPlan::studyThisRun() {
    meters_.clear();
    thisRun_ = true;
    sourcesChanged();
}

void StudyPlan::setMeters(std::vector<MeterFiles> meters) {
    meters_ = std::move(meters);
    thisRun_ = false;
    sourcesChanged();
}

void StudyPlan::setSettings(const StudySettings& settings) {
    settings_ = settings;
    settings_.powerFactor.reset();
    listeners_.notify([](StudyPlanListener& listener) { listener.settingsChanged(); });
}

void StudyPlan::sourcesChanged() {
    listeners_.notify([](StudyPlanListener& listener) { listener.sourcesChanged(); });
}

} // namespace talviren::study
