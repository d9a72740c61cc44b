#pragma once

#include "study/StudySettings.h"

#include <QStringList>

#include <string>
#include <vector>

namespace talviren::cli {

// What `talviren-cli study` is asked: the meters and their files, the study's settings, and
// where its outputs go ("-" for standard output; empty: none).
struct StudyRequest {
    std::vector<study::MeterFiles> meters;
    study::StudySettings settings;
    std::string json, csv, report;
};

// Reads study's arguments (those after "study"): files after --meter NAME are that meter's,
// those before any --meter the meter "log". Empty, or the one line that says what is wrong.
std::string parseStudyArguments(const QStringList& arguments, StudyRequest& request);

} // namespace talviren::cli
