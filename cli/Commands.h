#pragma once

#include "cli/CliOptions.h"

namespace talviren::cli {

// Runs a checked command line in the running QCoreApplication; returns the exit code.
int run(const Options& options);

// Makes SIGINT and SIGTERM end the command cleanly (exit 0) instead of killing the process.
void installStopSignals();

} // namespace talviren::cli
