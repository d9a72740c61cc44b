// talviren-cli: the meter without a window, for scripts and small computers.

#include "app/Version.h"
#include "cli/CliOptions.h"
#include "cli/Commands.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
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
