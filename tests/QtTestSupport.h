#pragma once

#include "FakeLink.h"

#include "link/MeterLink.h"
#include "save/SaveDialog.h"
#include "session/MeterSession.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <deque>
#include <functional>
#include <malloc.h>
#include <optional>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <vector>

namespace talviren::testing {

// The link is up and no longer waits for the scan's hand-over.
inline bool handedOver(LinkState state) {
    return linkIsUp(state) && state != LinkState::Answered;
}

// Runs the event loop until the condition holds or the time is up.
inline bool waitFor(const std::function<bool()>& condition, int timeoutMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

// Processor time this process has used so far, in seconds (to prove an idle event loop).
inline double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Heap memory this process has allocated and not freed, in megabytes (allocated, touched or
// not; zero where a sanitizer replaces the allocator).
inline double heapInUseMegabytes() {
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

// The whole content of a file, empty when it cannot be read.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// talviren-sim in its own process, posing as a port of a private ports folder.
class SimProcess {
public:
    explicit SimProcess(const QString& configHome) : configHome_(configHome) {}
    ~SimProcess() { stop(); }

    // Starts the simulator with the given options; false when it did not come up.
    bool start(const QStringList& arguments) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome_);
        process_.setProcessEnvironment(env);
        process_.start(QStringLiteral(TALVIREN_SIM_PATH), arguments);
        if (!process_.waitForStarted(5000)) {
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (!output_.contains("\nlink ") && clock.elapsed() < 5000) {
            process_.waitForReadyRead(100);
            output_ += process_.readAllStandardOutput();
        }
        return output_.contains("\nlink ");
    }
    // Makes the meter fall silent, or answer again.
    void toggleSilence() { ::kill(static_cast<pid_t>(process_.processId()), SIGUSR1); }
    // Ends the simulator at once, as when the cable is pulled: the terminal goes away.
    void kill() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    void stop() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                kill();
            }
        }
    }
    QString devicePath() const {
        for (const QByteArray& line : output_.split('\n')) {
            if (line.startsWith("pty ")) {
                return QString::fromLocal8Bit(line.mid(4));
            }
        }
        return {};
    }
    QProcess& process() { return process_; }

private:
    QString configHome_;
    QProcess process_;
    QByteArray output_;
};

// The session on the real port and real 500 ms timers, with ports from a private folder.
struct SerialRig {
    SerialRig() {
        ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
        port.setDeviceLister([] { return std::vector<std::string>{}; });
        session.addConsumer(&events);
        link.startUp();
    }
    ~SerialRig() { session.removeConsumer(&events); }
    // The meter answered and the scan has handed over to polling.
    bool connected(int timeoutMs = 12000) {
        return waitFor([this] { return handedOver(link.state()); }, timeoutMs);
    }

    QTemporaryDir config;
    SimProcess sim{config.path()};
    MeterSession session;
    MeterLink& link = session.link();
    QtSerialPort& port = session.port();
    RecordTable& table = session.table();
    EventLog events;
};

// talviren-cli running with a private ports folder (and more environment), read as it goes.
struct CliProcess {
    CliProcess(const QString& config, const QStringList& arguments,
               const QProcessEnvironment& extra = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        env.insert(extra);
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(TALVIREN_CLI_PATH), arguments);
    }
    bool finished(int timeoutMs) { return process.waitForFinished(timeoutMs); }
    QString errors() { return err += QString::fromUtf8(process.readAllStandardError()); }
    QStringList lines() {
        out += QString::fromUtf8(process.readAllStandardOutput());
        return out.split('\n', Qt::SkipEmptyParts);
    }
    QProcess process;
    QString err;
    QString out;
};

// What a run of talviren-cli printed and how it ended.
struct CliRun {
    int exitCode = -1; // -1: it did not end in time, or crashed
    QStringList lines; // standard output
    QString errors;    // standard error
};

// Runs talviren-cli with a private ports folder (and more environment) until it ends.
inline CliRun runCli(const QString& configHome, const QStringList& arguments, int timeoutMs,
                     const QProcessEnvironment& extra = {}) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    env.insert(extra);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(TALVIREN_CLI_PATH), arguments);
    CliRun run;
    const bool ended = process.waitForFinished(timeoutMs);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    run.exitCode = ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.lines = QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// A save dialog answered by the test: each exec takes the next answer.
class ScriptedDialog : public SaveDialog {
public:
    struct Answer {
        QString path; // empty: Cancel
        int typeIndex = 1;
    };
    std::optional<QString> exec(const SaveDialogRequest& request) override {
        requests.push_back(request);
        typeIndexBefore.push_back(selectedTypeIndex());
        if (answers.empty()) {
            return std::nullopt;
        }
        const Answer answer = answers.front();
        answers.pop_front();
        if (answer.path.isEmpty()) {
            return std::nullopt;
        }
        setSelectedTypeIndex(answer.typeIndex);
        return answer.path;
    }
    std::deque<Answer> answers;
    std::vector<SaveDialogRequest> requests;
    std::vector<int> typeIndexBefore;
};

// An open dialog answered by the test: each exec takes the next paths (empty: Cancel).
class ScriptedOpenDialog : public OpenDialog {
public:
    QStringList exec(const QString& folder, const QString&) override {
        folders.push_back(folder);
        if (answers.empty()) {
            return {};
        }
        QStringList paths = answers.front();
        answers.pop_front();
        paths.removeAll(QString());
        return paths;
    }
    std::deque<QStringList> answers;
    std::vector<QString> folders;
};

// Mounts a file system of `kilobytes` at `folder` in a mount namespace of this process's own
// (each test runs in a process of its own); false where the system does not allow it.
inline bool mountSmallFileSystem(const QString& folder, int kilobytes) {
    const bool privateNamespace =
        ::unshare(CLONE_NEWNS) == 0 || ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0;
    if (!privateNamespace || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return false;
    }
    const std::string options = "size=" + std::to_string(kilobytes) + "k";
    return ::mount("tmpfs", qPrintable(folder), "tmpfs", 0, options.c_str()) == 0;
}

} // namespace talviren::testing
