#include "cli/AlarmCommands.h"

#include "log/CsvLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>

namespace talviren::cli {

AlarmCommands::AlarmCommands(std::string command, std::string meterId,
                             std::function<void(const std::string&)> say)
    : command_(std::move(command)), meterId_(std::move(meterId)), say_(std::move(say)) {}

AlarmCommands::~AlarmCommands() {
    for (QProcess* process : running_) {
        process->disconnect();
        process->kill();
        process->waitForFinished(1000);
        delete process;
    }
}

void AlarmCommands::alarmChanged(const AlarmEvent& event) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TALVIREN_ALARM"), QString::fromStdString(event.rule->name));
    env.insert(QStringLiteral("TALVIREN_ALARM_STATE"),
               event.raised ? QStringLiteral("raised") : QStringLiteral("cleared"));
    env.insert(QStringLiteral("TALVIREN_ALARM_VALUE"), QString::fromStdString(event.valueText));
    env.insert(QStringLiteral("TALVIREN_ALARM_TIME"),
               QString::fromStdString(csvlog::timeField(event.wallMs)));
    env.insert(QStringLiteral("TALVIREN_METER_ID"), QString::fromStdString(meterId_));
    waiting_.push_back(env);
    startNext();
}

void AlarmCommands::startNext() {
    while (running() < kMostAtOnce && !waiting_.empty()) {
        auto* process = new QProcess;
        process->setProcessEnvironment(waiting_.front());
        const std::string alarm =
            waiting_.front().value(QStringLiteral("TALVIREN_ALARM")).toStdString();
        waiting_.pop_front();
        process->setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(process, &QProcess::readyReadStandardOutput, this, [process] {
            const QByteArray output = process->readAllStandardOutput();
            std::fwrite(output.constData(), 1, static_cast<std::size_t>(output.size()), stderr);
            std::fflush(stderr);
        });
        QObject::connect(process, &QProcess::finished, this,
                         [this, process, alarm](int code, QProcess::ExitStatus status) {
                             const bool failed = status != QProcess::NormalExit || code != 0;
                             ended(process, alarm, failed,
                                   status != QProcess::NormalExit
                                       ? "was killed"
                                       : "exited with " + std::to_string(code));
                         });
        QObject::connect(process, &QProcess::errorOccurred, this,
                         [this, process, alarm](QProcess::ProcessError error) {
                             if (error == QProcess::FailedToStart) {
                                 ended(process, alarm, true,
                                       "could not start: " + process->errorString().toStdString());
                             }
                         });
        running_.insert(process);
        process->start(QStringLiteral("/bin/sh"),
                       {QStringLiteral("-c"), QString::fromStdString(command_)});
    }
}

void AlarmCommands::ended(QProcess* process, const std::string& alarm, bool failed,
                          const std::string& why) {
    if (!running_.erase(process)) {
        return; // told twice (an error, then the end)
    }
    if (failed && toldFailed_.insert(alarm).second) {
        say_("talviren-cli: --on-alarm for alarm " + alarm + " " + why);
    }
    process->deleteLater();
    startNext();
}

void AlarmCommands::finish(int graceMs) {
    QElapsedTimer clock;
    clock.start();
    while ((!running_.empty() || !waiting_.empty()) && clock.elapsed() < graceMs) {
        QCoreApplication::processEvents();
        if (!running_.empty()) {
            (*running_.begin())->waitForFinished(20); // tells its end, which starts the next
        }
    }
    waiting_.clear();
    for (QProcess* process : std::set<QProcess*>(running_)) {
        process->disconnect();
        process->terminate(); // SIGTERM
        process->waitForFinished(1000);
        running_.erase(process);
        delete process;
    }
}

} // namespace talviren::cli
