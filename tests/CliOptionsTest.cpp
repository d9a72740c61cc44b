// talviren-cli's command line and its report of the ports tried, in-process.

#include "FakeLink.h"

#include "cli/CliOptions.h"
#include "cli/PortReport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace talviren;
using namespace talviren::cli;
using namespace talviren::testing;

namespace {

ParsedArguments parse(QStringList arguments) {
    arguments.prepend(QStringLiteral("talviren-cli"));
    return parseArguments(arguments);
}

TEST(CliOptions, GoodCommandLines) {
    auto watch = parse({"watch", "--port", "16", "--duration", "0.5", "--output", "a.csv"});
    ASSERT_EQ(watch.outcome, ParsedArguments::Run) << watch.error;
    EXPECT_EQ(watch.options.command, Command::Watch);
    EXPECT_EQ(watch.options.port, 16);
    EXPECT_EQ(watch.options.duration, 0.5);
    EXPECT_EQ(watch.options.output, "a.csv");
    auto download = parse({"download", "--port=1", "--timeout", "60", "-o", "r.xlsx"});
    ASSERT_EQ(download.outcome, ParsedArguments::Run) << download.error;
    EXPECT_EQ(download.options.command, Command::Download);
    EXPECT_EQ(download.options.port, 1);
    EXPECT_EQ(download.options.timeout, 60);
    EXPECT_FALSE(download.options.duration);
    EXPECT_EQ(parse({"watch"}).options.port, 0) << "all ports by default";
    EXPECT_FALSE(parse({"watch"}).options.powerFactor) << "no power factor is assumed";
    const auto alarms = parse({"watch", "--alarm", "a: overload", "--alarm",
                               "b: current > 15A for 2s", "--log-when", "b", "-o", "l.csv",
                               "--post-trigger", "0", "--on-alarm", "notify-send x"});
    ASSERT_EQ(alarms.outcome, ParsedArguments::Run) << alarms.error;
    ASSERT_EQ(alarms.options.alarms.size(), 2u);
    EXPECT_EQ(alarms.options.alarms[1].conditionText, "current > 15A for 2s");
    EXPECT_EQ(alarms.options.logWhen, "b");
    EXPECT_EQ(alarms.options.preTriggerSeconds, 10);
    EXPECT_EQ(alarms.options.postTriggerSeconds, 0);
    EXPECT_EQ(alarms.options.onAlarm, "notify-send x");
    const auto power = parse({"watch", "--power-factor", "0.95", "--mqtt", "mqtt://b"});
    ASSERT_EQ(power.outcome, ParsedArguments::Run) << power.error;
    EXPECT_EQ(power.options.powerFactor, PowerFactor{950'000});
    EXPECT_EQ(power.options.mqtt->powerFactor, PowerFactor{950'000}) << "MQTT publishes P";
    EXPECT_EQ(parse({"--version"}).outcome, ParsedArguments::Version);
    EXPECT_EQ(parse({"download", "--help"}).outcome, ParsedArguments::Help);
}

TEST(CliOptions, BadCommandLinesNameWhatIsWrong) {
    struct Case {
        QStringList arguments;
        const char* named; // a part of the one-line error
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"listen"}, "unknown command 'listen'"},
        {{"watch", "extra"}, "unexpected argument 'extra'"},
        {{"watch", "--bogus"}, "bogus"},
        {{"watch", "--port"}, "--port"},
        {{"watch", "--port", "0"}, "--port takes a whole number from 1 to 16, not '0'"},
        {{"watch", "--port", "17"}, "'17'"},
        {{"watch", "--port", "3x"}, "'3x'"},
        {{"watch", "--port", "2.5"}, "'2.5'"},
        {{"watch", "--duration", "-1"}, "--duration takes a positive number of seconds"},
        {{"watch", "--duration", "0"}, "'0'"},
        {{"watch", "--duration", "soon"}, "'soon'"},
        {{"watch", "--duration", "inf"}, "'inf'"},
        {{"download", "--timeout", "0", "--output", "a.txt"}, "--timeout takes a positive"},
        {{"download", "--duration", "5", "--output", "a.txt"}, "--duration belongs to watch"},
        {{"watch", "--timeout", "5"}, "--timeout belongs to download"},
        {{"download"}, "download needs --output FILE"},
        {{"watch", "--output", ""}, "--output needs a file name"},
        {{"watch", "--power-factor", "0"},
         "--power-factor takes a power factor above 0 and at most 1 (0 < PF \u2264 1), such as "
         "0.95, not '0'"},
        {{"watch", "--power-factor", "1.5"}, "--power-factor takes a power factor above 0"},
        {{"watch", "--power-factor", "-1"}, "(0 < PF \u2264 1), such as 0.95, not '-1'"},
        {{"watch", "--power-factor", "abc"}, "--power-factor takes a power factor above 0"},
        {{"watch", "--power-factor="}, "(0 < PF \u2264 1), such as 0.95, not ''"},
        {{"download", "--power-factor", "0.9", "-o", "a.txt"}, "--power-factor belongs to watch"},
        {{"watch", "--alarm", "over: current >> 5"}, "alarm 'over': '>>' is no comparison"},
        {{"watch", "--alarm", "x: volts > 5"}, "alarm 'x': unknown quantity 'volts'"},
        {{"watch", "--alarm", "x: current > 5V"}, "alarm 'x': the unit 'V' does not fit"},
        {{"watch", "--alarm", "x: L2.current > 5A"}, "alarm 'x': talviren-cli watches one meter"},
        {{"watch", "--alarm", "x: total.power > 5kW"}, "watches one meter, and 'total.' names"},
        {{"watch", "--alarm", "current > 5A"}, "no name"},
        {{"watch", "--alarm", "a: current > 1A", "--alarm", "a: current < 9A"},
         "alarm 'a': the name is given twice"},
        {{"watch", "--alarm", "s: no-reading"}, "alarm 's': no-reading needs 'for DURATION'"},
        {{"watch", "--alarm", "x: current > 5A for 0s"}, "the duration must be above zero"},
        {{"watch", "--alarm", "x: current > 5A clear 6A"}, "the clear limit must be at or below"},
        {{"watch", "--alarm", "p: power > 2kW"},
         "alarm 'p': power needs a power factor: give --power-factor"},
        {{"watch", "--alarm", "a: overload", "--log-when", "b", "-o", "l.csv"},
         "--log-when 'b' names no alarm given with --alarm"},
        {{"watch", "--alarm", "a: overload", "--stop-when", "b"}, "--stop-when 'b' names no alarm"},
        {{"watch", "--alarm", "a: overload", "--log-when", "a"}, "--log-when needs --output FILE"},
        {{"watch", "--alarm", "a: overload", "--log-when", "a", "-o", "l.csv", "--pre-trigger",
          "-1"},
         "--pre-trigger takes a number of seconds, 0 or more, not '-1'"},
        {{"watch", "--post-trigger", "5"}, "--post-trigger needs --log-when NAME"},
        {{"download", "--alarm", "a: overload", "-o", "a.txt"}, "--alarm belongs to watch"},
    };
    for (const Case& c : cases) {
        const ParsedArguments parsed = parse(c.arguments);
        EXPECT_EQ(parsed.outcome, ParsedArguments::Error) << c.arguments.join(' ').toStdString();
        EXPECT_NE(parsed.error.find(c.named), std::string::npos)
            << c.arguments.join(' ').toStdString() << ": " << parsed.error;
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << "one line: " << parsed.error;
    }
}

TEST(CliOptions, HttpOptions) {
    QTemporaryDir folder;
    const QString token = folder.filePath("token");
    const QString empty = folder.filePath("empty");
    {
        QFile file(token);
        file.open(QIODevice::WriteOnly);
        file.write("  s3cret \nsecond line\n");
        QFile(empty).open(QIODevice::WriteOnly);
    }
    const auto served = parse({"watch", "--http", "[::]:8080", "--http-token-file", token});
    ASSERT_EQ(served.outcome, ParsedArguments::Run) << served.error;
    EXPECT_EQ(served.options.http->text(), "[::]:8080");
    EXPECT_EQ(served.options.httpToken, "s3cret");
    EXPECT_EQ(parse({"watch", "--http", "8080"}).options.http->host, "127.0.0.1");
    EXPECT_FALSE(parse({"watch"}).options.http);
    struct Case {
        QStringList arguments;
        std::string named;
    };
    const Case cases[] = {
        {{"watch", "--http", "0"}, "--http takes [ADDRESS:]PORT with a port from 1 to 65535"},
        {{"watch", "--http", "65536"}, "not '65536'"},
        {{"watch", "--http", "abc"}, "not 'abc'"},
        {{"watch", "--http", "meter.local:80"}, "an IP address such as 127.0.0.1"},
        {{"watch", "--http", "8080", "--http-token-file", folder.filePath("none")},
         "cannot read --http-token-file " + folder.filePath("none").toStdString() + ": "},
        {{"watch", "--http", "8080", "--http-token-file", empty}, "holds no token"},
        {{"watch", "--http-token-file", token}, "--http-token-file needs --http"},
        {{"download", "-o", "a.txt", "--http", "8080"}, "--http belongs to watch"},
    };
    for (const Case& c : cases) {
        const ParsedArguments parsed = parse(c.arguments);
        EXPECT_EQ(parsed.outcome, ParsedArguments::Error) << c.arguments.join(' ').toStdString();
        EXPECT_NE(parsed.error.find(c.named), std::string::npos) << parsed.error;
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << parsed.error;
    }
}

TEST(CliOptions, MqttOptions) {
    QTemporaryDir folder;
    const QString password = folder.filePath("pw");
    {
        QFile file(password);
        file.open(QIODevice::WriteOnly);
        file.write("s3cret\r\nsecond line\n");
    }
    const QString ca = folder.filePath("ca.pem");
    QFile(ca).open(QIODevice::WriteOnly);
    auto full = parse({"watch", "--mqtt", "mqtts://alice@broker:9883", "--mqtt-password-file",
                       password, "--mqtt-ca", ca, "--meter-id", "lab-1", "--homeassistant"});
    ASSERT_EQ(full.outcome, ParsedArguments::Run) << full.error;
    ASSERT_TRUE(full.options.mqtt);
    const mqtt::MqttSettings& m = *full.options.mqtt;
    EXPECT_EQ(m.password, "s3cret");
    EXPECT_EQ(m.caFile, ca.toStdString());
    EXPECT_EQ(m.topicPrefix, "talviren/lab-1");
    EXPECT_EQ(m.discoveryPrefix, "homeassistant");
    EXPECT_EQ(m.clientId(), "talviren-lab-1");
    auto custom = parse(
        {"watch", "--mqtt", "mqtt://b", "--homeassistant", "ha", "--mqtt-topic", "plant/meters/"});
    ASSERT_EQ(custom.outcome, ParsedArguments::Run) << custom.error;
    EXPECT_EQ(custom.options.mqtt->discoveryPrefix, "ha");
    EXPECT_EQ(custom.options.mqtt->topicPrefix, "plant/meters");
    EXPECT_FALSE(custom.options.mqtt->meterId.empty()) << "the host name";
    qputenv("TALVIREN_MQTT_PASSWORD", "from-env");
    EXPECT_EQ(parse({"watch", "--mqtt", "mqtt://u@b"}).options.mqtt->password, "from-env");
    EXPECT_EQ(parse({"watch", "--mqtt", "mqtt://b"}).options.mqtt->password, "")
        << "no user, no password";
    qunsetenv("TALVIREN_MQTT_PASSWORD");
    EXPECT_FALSE(parse({"watch"}).options.mqtt);

    struct Case {
        QStringList arguments;
        const char* named;
    };
    const Case bad[] = {
        {{"watch", "--mqtt", "http://b"}, "unknown scheme 'http'"},
        {{"watch", "--mqtt", "mqtt://b:99999"}, "malformed URL"},
        {{"watch", "--mqtt", "mqtt://b", "--meter-id", "a b"}, "--meter-id takes letters"},
        {{"watch", "--mqtt", "mqtts://b", "--mqtt-ca", "/none/ca.pem"}, "cannot read --mqtt-ca"},
        {{"watch", "--mqtt", "mqtt://b", "--mqtt-ca", ca}, "--mqtt-ca needs an mqtts:// URL"},
        {{"watch", "--mqtt", "mqtt://u@b", "--mqtt-password-file", "/none/pw"},
         "cannot read --mqtt-password-file /none/pw"},
        {{"watch", "--mqtt", "mqtt://b", "--mqtt-password-file", password}, "needs a user name"},
        {{"watch", "--meter-id", "x"}, "--meter-id needs --mqtt"},
        {{"watch", "--homeassistant"}, "--homeassistant needs --mqtt"},
        {{"download", "-o", "a.txt", "--mqtt", "mqtt://b"}, "--mqtt belongs to watch"},
        {{"watch", "--mqtt", "mqtt://b", "--mqtt-topic", "a/#"}, "wildcard"},
    };
    for (const Case& c : bad) {
        const ParsedArguments parsed = parse(c.arguments);
        EXPECT_EQ(parsed.outcome, ParsedArguments::Error) << c.arguments.join(' ').toStdString();
        EXPECT_NE(parsed.error.find(c.named), std::string::npos)
            << c.arguments.join(' ').toStdString() << ": " << parsed.error;
    }
}

TEST(PortReport, ListsEachPortOnceACycleWithItsDeviceAndReason) {
    LinkRig rig;
    PortReport report;
    std::vector<std::string> reports;
    report.setCycleHandler([&](const std::string& lines) { reports.push_back(lines); });
    rig.session.addConsumer(&report);
    rig.port.outcomes[1] = OpenResult::OtherFailure;
    rig.port.details[1] = {"/dev/ttyUSB0", "Permission denied (add yourself to the dialout group)"};
    rig.port.outcomes[2] = OpenResult::Opened; // opens, never answers
    rig.port.details[2] = {"/dev/ttyUSB1", ""};
    rig.port.outcomes[4] = OpenResult::InUse;
    rig.port.details[4] = {"/dev/ttyS0", "Device or resource busy"};
    for (int p = 5; p <= 16; ++p) {
        rig.port.details[p] = {"", "no serial device has this number"};
    }
    rig.port.details[3] = {"", "no serial device has this number"};
    for (int step = 0; step < 15; ++step) {
        rig.scan.tick();
    }
    EXPECT_TRUE(reports.empty()) << "not before the cycle is over";
    rig.scan.tick();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "  COM1 /dev/ttyUSB0: Permission denied (add yourself to the dialout group)\n"
              "  COM2 /dev/ttyUSB1: no answer to the handshake\n"
              "  COM3: no serial device has this number\n"
              "  COM4 /dev/ttyS0: Device or resource busy\n"
              "  COM5 to COM16: no serial device has this number\n");
    // Once the meter answers the list starts afresh.
    rig.scan.tick();
    rig.scan.tick(); // COM2 again
    EXPECT_NE(report.lines(), "");
    rig.port.deliver({0xD5, 0x55, 0x55});
    EXPECT_EQ(report.lines(), "");
    rig.session.removeConsumer(&report);
}

} // namespace
