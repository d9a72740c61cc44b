// talviren-cli: the meter without a window, for scripts and small computers.

#include "app/Version.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"

#include <QApplication>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Whether the command draws (a study's report): its charts need a QApplication, which needs
// no display when there is none.
bool draws(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "study") != 0) {
        return false;
    }
    for (int i = 2; i < argc; ++i) {
        if (std::strncmp(argv[i], "--report", 8) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    std::unique_ptr<QCoreApplication> application;
    if (draws(argc, argv)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
            qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        application = std::make_unique<QApplication>(argc, argv);
    } else {
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    using namespace talviren::cli;
    const ParsedArguments parsed = parseArguments(QCoreApplication::arguments());
    switch (parsed.outcome) {
    case ParsedArguments::Help:
        std::fputs(kHelpText, stdout);
        return kOk;
    case ParsedArguments::Version:
        std::printf("talviren-cli %s\n", TALVIREN_VERSION);
        return kOk;
    case ParsedArguments::Error:
        std::fprintf(stderr, "talviren-cli: %s\nTry 'talviren-cli --help' for more.\n",
                     parsed.error.c_str());
        return kUsage;
    case ParsedArguments::Run:
        break;
    }
    installStopSignals();
    return run(parsed.options);
}
