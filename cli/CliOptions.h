#pragma once

#include "alarm/AlarmRule.h"
#include "cli/StudyOptions.h"
#include "mqtt/MqttSettings.h"
#include "power/PowerFactor.h"
#include "web/HttpAddress.h"

#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talviren::cli {

// Exit codes of talviren-cli, as its help and manual page document them.
enum ExitCode {
    kOk = 0,
    kFailure = 1,  // the output file cannot be written, or the web server cannot listen
    kUsage = 2,    // wrong arguments
    kNoMeter = 3,  // no meter answered within the timeout
    kLinkLost = 4, // the link was lost during the download
    kBroker = 5,   // the MQTT broker refused the connection, or its certificate did not verify
};

// What to do.
enum class Command { Watch, Download, Study };

// The command line, checked.
struct Options {
    Command command = Command::Watch;
    int port = 0;                           // 1 to 16; 0 scans all ports
    std::optional<double> duration;         // watch: end after so many seconds
    double timeout = 20;                    // download: give up when no meter answered by then
    std::string output;                     // the file to write (download) or append to (watch)
    std::optional<PowerFactor> powerFactor; // watch: real power and energy at this factor
    std::optional<mqtt::MqttSettings> mqtt; // watch: publish to this broker
    std::vector<AlarmRule> alarms;          // watch: --alarm, in the order given
    std::string onAlarm;                    // watch: the command run on every raise and clear
    std::string logWhen;                    // watch: the alarm the log follows
    std::string stopWhen;                   // watch: the alarm that ends the watch
    double preTriggerSeconds = 10;          // --log-when: readings kept before a raise
    double postTriggerSeconds = 10;         // --log-when: readings logged after a clear
    std::string meterId;                    // the meter's name (--meter-id, or the host's)
    std::optional<web::HttpAddress> http;   // watch: serve the web page and metrics here
    std::string httpToken;                  // the token every request must bring, if any
    std::uint64_t logMinFreeBytes = 0;      // watch: the log pauses below this much free space
    StudyRequest study;                     // study: the logs, the settings, the outputs
};

// Outcome of reading the command line.
struct ParsedArguments {
    enum Outcome { Run, Help, Version, Error };
    Outcome outcome = Error;
    Options options;
    std::string error; // one line naming what was wrong
};

// Reads the arguments (the program's name first, as QCoreApplication::arguments() has them).
ParsedArguments parseArguments(const QStringList& arguments);

// The text of --help.
extern const char* const kHelpText;

} // namespace talviren::cli
