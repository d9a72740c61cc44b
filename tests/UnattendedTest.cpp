// talviren-cli watch as a service left alone for long: a disk that fills up and is freed again,
// a rotation, a power cut's NUL tail, an adapter unplugged and plugged back, and systemd's
// notifications, against talviren-sim and the real binaries.

#include "QtTestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/socket.h>
#include <sys/statvfs.h>
#include <sys/un.h>

using namespace talviren::testing;

namespace {

QStringList fileLines(const QString& path) {
    return QString::fromUtf8(readAll(path)).split('\n', Qt::SkipEmptyParts);
}

bool waitForText(CliProcess& cli, const QString& text, int timeoutMs) {
    return waitFor([&] { return cli.errors().contains(text); }, timeoutMs);
}

TEST(Unattended, AFullDiskPutsTheLogBehindAndFreedItCatchesUpWithEveryLineOnce) {
    QTemporaryDir config;
    const QString small = config.filePath("small");
    QDir().mkpath(small);
    if (!mountSmallFileSystem(small, 64)) {
        GTEST_SKIP() << "a small file system cannot be mounted here";
    }
    // A log from before that all but fills its block, and a file system filled up behind it:
    // the first new line has no room.
    const QString log = small + "/log.csv";
    const QByteArray header = "time,function,name1,text1,name2,text2,value1,value2\n";
    const QByteArray earlier =
        "2026-12-07T14:03:59.250+01:00,1,AC I,12.34A,AC U,231.3V,12.34,231.3\n";
    QStringList before = {QString::fromUtf8(header.trimmed())};
    {
        QFile file(log);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(header);
        for (qint64 size = header.size(); size + earlier.size() <= 4096 - 40;
             size += earlier.size()) {
            file.write(earlier);
            before << QString::fromUtf8(earlier.trimmed());
        }
    }
    QFile filler(small + "/filler");
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    for (qint64 chunk = 4096; chunk > 0; chunk /= 2) {
        while (filler.write(QByteArray(static_cast<int>(chunk), 'x')) == chunk) {
        }
    }
    filler.close();
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "3", "--function", "1"}));
    CliProcess cli(config.path(), {"watch", "--port", "3", "--output", log});
    ASSERT_TRUE(waitForText(cli, "log behind: cannot write " + log + ": No space left", 30000))
        << cli.errors().toStdString();
    const qsizetype behindAt = cli.lines().size();
    ASSERT_TRUE(waitFor([&] { return cli.lines().size() >= behindAt + 6; }, 8000))
        << "standard output never waits for the disk";
    QFile::remove(small + "/filler");
    ASSERT_TRUE(waitForText(cli, " readings written late", 12000)) << cli.errors().toStdString();
    EXPECT_TRUE(cli.errors().contains(QRegularExpression("log caught up: [1-9]\\d* readings")));
    const qsizetype caughtUpAt = cli.lines().size();
    ASSERT_TRUE(waitFor([&] { return cli.lines().size() >= caughtUpAt + 2; }, 5000));
    cli.process.terminate();
    ASSERT_TRUE(cli.finished(8000));
    EXPECT_EQ(cli.process.exitCode(), 0) << cli.errors().toStdString();
    EXPECT_EQ(fileLines(log), before + cli.lines().mid(1)) << "every reading once, whole, in order";
}

TEST(Unattended, SighupAfterTheFileWasMovedStartsANewFileAndLosesNothing) {
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "4", "--function", "2"}));
    const QString log = config.filePath("log.csv");
    CliProcess cli(config.path(), {"watch", "--port", "4", "--output", log});
    ASSERT_TRUE(waitFor([&] { return cli.lines().size() >= 5; }, 10000));
    ASSERT_TRUE(QFile::rename(log, log + ".1")); // as logrotate does
    waitFor([] { return false; }, 700);          // a reading or so into the moved file
    ::kill(static_cast<pid_t>(cli.process.processId()), SIGHUP);
    ASSERT_TRUE(waitForText(cli, "opened anew", 3000)) << cli.errors().toStdString();
    const qsizetype reopenedAt = cli.lines().size();
    ASSERT_TRUE(waitFor([&] { return cli.lines().size() >= reopenedAt + 4; }, 5000));
    cli.process.terminate();
    ASSERT_TRUE(cli.finished(8000));
    EXPECT_EQ(cli.process.exitCode(), 0) << "SIGHUP does not end it";
    const QStringList old = fileLines(log + ".1");
    QStringList now = fileLines(log);
    ASSERT_FALSE(now.isEmpty());
    EXPECT_EQ(now.front(), cli.lines().front()) << "the new file starts with its header";
    now.removeFirst();
    EXPECT_EQ(old + now, cli.lines());
}

TEST(Unattended, ALogWithAPowerCutsNulTailIsMendedBeforeTheFirstNewLine) {
    QTemporaryDir config;
    const QString log = config.filePath("log.csv");
    {
        QFile file(log);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("time,function,name1,text1,name2,text2,value1,value2\n"
                   "2026-12-07T14:03:59.250+01:00,1,AC I,12.34A,AC U,231.3V,12.34,231.3\n"
                   "2026-12-07T14:03:59.750+01:00,1,AC I,12");
        file.write(QByteArray(4096, '\0'));
    }
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "5", "--function", "1"}));
    const CliRun run =
        runCli(config.path(), {"watch", "--port", "5", "--duration", "3", "--output", log}, 15000);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    const QByteArray content = readAll(log);
    EXPECT_FALSE(content.contains('\0'));
    const QStringList lines = fileLines(log);
    ASSERT_GE(run.lines.size(), 4);
    ASSERT_EQ(lines.size(), 3 + run.lines.size() - 1) << content.toStdString();
    EXPECT_EQ(lines[2], "2026-12-07T14:03:59.750+01:00,1,AC I,12") << "ended, not joined";
    EXPECT_EQ(lines.mid(3), run.lines.mid(1));
}

TEST(Unattended, AnAdapterPluggedBackUnderAnotherDeviceIsFoundAgain) {
    QTemporaryDir config;
    auto sim = std::make_unique<SimProcess>(config.path());
    ASSERT_TRUE(sim->start({"--port", "6", "--function", "3"}));
    const QString before = sim->devicePath();
    CliProcess cli(config.path(), {"watch", "--port", "6"});
    ASSERT_TRUE(waitForText(cli, "connected on COM6 (" + before + ")", 8000));
    // Another adapter behind the same pin, under a terminal of another number: it comes while
    // the old one is still there, so that the number cannot be the old one's.
    auto replacement = std::make_unique<SimProcess>(config.path());
    ASSERT_TRUE(replacement->start({"--port", "6", "--function", "3"}));
    const QString after = replacement->devicePath();
    EXPECT_NE(after, before);
    sim->kill(); // unplugged: the terminal and its link go
    ASSERT_TRUE(waitForText(cli, "link lost", 6000));
    ASSERT_TRUE(waitForText(cli, "connected on COM6 (" + after + ")", 12000))
        << cli.errors().toStdString();
    const qsizetype connectedAt = cli.lines().size();
    EXPECT_TRUE(waitFor([&] { return cli.lines().size() >= connectedAt + 2; }, 4000));
    cli.process.terminate();
    EXPECT_TRUE(cli.finished(8000));
}

// systemd's side of sd_notify: a datagram socket of the test's own.
class NotifySocket {
public:
    NotifySocket() : path_(folder_.filePath("notify")) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", qPrintable(path_));
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~NotifySocket() { ::close(fd_); }
    bool bound() const { return bound_; }
    const QString& path() const { return path_; }
    // Every message so far, in order.
    const QStringList& messages() {
        char buffer[4096];
        for (ssize_t got; (got = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
            messages_ << QString::fromUtf8(buffer, static_cast<int>(got));
        }
        return messages_;
    }

private:
    QTemporaryDir folder_;
    QString path_;
    int fd_ = -1;
    bool bound_ = false;
    QStringList messages_;
};

TEST(Unattended, SystemdHearsReadyTheWatchdogTheStatusAndTheEnd) {
    QTemporaryDir config;
    NotifySocket systemd;
    ASSERT_TRUE(systemd.bound());
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "8", "--function", "1"}));
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("NOTIFY_SOCKET", systemd.path());
    env.insert("WATCHDOG_USEC", "1000000");
    cli.setProcessEnvironment(env);
    // WATCHDOG_PID is the service's own pid: the shell's, which exec hands on.
    cli.start("/bin/sh", {"-c", QString("WATCHDOG_PID=$$ exec '%1' watch --port 8 --output '%2'")
                                    .arg(TALVIREN_CLI_PATH, config.filePath("log.csv"))});
    const auto heard = [&](const QString& text) { return systemd.messages().contains(text); };
    ASSERT_TRUE(waitFor([&] { return heard("READY=1"); }, 5000));
    ASSERT_TRUE(waitFor(
        [&] {
            return systemd.messages()
                       .filter(QRegularExpression("^STATUS=connected on COM8 "
                                                  "\u00B7 [1-9]\\d* readings$"))
                       .size() > 0;
        },
        8000))
        << systemd.messages().join(" | ").toStdString();
    EXPECT_TRUE(waitFor([&] { return systemd.messages().count("WATCHDOG=1") >= 4; }, 4000))
        << "every half of WATCHDOG_USEC";
    cli.terminate();
    ASSERT_TRUE(cli.waitForFinished(8000));
    waitFor([] { return false; }, 100);
    EXPECT_EQ(systemd.messages().front(), "READY=1");
    EXPECT_EQ(systemd.messages().back(), "STOPPING=1");
}

} // namespace
