#include "cli/CliOptions.h"

#include "link/MeterLink.h"

#include <QCommandLineParser>

#include <cmath>

namespace talviren::cli {

const char* const kHelpText =
    "Usage:\n"
    "  talviren-cli watch    [--port N] [--duration SECONDS] [--output FILE.csv]\n"
    "  talviren-cli download [--port N] [--timeout SECONDS] --output FILE\n"
    "  talviren-cli --help | --version\n"
    "\n"
    "watch     finds the meter (ports 1 to 16, or only port N), asks for a reading every\n"
    "          500 ms and writes one CSV line per reading to standard output (and appends it\n"
    "          to FILE.csv): local time (ISO 8601, milliseconds), function code, both quantity\n"
    "          names and value texts as the window shows them, and both values as numbers in\n"
    "          A, V or ohm (empty on overload). The file is forced to the disk every second.\n"
    "          A lost link is reported on standard error and logging resumes when the meter\n"
    "          answers again; while no meter answers, standard error lists every port tried\n"
    "          and why it could not be used, once per scan cycle. Runs until --duration has\n"
    "          passed or SIGINT/SIGTERM arrives, then exits 0.\n"
    "download  finds the meter, downloads every stored reading and writes FILE by its\n"
    "          extension: .txt fixed-column text, .xls or .xlsx workbook, .csv one row per\n"
    "          reading. The file is written whole or not at all.\n"
    "\n"
    "Options:\n"
    "  --port N            only port N, 1 to 16 (default: ports 1 to 16 in turn)\n"
    "  --duration SECONDS  watch: end after so many seconds\n"
    "  --timeout SECONDS   download: give up when no meter answered (default 20)\n"
    "  --output FILE       download: the file to write; watch: a CSV log to append to\n"
    "\n"
    "Ports: COMn is the device linked as $XDG_CONFIG_HOME/talviren/ports/COMn, else the n-th\n"
    "serial device (USB adapters first).\n"
    "\n"
    "Exit codes: 0 success; 1 the file cannot be written; 2 wrong arguments; 3 no meter\n"
    "answered within --timeout; 4 the link was lost during the download.\n";

namespace {

ParsedArguments failure(std::string error) {
    ParsedArguments parsed;
    parsed.outcome = ParsedArguments::Error;
    parsed.error = std::move(error);
    return parsed;
}

std::string quoted(const QString& text) {
    return "'" + text.toStdString() + "'";
}

// A positive, finite number of seconds.
bool seconds(const QString& text, double& value) {
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value) && value > 0;
}

} // namespace

ParsedArguments parseArguments(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version(QStringLiteral("version"), {});
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("N"));
    const QCommandLineOption duration(QStringLiteral("duration"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, {},
                                    QStringLiteral("FILE"));
    parser.addOptions({help, version, port, duration, timeout, output});
    parser.addPositionalArgument(QStringLiteral("command"), {});
    if (!parser.parse(arguments)) {
        return failure(parser.errorText().toStdString());
    }
    ParsedArguments parsed;
    if (parser.isSet(help)) {
        parsed.outcome = ParsedArguments::Help;
        return parsed;
    }
    if (parser.isSet(version)) {
        parsed.outcome = ParsedArguments::Version;
        return parsed;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        return failure("no command given: use watch or download");
    }
    Options& options = parsed.options;
    if (positional[0] == QLatin1String("watch")) {
        options.command = Command::Watch;
    } else if (positional[0] == QLatin1String("download")) {
        options.command = Command::Download;
    } else {
        return failure("unknown command " + quoted(positional[0]) + ": use watch or download");
    }
    if (positional.size() > 1) {
        return failure("unexpected argument " + quoted(positional[1]));
    }
    if (parser.isSet(port)) {
        bool ok = false;
        options.port = parser.value(port).toInt(&ok);
        if (!ok || options.port < 1 || options.port > MeterLink::kPortCount) {
            return failure("--port takes a whole number from 1 to 16, not " +
                           quoted(parser.value(port)));
        }
    }
    const bool watching = options.command == Command::Watch;
    if (parser.isSet(duration)) {
        if (!watching) {
            return failure("--duration belongs to watch, not to download");
        }
        double value = 0;
        if (!seconds(parser.value(duration), value)) {
            return failure("--duration takes a positive number of seconds, not " +
                           quoted(parser.value(duration)));
        }
        options.duration = value;
    }
    if (parser.isSet(timeout)) {
        if (watching) {
            return failure("--timeout belongs to download, not to watch");
        }
        if (!seconds(parser.value(timeout), options.timeout)) {
            return failure("--timeout takes a positive number of seconds, not " +
                           quoted(parser.value(timeout)));
        }
    }
    options.output = parser.value(output).toStdString();
    if (parser.isSet(output) && options.output.empty()) {
        return failure("--output needs a file name");
    }
    if (!watching && options.output.empty()) {
        return failure("download needs --output FILE");
    }
    parsed.outcome = ParsedArguments::Run;
    return parsed;
}

} // namespace talviren::cli
