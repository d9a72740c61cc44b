#include "cli/Commands.h"

#include "cli/PortReport.h"
#include "export/AtomicFile.h"
#include "log/CsvLog.h"
#include "log/CsvLogWriter.h"
#include "export/FileName.h"
#include "export/TextFiles.h"
#include "export/Workbook.h"
#include "session/MeterSession.h"
#include "mqtt/MqttPublisher.h"

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
class CommandBase : public LinkObserver {
public:
    explicit CommandBase(const Options& options) : options_(options) {
        session_.link().setOnlyPort(static_cast<std::int16_t>(options.port));
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
        // Unattended, there is no reason to wait half a second for the first port.
        QTimer::singleShot(0, &session_, [this] { session_.link().Findcomtim_Timer(); });
        QCoreApplication::exec();
        return exitCode_;
    }

protected:
    void linkCameUp(int port, const std::string& devicePath) override {
        say(now() + " connected on COM" + std::to_string(port) + " (" + devicePath + ")\n");
        // Hand over to polling at once instead of at the next scan tick.
        QTimer::singleShot(0, &session_, [this] {
            if (session_.scanning() && session_.link().linkUp()) {
                session_.link().Findcomtim_Timer();
                metersFound();
            }
        });
    }
    void linkLost() override { say(now() + " link lost, searching for the meter\n"); }

    // The link is handed over to polling.
    virtual void metersFound() {}

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

// watch: a CSV line per live reading on standard output and in the log file.
class WatchCommand : public CommandBase {
public:
    explicit WatchCommand(const Options& options) : CommandBase(options) {
        ports_.setCycleHandler([](const std::string& lines) {
            say(now() + " no meter answered; ports tried:\n" + lines);
        });
    }

    int run() {
        if (options_.mqtt && !startPublishing()) {
            return kBroker;
        }
        if (!options_.output.empty()) {
            log_ = std::make_unique<CsvLogWriter>(options_.output);
            if (!log_->open()) {
                say("talviren-cli: " + log_->error() + "\n");
                return kFailure;
            }
            // The last line before a pause reaches the disk within a second too.
            QObject::connect(&syncTimer_, &QTimer::timeout, [this] {
                if (!log_->syncIfDue(systemClock().steadyNs())) {
                    logFailed();
                }
            });
            syncTimer_.start(100);
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
    void metersFound() override { session_.link().comtim_Timer(); } // the first reading now

    void liveReading(const TimedReading& reading) override {
        const std::string line = csvlog::line(reading);
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
        if (log_ && !log_->failed() && !log_->appendLine(line)) {
            logFailed();
        }
    }

    void logFailed() {
        say("talviren-cli: " + log_->error() + "\n");
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
        return true;
    }

    void beforeExit(int code) override {
        if (publisher_) {
            session_.removeConsumer(publisher_.get());
            if (code != kBroker) {
                publisher_->finish(2000); // "offline", retained, and no last will
            }
        }
    }

    std::unique_ptr<CsvLogWriter> log_;
    std::unique_ptr<mqtt::MqttPublisher> publisher_;
    QTimer syncTimer_;
};

// download: every stored reading into one file, written whole or not at all.
class DownloadCommand : public CommandBase {
public:
    using CommandBase::CommandBase;

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
    void metersFound() override {
        MeterLink& link = session_.link();
        link.setViewMode(MeterLink::kRecordView);
        link.Button_read_Click();
        downloading_ = link.downloadActive() || link.readRequested();
    }

    void downloadProgress(int received, int expected) override {
        if (!::isatty(STDERR_FILENO) || expected <= 0) {
            return;
        }
        const int readings = expected / static_cast<int>(kReadingSize);
        const int done = received / static_cast<int>(kReadingSize);
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
        const RecordTable& table = session_.table();
        std::string error;
        bool ok = false;
        if (hasExtension(path, ".csv")) {
            std::string csv = "number," + std::string(csvlog::kReadingColumns) + "\n";
            int n = 0;
            for (const DecodedReading& reading : result.readings) {
                csv += std::to_string(++n) + "," + csvlog::readingFields(reading) + "\n";
            }
            ok = writeFileAtomically(path, csv, error);
        } else if (hasExtension(path, ".xls") || hasExtension(path, ".xlsx")) {
            ok = ExportRecordWorkbook(table, path, error);
        } else {
            ok = writeFileAtomically(path, recordTableText(table), error);
        }
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
