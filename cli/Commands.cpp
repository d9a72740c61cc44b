#include "cli/Commands.h"

#include "cli/PortReport.h"
#include "cli/RunSummary.h"
#include "export/FileTypes.h"
#include "log/CsvLog.h"
#include "mqtt/MqttPublisher.h"
#include "session/MeterSession.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace talviren::cli {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int) {
    stopRequested = 1;
}

std::string now() {
    return csvlog::localTime(systemClock().wallMs());
}

void say(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

// What both commands share: the session on the chosen ports, the messages about the link,
// the report of the ports tried, and a clean end on a signal.
class CommandBase : public LinkEvents {
public:
    explicit CommandBase(const Options& options) : options_(options) {
        session_.link().setOnlyPort(options.port);
        // Unattended, there is no reason to wait half a second for the first port or poll.
        session_.link().setPromptStart(true);
        session_.addConsumer(&ports_);
        session_.addConsumer(this);
        QObject::connect(&stopWatch_, &QTimer::timeout, [this] {
            if (stopRequested) {
                finish(kOk);
            }
        });
        stopWatch_.start(100);
    }
    ~CommandBase() override {
        session_.removeConsumer(this);
        session_.removeConsumer(&ports_);
    }

    // Starts the link and runs the event loop until finish().
    int exec() {
        session_.link().startUp();
        QCoreApplication::exec();
        return exitCode_;
    }

protected:
    void linkCameUp(const LinkUp& up) override {
        say(now() + " connected on COM" + std::to_string(up.port) + " (" + up.devicePath + ")\n");
        // Out of the receive handler first: the engine has just handed over to polling.
        QTimer::singleShot(0, &session_, [this] {
            if (linkIsUp(session_.link().state())) {
                meterFound();
            }
        });
    }
    void linkLost(const LinkLoss& loss) override {
        if (loss.wasUp) {
            say(now() + " link lost, searching for the meter\n");
        }
    }

    // The meter answered and is polled.
    virtual void meterFound() {}

    // Ends the command with `code` (the first one given counts) from the event loop, never
    // from inside a reading's path: the last words may take a moment of their own.
    void finish(int code) {
        if (finished_) {
            return;
        }
        finished_ = true;
        exitCode_ = code;
        QTimer::singleShot(0, &session_, [this] {
            beforeExit(exitCode_);
            QCoreApplication::exit(exitCode_);
        });
    }
    // The command's last words before the program ends with `code`.
    virtual void beforeExit(int) {}

    Options options_;
    MeterSession session_;
    PortReport ports_;

private:
    QTimer stopWatch_;
    int exitCode_ = kOk;
    bool finished_ = false;
};

// watch: a CSV line per live reading on standard output, and in the log file through the
// session's recording.
class WatchCommand : public CommandBase, private RecordingListener {
public:
    explicit WatchCommand(const Options& options) : CommandBase(options) {
        ports_.setCycleHandler([](const std::string& lines) {
            say(now() + " no meter answered; ports tried:\n" + lines);
        });
        session_.recording().addListener(this);
    }
    ~WatchCommand() override { session_.recording().removeListener(this); }

    int run() {
        if (options_.mqtt && !startPublishing()) {
            return kBroker;
        }
        std::string error;
        if (!options_.output.empty() && !session_.recording().startLog(options_.output, error)) {
            say("talviren-cli: " + error + "\n");
            return kFailure;
        }
        std::printf("%s\n", std::string(csvlog::kHeader).c_str());
        std::fflush(stdout);
        if (options_.duration) {
            QTimer::singleShot(static_cast<int>(*options_.duration * 1000), &session_,
                               [this] { finish(kOk); });
        }
        return exec();
    }

private:
    void readingRecorded(const TimedReading& reading) override {
        const std::string line = csvlog::line(reading);
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }

    void logFailed(const std::string& error) override {
        say("talviren-cli: " + error + "\n");
        finish(kFailure);
    }

    bool startPublishing() {
        mqtt::MqttPublisher::Reporting reporting;
        reporting.say = [](const std::string& line) { say(line + "\n"); };
        reporting.fatal = [this](const std::string& line) {
            say("talviren-cli: " + line + "\n");
            finish(kBroker);
        };
        publisher_ = std::make_unique<mqtt::MqttPublisher>(
            *options_.mqtt, QLocale().decimalPoint().toStdString(), reporting);
        std::string error;
        if (!publisher_->start(error)) {
            say("talviren-cli: " + error + "\n");
            return false;
        }
        session_.addConsumer(publisher_.get());
        publisher_->listenTo(session_.recording());
        return true;
    }

    void beforeExit(int code) override {
        say(now() + " " + runSummary(session_.recording(), options_.powerFactor) + "\n");
        if (publisher_) {
            session_.removeConsumer(publisher_.get());
            publisher_->stopListening();
            if (code != kBroker) {
                publisher_->finish(2000); // "offline", retained, and no last will
            }
        }
    }

    std::unique_ptr<mqtt::MqttPublisher> publisher_;
};

// download: every stored reading into one file, written whole or not at all.
class DownloadCommand : public CommandBase {
public:
    explicit DownloadCommand(const Options& options) : CommandBase(options) {
        session_.setPolling(Polling::KeepAlive); // as the window's record view polls
    }

    int run() {
        QTimer::singleShot(static_cast<int>(options_.timeout * 1000), &session_, [this] {
            if (!downloading_) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%g", options_.timeout);
                say(std::string("talviren-cli: no meter answered within ") + seconds + " s\n" +
                    ports_.lines());
                finish(kNoMeter);
            }
        });
        return exec();
    }

private:
    void meterFound() override {
        if (!downloading_) {
            downloading_ = session_.link().requestDownload();
        }
    }

    void downloadProgress(const DownloadProgress& progress) override {
        if (!::isatty(STDERR_FILENO) || progress.bytesExpected <= 0) {
            return;
        }
        const int readings = progress.readingsExpected();
        const int done = progress.readingsReceived();
        const int width = 40;
        const int filled = static_cast<int>(static_cast<long long>(width) * done / readings);
        std::fprintf(stderr, "\r[%s%s] %d/%d readings",
                     std::string(static_cast<std::size_t>(filled), '#').c_str(),
                     std::string(static_cast<std::size_t>(width - filled), ' ').c_str(), done,
                     readings);
        std::fflush(stderr);
    }

    void downloadEnded(const DownloadResult& result) override {
        if (!downloading_) {
            return;
        }
        downloading_ = false;
        if (::isatty(STDERR_FILENO)) {
            std::fputc('\n', stderr);
        }
        if (!result.completed) {
            say("talviren-cli: the link was lost during the download\n");
            finish(kLinkLost);
            return;
        }
        finish(write(result));
    }

    int write(const DownloadResult& result) {
        const std::string& path = options_.output;
        SaveData data;
        data.table = &session_.table();
        data.downloaded = &result.readings;
        std::string error;
        const bool ok =
            writeDataFile(chooseFileType(SaveView::Download, 0, path), data, path, error);
        if (!ok) {
            say("talviren-cli: cannot write " + path + ": " + error + "\n");
            return kFailure;
        }
        say(std::to_string(result.readings.size()) + " readings written to " + path + "\n");
        return kOk;
    }

    bool downloading_ = false;
};

} // namespace

void installStopSignals() {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
}

int run(const Options& options) {
    if (options.command == Command::Watch) {
        WatchCommand command(options);
        return command.run();
    }
    DownloadCommand command(options);
    return command.run();
}

} // namespace talviren::cli
