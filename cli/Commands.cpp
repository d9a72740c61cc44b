#include "cli/Commands.h"

#include "cli/AlarmCommands.h"
#include "cli/PortReport.h"
#include "cli/QtIoLoop.h"
#include "cli/RunSummary.h"
#include "cli/StudyCommand.h"
#include "export/FileTypes.h"
#include "log/CsvLog.h"
#include "log/TriggeredLog.h"
#include "mqtt/MqttPublisher.h"
#include "service/ClockSync.h"
#include "service/ServiceNotifier.h"
#include "session/MeterSession.h"
#include "web/HttpServer.h"
#include "web/WebPage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLocale>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <limits>
#include <memory>
#include <unistd.h>
#include <utility>

namespace talviren::cli {

namespace {

volatile std::sig_atomic_t stopRequested = 0;
volatile std::sig_atomic_t reopenRequested = 0;

void onStopSignal(int) {
    stopRequested = 1;
}

void onReopenSignal(int) {
    reopenRequested = 1;
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
            if (std::exchange(reopenRequested, 0)) {
                reopen();
            }
            every100ms();
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
        started();
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
    // The search has begun.
    virtual void started() {}
    // SIGHUP: the log's file is opened anew.
    virtual void reopen() {}
    // The signals are looked at ten times a second; so is whatever else needs it.
    virtual void every100ms() {}

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
// session's recording (or, with --log-when, around an alarm); the alarms on standard error, to
// the --on-alarm command and to the broker.
class WatchCommand : public CommandBase, private RecordingListener, private AlarmListener {
public:
    explicit WatchCommand(const Options& options) : CommandBase(options) {
        // Nothing draws the run: its memory stays as it is however long it runs.
        session_.recording().keepLatestOnly();
        ports_.setCycleHandler([](const std::string& lines) {
            say(now() + " no meter answered; ports tried:\n" + lines);
        });
        session_.recording().addListener(this);
        session_.alarms().addListener(this);
        if (!options.onAlarm.empty()) {
            commands_ =
                std::make_unique<AlarmCommands>(options.onAlarm, options.meterId,
                                                [](const std::string& line) { say(line + "\n"); });
            session_.alarms().addListener(commands_.get());
        }
    }
    ~WatchCommand() override {
        stopServing();
        session_.alarms().removeListener(this);
        if (commands_) {
            session_.alarms().removeListener(commands_.get());
        }
        session_.recording().removeListener(this);
    }

    int run() {
        if (options_.mqtt && !startPublishing()) {
            return kBroker;
        }
        std::string error;
        if (!options_.output.empty()) {
            Recording& recording = session_.recording();
            if (!recording.startLog(options_.output, error, options_.logMinFreeBytes)) {
                say("talviren-cli: " + error + "\n");
                return kFailure;
            }
            if (!options_.logWhen.empty()) {
                // The file takes the readings around alarm --log-when only.
                recording.setLogEveryReading(false);
                triggered_ = std::make_unique<TriggeredLog>(
                    *recording.log(), static_cast<std::int64_t>(options_.preTriggerSeconds * 1e9),
                    static_cast<std::int64_t>(options_.postTriggerSeconds * 1e9));
            }
        }
        if (options_.http && !startServing()) {
            return kFailure;
        }
        session_.meter().setPowerFactor(options_.powerFactor);
        session_.meter().setAlarms(options_.alarms);
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
        if (triggered_) {
            triggered_->reading(reading);
        }
    }

    void logBehind(bool behind) override {
        if (behind) {
            say(now() + " log behind: " + session_.recording().log()->error() +
                "; readings wait in memory and are tried again every 5 s\n");
        }
    }

    void logNews(const std::string& line) override { say(now() + " " + line + "\n"); }

    void reopen() override {
        if (const DurableLog* log = session_.recording().log()) {
            session_.recording().reopenLog(systemClock().steadyNs());
            say(now() + " SIGHUP: log " + log->path() + " opened anew\n");
        }
    }

    void started() override {
        if (feed_) {
            feed_->setClockSynchronised(clock_.synchronised());
        }
        // The log is open and the search has begun.
        service_.ready();
        if (service_.aliveIntervalNs() > 0) {
            QObject::connect(&alive_, &QTimer::timeout, [this] { service_.alive(); });
            alive_.start(static_cast<int>(service_.aliveIntervalNs() / 1'000'000));
            service_.alive();
        }
    }

    void every100ms() override {
        const std::int64_t nowNs = systemClock().steadyNs();
        if (nowNs - clockCheckedNs_ >= 10'000'000'000) {
            checkClock();
            clockCheckedNs_ = nowNs;
        }
        if (service_.active()) {
            service_.status(statusText(), nowNs);
        }
    }

    // Says once that the clock is not synchronised, and again when it is.
    void checkClock() {
        if (const std::string line = clock_.check(); !line.empty()) {
            say(now() + " " + line + "\n");
        }
        if (feed_) {
            feed_->setClockSynchronised(clock_.synchronised());
        }
    }

    // What systemctl status shows: "connected on COM1 · 123456 readings · log 3 behind".
    std::string statusText() {
        std::string text = linkIsUp(session_.link().state())
                               ? "connected on COM" + std::to_string(meterPort_)
                               : std::string("searching for the meter");
        text += " \u00B7 " + std::to_string(session_.recording().liveCount()) + " readings";
        if (const DurableLog* log = session_.recording().log(); log && log->behind()) {
            text += " \u00B7 log " + std::to_string(log->waiting()) + " behind";
        }
        return text;
    }

    void linkCameUp(const LinkUp& up) override {
        meterPort_ = up.port;
        CommandBase::linkCameUp(up);
    }

    void alarmChanged(const AlarmEvent& event) override {
        say(csvlog::timeField(event.wallMs) + " alarm " + event.rule->name +
            (event.raised ? " raised: " : " cleared: ") + event.detail() + "\n");
        if (triggered_ && event.rule->name == options_.logWhen) {
            if (event.raised) {
                triggered_->start(event.reading ? event.reading->steadyNs
                                                : systemClock().steadyNs());
            } else {
                triggered_->stop(event.reading ? event.reading->steadyNs
                                               : systemClock().steadyNs());
            }
        }
        if (event.raised && event.rule->name == options_.stopWhen) {
            say("stopped by alarm " + event.rule->name + "\n");
            finish(kOk);
        }
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
        publisher_->listenToAlarms(session_.alarms());
        return true;
    }

    // The page, its events and the metrics, fed by the session like every other consumer.
    bool startServing() {
        std::string warning;
        web::WebSite::Settings settings;
        settings.meterId = options_.meterId;
        settings.decimalSeparator = QLocale().decimalPoint().toStdString();
        settings.token = options_.httpToken;
        settings.page = web::webPage(web::kChartFolder, warning);
        if (!warning.empty()) {
            say("talviren-cli: " + warning + "\n");
        }
        feed_ = std::make_unique<web::LiveFeed>(session_.recording(), session_.alarms(),
                                                options_.powerFactor);
        site_ = std::make_unique<web::WebSite>(*feed_, std::move(settings));
        server_ = std::make_unique<web::HttpServer>(*site_, *feed_, loop_);
        std::string error;
        if (!server_->listen(*options_.http, error)) {
            say("talviren-cli: " + error + "\n");
            server_.reset();
            return false;
        }
        session_.addConsumer(feed_.get());
        session_.recording().addListener(feed_.get());
        session_.alarms().addListener(feed_.get());
        web::HttpAddress shown = *options_.http;
        shown.port = server_->port();
        say(now() + " serving http://" + shown.text() + "/\n");
        return true;
    }

    void stopServing() {
        server_.reset(); // closes every connection
        if (feed_) {
            session_.alarms().removeListener(feed_.get());
            session_.recording().removeListener(feed_.get());
            session_.removeConsumer(feed_.get());
        }
    }

    void beforeExit(int code) override {
        service_.stopping();
        if (server_) {
            // What the event streams have not sent yet goes out before they close: a window
            // that follows this logger then has every reading it printed.
            session_.link().shutDown();
            QElapsedTimer flushing;
            flushing.start();
            while (flushing.elapsed() < 200) {
                QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            }
        }
        stopServing();
        say(now() + " " + runSummary(session_.recording(), options_.powerFactor) + "\n");
        if (commands_ && commands_->running() > 0) {
            // The run is over: no more readings while the commands get their five seconds.
            session_.link().shutDown();
            commands_->finish(5000); // then SIGTERM to what still runs
        }
        session_.recording().stopLog(); // what is written is synced; what waits is lost
        if (publisher_) {
            session_.removeConsumer(publisher_.get());
            publisher_->stopListening();
            publisher_->stopListeningToAlarms();
            if (code != kBroker) {
                publisher_->finish(2000); // "offline", retained, and no last will
            }
        }
    }

    std::unique_ptr<mqtt::MqttPublisher> publisher_;
    QtIoLoop loop_;
    std::unique_ptr<web::LiveFeed> feed_; // outlives the server, which reads it
    std::unique_ptr<web::WebSite> site_;
    std::unique_ptr<web::HttpServer> server_;
    std::unique_ptr<AlarmCommands> commands_;
    std::unique_ptr<TriggeredLog> triggered_;
    ServiceNotifier service_;
    QTimer alive_;
    ClockSync clock_;
    std::int64_t clockCheckedNs_ = std::numeric_limits<std::int64_t>::min() / 2;
    int meterPort_ = 0;
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
    std::signal(SIGHUP, onReopenSignal);
}

int run(const Options& options) {
    if (options.command == Command::Study) {
        return runStudyCommand(options.study);
    }
    if (options.command == Command::Watch) {
        WatchCommand command(options);
        return command.run();
    }
    DownloadCommand command(options);
    return command.run();
}

} // namespace talviren::cli
