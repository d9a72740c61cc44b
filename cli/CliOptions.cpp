#include "cli/CliOptions.h"

#include "link/Protocol.h"

#include <QCommandLineParser>
#include <QFile>
#include <QSysInfo>

#include <algorithm>
#include <cmath>

namespace talviren::cli {

const char* const kHelpText =
    "Usage:\n"
    "  talviren-cli watch    [--port N] [--duration SECONDS]\n"
    "                        [--output FILE.csv [--log-min-free SIZE]]\n"
    "                        [--power-factor PF] [--alarm 'NAME: CONDITION ...']...\n"
    "                        [--on-alarm COMMAND] [--stop-when NAME]\n"
    "                        [--log-when NAME [--pre-trigger S] [--post-trigger S]]\n"
    "                        [--mqtt URL [--meter-id ID] [--mqtt-topic PREFIX]\n"
    "                         [--mqtt-password-file FILE] [--mqtt-ca FILE]\n"
    "                         [--homeassistant [DISCOVERY_PREFIX]]]\n"
    "                        [--http [ADDRESS:]PORT [--http-token-file FILE]]\n"
    "  talviren-cli download [--port N] [--timeout SECONDS] --output FILE\n"
    "  talviren-cli study    [--meter NAME] FILE... [--meter NAME FILE...]\n"
    "                        [--interval 15m] [--min-coverage 90%] [--power-factor PF]\n"
    "                        [--from DATE] [--to DATE]\n"
    "                        [--rating A [--new-load A] [--demand sliding|block]]\n"
    "                        [--json FILE|-] [--csv FILE|-] [--report FILE.pdf]\n"
    "  talviren-cli --help | --version\n"
    "\n"
    "watch     finds the meter (ports 1 to 16, or only port N), asks for a reading every\n"
    "          500 ms and writes one CSV line per reading to standard output (and appends it\n"
    "          to FILE.csv): local time with its UTC offset (RFC 3339, milliseconds), function\n"
    "          code, both quantity names and value texts as the window shows them, and both\n"
    "          values as numbers in A, V or ohm (empty on overload). The file is forced to\n"
    "          the disk every second.\n"
    "          A lost link is reported on standard error and logging resumes when the meter\n"
    "          answers again; while no meter answers, standard error lists every port tried\n"
    "          and why it could not be used, once per scan cycle. Runs until --duration has\n"
    "          passed or SIGINT/SIGTERM arrives, then ends with a summary line on standard\n"
    "          error (readings, time covered, energy, S min/mean/max) and exits 0.\n"
    "download  finds the meter, downloads every stored reading and writes FILE by its\n"
    "          extension: .txt fixed-column text, .xls or .xlsx workbook, .csv one row per\n"
    "          reading. The file is written whole or not at all.\n"
    "study     what weeks of logs say: each meter's files (plain or gzip-compressed, in any\n"
    "          order; a reading given twice counts once) as one log, in the time zone TZ.\n"
    "          Pieces are two readings at most 1.25 s apart, measured by the trapezoid (S = U x I\n"
    "          where there is AC voltage, P = S x PF). Intervals start on the local clock; a\n"
    "          mean counts where --min-coverage of its interval was measured. Prints per meter\n"
    "          and for the total: the period and the days measured, the block and sliding\n"
    "          (a window a minute) peaks with their times, the load factor, the energy, the\n"
    "          imbalance of several meters, and with --rating the NEC 220.87 check\n"
    "          (1.25 x the highest 15-minute demand + the new load, against the rating, on\n"
    "          30 days without a gap over 15 minutes), an aid to the rule, not an approval.\n"
    "          --json: everything, for scripts (talviren-cli(1) names every field); --csv: the\n"
    "          intervals; --report: the study as a PDF for a client. Files before any --meter\n"
    "          are the meter \"log\". --from and --to (local days, both included) cut the period.\n"
    "\n"
    "Options:\n"
    "  --port N            only port N, 1 to 16 (default: ports 1 to 16 in turn)\n"
    "  --duration SECONDS  watch: end after so many seconds\n"
    "  --timeout SECONDS   download: give up when no meter answered (default 20)\n"
    "  --output FILE       download: the file to write; watch: a CSV log to append to,\n"
    "                      whose name may hold %Y, %m, %d, %H (local time; a new file when\n"
    "                      it changes). A failing write (a full disk) makes the log fall\n"
    "                      behind: readings wait in memory (a day at most), are tried again\n"
    "                      every 5 s and written in order; SIGHUP opens the file anew\n"
    "  --log-min-free SIZE watch: pause the log while its file system has less free (256M,\n"
    "                      1G), as if it were full\n"
    "  --power-factor PF   watch: the circuit's power factor, above 0 and at most 1: real\n"
    "                      power P = S x PF and its energy are estimated from it (the meter\n"
    "                      cannot see the phase); without it only apparent power S = U x I\n"
    "\n"
    "Alarms (watch):\n"
    "  --alarm 'NAME: CONDITION [for DURATION] [clear LIMIT]'   repeatable. CONDITION is\n"
    "                      QUANTITY > LIMIT, QUANTITY < LIMIT, QUANTITY outside LOW..HIGH,\n"
    "                      QUANTITY inside LOW..HIGH, overload, or no-reading (needs for);\n"
    "                      QUANTITY current, ac_voltage, dc_voltage, resistance,\n"
    "                      apparent_power or power; LIMIT 15A, 500mA, 230V, 2.2kohm, 3kVA, 2kW;\n"
    "                      DURATION 500ms, 2s, 1m, 1h; clear: where a raised > or < alarm\n"
    "                      clears (default: the limit). Raises and clears go to standard\n"
    "                      error, e.g. '... alarm over raised: current 15.2A > 15A for 2s'.\n"
    "  --on-alarm COMMAND  run COMMAND with /bin/sh -c on every raise and clear (at most 4 at\n"
    "                      once), the event in TALVIREN_ALARM, TALVIREN_ALARM_STATE,\n"
    "                      TALVIREN_ALARM_VALUE, TALVIREN_ALARM_TIME and TALVIREN_METER_ID\n"
    "  --log-when NAME     with --output: log only while alarm NAME is raised, plus the\n"
    "                      --pre-trigger seconds before (default 10) and the --post-trigger\n"
    "                      seconds after (default 10); standard output gets every reading\n"
    "  --stop-when NAME    end watch (exit 0) when alarm NAME is raised\n"
    "\n"
    "Publishing (watch):\n"
    "  --mqtt URL          mqtt://[USER@]HOST[:PORT] (default port 1883) or mqtts://...\n"
    "                      (TLS, default port 8883, the system's CA store). The password\n"
    "                      comes from $TALVIREN_MQTT_PASSWORD or --mqtt-password-file.\n"
    "  --mqtt-password-file FILE   the password on the file's first line\n"
    "  --mqtt-ca FILE      the CA certificate(s) the broker's certificate must verify with\n"
    "  --meter-id ID       the meter's name in topics, metrics and alarm commands: letters,\n"
    "                      digits, - and _ (default: the host name)\n"
    "  --mqtt-topic PREFIX the topics' prefix (default talviren/ID)\n"
    "  --homeassistant [DISCOVERY_PREFIX]  Home Assistant discovery (default homeassistant)\n"
    "  Topics: PREFIX/status (online/offline, retained; offline is the last will),\n"
    "  PREFIX/reading (JSON per reading: seq, time, function, current, second,\n"
    "  apparent_power, power, energy; QoS 1), PREFIX/ac_current, ac_voltage, dc_voltage,\n"
    "  resistance, apparent_power (plain numbers in A, V, ohm, VA; retained), with\n"
    "  --power-factor PREFIX/power (W) and PREFIX/energy (kWh of the run), PREFIX/link\n"
    "  (connected/lost, retained). While the broker is away, readings\n"
    "  are queued (a day at most) and sent in order when it is back; the CSV never waits.\n"
    "\n"
    "Web page and metrics (watch):\n"
    "  --http [ADDRESS:]PORT  serve a live page and Prometheus metrics over HTTP, read-only:\n"
    "                      GET / (the page), /api/readings?since=SEQ (the last hour's readings\n"
    "                      after SEQ, as JSON), /api/events (Server-Sent Events: reading, link,\n"
    "                      alarm; Last-Event-ID resumes), /api/state, /metrics (Prometheus).\n"
    "                      PORT alone listens on 127.0.0.1 only; give 0.0.0.0:PORT or\n"
    "                      [::]:PORT to be reached from the network.\n"
    "  --http-token-file FILE  every request must then bring the token on the file's first\n"
    "                      line: Authorization: Bearer TOKEN, or ?token=TOKEN\n"
    "\n"
    "Ports: COMn is the device linked as $XDG_CONFIG_HOME/talviren/ports/COMn, else the n-th\n"
    "serial device (USB adapters first).\n"
    "\n"
    "Exit codes: 0 success; 1 the file cannot be written, or the --http port cannot be had;\n"
    "2 wrong arguments, or a log that is missing, unreadable or no log; 3 no meter answered within --timeout; 4 the link was lost during the\n"
    "download; 5 the MQTT broker refused the connection, or its TLS certificate did not verify.\n";

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

// A size in bytes: a number and k, M, G or T (powers of 1024), "256M", "1G"; none when wrong.
std::optional<std::uint64_t> byteSize(const QString& given) {
    QString text = given.trimmed();
    if (text.endsWith(QLatin1Char('B'))) {
        text.chop(1);
    }
    double unit = 1;
    const QString units = QStringLiteral("kMGT");
    if (!text.isEmpty() && units.contains(text.back(), Qt::CaseInsensitive)) {
        unit = std::pow(1024.0, units.indexOf(text.back(), 0, Qt::CaseInsensitive) + 1);
        text.chop(1);
    }
    bool ok = false;
    const double value = text.toDouble(&ok) * unit;
    if (!ok || !std::isfinite(value) || value < 0 || value > 1e18) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(value);
}

// A positive, finite number of seconds.
bool seconds(const QString& text, double& value) {
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value) && value > 0;
}

// --homeassistant takes its prefix only when one follows it: give the parser the default.
QStringList withDiscoveryDefault(QStringList arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--homeassistant") &&
            (i + 1 == arguments.size() || arguments[i + 1].startsWith(QLatin1Char('-')))) {
            arguments[i] = QStringLiteral("--homeassistant=homeassistant");
        }
    }
    return arguments;
}

// The first line of a secret's file; `option` names the file in the error.
std::string readFirstLine(const char* option, const QString& path, std::string& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = std::string("cannot read ") + option + " " + path.toStdString() + ": " +
                file.errorString().toStdString();
        return {};
    }
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r')) {
        line.chop(1);
    }
    return line.toStdString();
}

// --http and --http-token-file of watch; the problem, if any.
std::optional<std::string> readHttpOptions(const QCommandLineParser& parser,
                                           const QCommandLineOption& http,
                                           const QCommandLineOption& httpToken, Options& options) {
    if (parser.isSet(httpToken) && !parser.isSet(http)) {
        return "--http-token-file needs --http [ADDRESS:]PORT";
    }
    if (!parser.isSet(http)) {
        return std::nullopt;
    }
    std::string error;
    options.http = web::parseHttpAddress(parser.value(http).toStdString(), error);
    if (!options.http) {
        return "--http " + error;
    }
    if (parser.isSet(httpToken)) {
        const QString path = parser.value(httpToken);
        options.httpToken = readFirstLine("--http-token-file", path, error);
        if (!error.empty()) {
            return error;
        }
        options.httpToken = QString::fromStdString(options.httpToken).trimmed().toStdString();
        if (options.httpToken.empty()) {
            return "--http-token-file " + path.toStdString() +
                   " holds no token: put it on the file's first line";
        }
    }
    return std::nullopt;
}

} // namespace

ParsedArguments parseArguments(const QStringList& givenArguments) {
    // study reads its own arguments: the files after --meter NAME are that meter's.
    if (givenArguments.size() > 1 && givenArguments[1] == QLatin1String("study")) {
        const QStringList rest = givenArguments.mid(2);
        if (rest.contains(QStringLiteral("--help")) || rest.contains(QStringLiteral("-h"))) {
            ParsedArguments help;
            help.outcome = ParsedArguments::Help;
            return help;
        }
        ParsedArguments parsed;
        parsed.options.command = Command::Study;
        const std::string error = parseStudyArguments(rest, parsed.options.study);
        if (!error.empty()) {
            return failure(error);
        }
        parsed.outcome = ParsedArguments::Run;
        return parsed;
    }
    const QStringList arguments = withDiscoveryDefault(givenArguments);
    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version(QStringLiteral("version"), {});
    const QCommandLineOption port(QStringLiteral("port"), {}, QStringLiteral("N"));
    const QCommandLineOption duration(QStringLiteral("duration"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption timeout(QStringLiteral("timeout"), {}, QStringLiteral("SECONDS"));
    const QCommandLineOption output({QStringLiteral("o"), QStringLiteral("output")}, {},
                                    QStringLiteral("FILE"));
    const QCommandLineOption mqttUrl(QStringLiteral("mqtt"), {}, QStringLiteral("URL"));
    const QCommandLineOption mqttCa(QStringLiteral("mqtt-ca"), {}, QStringLiteral("FILE"));
    const QCommandLineOption mqttPassword(QStringLiteral("mqtt-password-file"), {},
                                          QStringLiteral("FILE"));
    const QCommandLineOption meterId(QStringLiteral("meter-id"), {}, QStringLiteral("ID"));
    const QCommandLineOption mqttTopic(QStringLiteral("mqtt-topic"), {}, QStringLiteral("PREFIX"));
    const QCommandLineOption discovery(QStringLiteral("homeassistant"), {},
                                       QStringLiteral("DISCOVERY_PREFIX"));
    const QCommandLineOption powerFactor(QStringLiteral("power-factor"), {}, QStringLiteral("PF"));
    const QCommandLineOption alarm(QStringLiteral("alarm"), {}, QStringLiteral("RULE"));
    const QCommandLineOption onAlarm(QStringLiteral("on-alarm"), {}, QStringLiteral("COMMAND"));
    const QCommandLineOption logWhen(QStringLiteral("log-when"), {}, QStringLiteral("NAME"));
    const QCommandLineOption stopWhen(QStringLiteral("stop-when"), {}, QStringLiteral("NAME"));
    const QCommandLineOption preTrigger(QStringLiteral("pre-trigger"), {}, QStringLiteral("S"));
    const QCommandLineOption postTrigger(QStringLiteral("post-trigger"), {}, QStringLiteral("S"));
    const QCommandLineOption http(QStringLiteral("http"), {}, QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption httpToken(QStringLiteral("http-token-file"), {},
                                       QStringLiteral("FILE"));
    const QCommandLineOption logMinFree(QStringLiteral("log-min-free"), {}, QStringLiteral("SIZE"));
    parser.addOptions({help,        version, port,         duration,  timeout,   output,
                       mqttUrl,     mqttCa,  mqttPassword, meterId,   mqttTopic, discovery,
                       powerFactor, alarm,   onAlarm,      logWhen,   stopWhen,  preTrigger,
                       postTrigger, http,    httpToken,    logMinFree});
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
        return failure("no command given: use watch, download or study");
    }
    Options& options = parsed.options;
    if (positional[0] == QLatin1String("watch")) {
        options.command = Command::Watch;
    } else if (positional[0] == QLatin1String("download")) {
        options.command = Command::Download;
    } else {
        return failure("unknown command " + quoted(positional[0]) +
                       ": use watch, download or study");
    }
    if (positional.size() > 1) {
        return failure("unexpected argument " + quoted(positional[1]));
    }
    if (parser.isSet(port)) {
        bool ok = false;
        options.port = parser.value(port).toInt(&ok);
        if (!ok || options.port < 1 || options.port > protocol::kPortCount) {
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
    if (parser.isSet(powerFactor)) {
        if (!watching) {
            return failure("--power-factor belongs to watch, not to download");
        }
        const std::string text = parser.value(powerFactor).toStdString();
        options.powerFactor = parsePowerFactor(text);
        if (!options.powerFactor) {
            return failure("--power-factor " + powerFactorRefusal(text));
        }
    }
    options.output = parser.value(output).toStdString();
    if (parser.isSet(output) && options.output.empty()) {
        return failure("--output needs a file name");
    }
    if (!watching && options.output.empty()) {
        return failure("download needs --output FILE");
    }
    if (parser.isSet(logMinFree)) {
        if (!watching || options.output.empty()) {
            return failure("--log-min-free needs watch --output FILE");
        }
        const auto size = byteSize(parser.value(logMinFree));
        if (!size) {
            return failure("--log-min-free takes a size such as 256M or 1G, not " +
                           quoted(parser.value(logMinFree)));
        }
        options.logMinFreeBytes = *size;
    }
    for (const QCommandLineOption* option :
         {&alarm, &onAlarm, &logWhen, &stopWhen, &preTrigger, &postTrigger, &http, &httpToken}) {
        if (parser.isSet(*option) && !watching) {
            return failure("--" + option->names().constFirst().toStdString() +
                           " belongs to watch, not to download");
        }
    }
    for (const QString& line : parser.values(alarm)) {
        AlarmParse parsed = parseAlarm(line.toStdString());
        if (!parsed.rule) {
            return failure(parsed.error);
        }
        if (!parsed.rule->meter.empty()) {
            return failure("alarm '" + parsed.rule->name + "': talviren-cli watches one meter, " +
                           "and '" + parsed.rule->meter + ".' names another");
        }
        options.alarms.push_back(std::move(*parsed.rule));
    }
    if (const auto problem = checkAlarms(options.alarms, options.powerFactor.has_value())) {
        return failure(*problem +
                       (problem->ends_with("power factor") ? ": give --power-factor" : ""));
    }
    const auto named = [&](const QCommandLineOption& option, std::string& into) {
        if (!parser.isSet(option)) {
            return true;
        }
        into = parser.value(option).toStdString();
        return std::any_of(options.alarms.begin(), options.alarms.end(),
                           [&](const AlarmRule& rule) { return rule.name == into; });
    };
    if (!named(logWhen, options.logWhen)) {
        return failure("--log-when " + quoted(parser.value(logWhen)) +
                       " names no alarm given with --alarm");
    }
    if (!named(stopWhen, options.stopWhen)) {
        return failure("--stop-when " + quoted(parser.value(stopWhen)) +
                       " names no alarm given with --alarm");
    }
    if (parser.isSet(logWhen) && options.output.empty()) {
        return failure("--log-when needs --output FILE");
    }
    for (auto [option, into] : {std::pair{&preTrigger, &options.preTriggerSeconds},
                                std::pair{&postTrigger, &options.postTriggerSeconds}}) {
        if (!parser.isSet(*option)) {
            continue;
        }
        const std::string name = "--" + option->names().constFirst().toStdString();
        if (!parser.isSet(logWhen)) {
            return failure(name + " needs --log-when NAME");
        }
        bool ok = false;
        *into = parser.value(*option).toDouble(&ok);
        if (!ok || !std::isfinite(*into) || *into < 0) {
            return failure(name + " takes a number of seconds, 0 or more, not " +
                           quoted(parser.value(*option)));
        }
    }
    options.onAlarm = parser.value(onAlarm).toStdString();
    if (parser.isSet(onAlarm) && options.onAlarm.empty()) {
        return failure("--on-alarm needs a command");
    }
    options.meterId = parser.isSet(meterId)
                          ? parser.value(meterId).toStdString()
                          : mqtt::meterIdFromHost(QSysInfo::machineHostName().toStdString());
    for (const QCommandLineOption* option :
         {&mqttUrl, &mqttCa, &mqttPassword, &meterId, &mqttTopic, &discovery}) {
        const std::string name = "--" + option->names().constFirst().toStdString();
        if (parser.isSet(*option) && !watching) {
            return failure(name + " belongs to watch, not to download");
        }
        if (option == &meterId && parser.isSet(meterId) && !parser.isSet(mqttUrl) &&
            !parser.isSet(http)) {
            return failure("--meter-id needs --mqtt URL or --http [ADDRESS:]PORT");
        }
        if (parser.isSet(*option) && option != &mqttUrl && option != &meterId &&
            !parser.isSet(mqttUrl)) {
            return failure(name + " needs --mqtt URL");
        }
    }
    if (parser.isSet(meterId) && !mqtt::isMeterId(options.meterId)) {
        return failure("--meter-id takes letters, digits, - and _ only, not " +
                       quoted(parser.value(meterId)));
    }
    if (const auto problem = readHttpOptions(parser, http, httpToken, options)) {
        return failure(*problem);
    }
    if (parser.isSet(mqttUrl)) {
        std::string error;
        mqtt::MqttSettings settings;
        if (!mqtt::parseMqttUrl(parser.value(mqttUrl).toStdString(), settings, error)) {
            return failure(error);
        }
        settings.meterId = options.meterId;
        settings.topicPrefix = parser.isSet(mqttTopic) ? parser.value(mqttTopic).toStdString()
                                                       : "talviren/" + settings.meterId;
        if (!mqtt::normaliseTopicPrefix(settings.topicPrefix, "--mqtt-topic", error)) {
            return failure(error);
        }
        if (parser.isSet(discovery)) {
            std::string prefix = parser.value(discovery).toStdString();
            if (!mqtt::normaliseTopicPrefix(prefix, "--homeassistant", error)) {
                return failure(error);
            }
            settings.discoveryPrefix = prefix;
        }
        if (parser.isSet(mqttCa)) {
            settings.caFile = parser.value(mqttCa).toStdString();
            if (!settings.tls) {
                return failure("--mqtt-ca needs an mqtts:// URL");
            }
            QFile ca(parser.value(mqttCa));
            if (!ca.open(QIODevice::ReadOnly)) {
                return failure("cannot read --mqtt-ca " + settings.caFile + ": " +
                               ca.errorString().toStdString());
            }
        }
        if (parser.isSet(mqttPassword)) {
            settings.password =
                readFirstLine("--mqtt-password-file", parser.value(mqttPassword), error);
            if (!error.empty()) {
                return failure(error);
            }
            if (settings.user.empty()) {
                return failure("--mqtt-password-file needs a user name in the URL "
                               "(mqtt://USER@HOST)");
            }
        } else if (!settings.user.empty()) {
            settings.password = qEnvironmentVariable("TALVIREN_MQTT_PASSWORD").toStdString();
        }
        settings.powerFactor = options.powerFactor;
        options.mqtt = settings;
    }
    parsed.outcome = ParsedArguments::Run;
    return parsed;
}

} // namespace talviren::cli
