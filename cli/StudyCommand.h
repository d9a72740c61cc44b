#pragma once

#include "cli/StudyOptions.h"

namespace talviren::cli {

// talviren-cli study: reads the logs, studies them, prints the summary and writes the outputs
// asked for (all of them or none); the exit code (kOk, kUsage for a file that is missing,
// unreadable or no log, kFailure for an output that cannot be written).
int runStudyCommand(const StudyRequest& request);

} // namespace talviren::cli
