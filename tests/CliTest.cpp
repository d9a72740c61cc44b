// talviren-cli against talviren-sim on a pseudo-terminal.

#include "QtTestSupport.h"
#include "RecordBlocks.h"

#include "app/Version.h"

#include "export/TextFiles.h"
#include "records/RecordDecoder.h"
#include "sim/MeterSimulator.h"

#include "WorkbookReadBack.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

TEST(Cli, WatchWritesTimestampedDecodedLines) {
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "4", "--function", "2"}));
    const QString csv = config.filePath("log.csv");
    const CliRun run =
        runCli(config.path(), {"watch", "--port", "4", "--duration", "3", "--output", csv}, 15000);
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    ASSERT_GE(run.lines.size(), 6) << run.errors.toStdString();
    EXPECT_EQ(run.lines[0], "time,function,name1,text1,name2,text2,value1,value2");
    const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d),2,AC I,"
        "(\\d+(\\.\\d+)?)A,DC U,(-?\\d+(\\.\\d+)?)V,([\\d.]+),(-?[\\d.]+)$"));
    for (int i = 1; i < run.lines.size(); ++i) {
        const auto match = pattern.match(run.lines[i]);
        ASSERT_TRUE(match.hasMatch()) << run.lines[i].toStdString();
        EXPECT_TRUE(QDateTime::fromString(match.captured(1), Qt::ISODateWithMs).isValid());
        EXPECT_EQ(match.captured(2), match.captured(6)) << "amperes in both forms";
    }
    EXPECT_TRUE(run.errors.contains("connected on COM4 (" + sim.devicePath() + ")"))
        << run.errors.toStdString();
    const QStringList logged = QString::fromUtf8(readAll(csv)).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(logged, run.lines) << "the file holds the same lines";
}

TEST(Cli, WatchEndsOnSigtermWithASummaryOfTheReadingsAndTheirEnergy) {
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "6", "--function", "1"}));
    CliProcess cli(config.path(), {"watch", "--port", "6", "--power-factor", ",8"});
    ASSERT_TRUE(waitFor([&] { return cli.lines().size() >= 6; }, 8000));
    cli.process.terminate();
    ASSERT_TRUE(cli.finished(5000));
    EXPECT_EQ(cli.process.exitCode(), 0);
    const QString errors = cli.errors();
    const QStringList lines = cli.lines();
    EXPECT_EQ(lines[0], "time,function,name1,text1,name2,text2,value1,value2");

    // The summary against the CSV lines: S = value1 × value2, energy by the trapezoid rule.
    double energy = 0, low = 1e300, high = -1, sum = 0;
    int count = 0;
    qint64 first = 0, last = 0, previousMs = 0;
    double previous = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(',');
        ASSERT_EQ(f.size(), 8) << lines[i].toStdString();
        const qint64 ms = QDateTime::fromString(f[0], Qt::ISODateWithMs).toMSecsSinceEpoch();
        first = i == 1 ? ms : first;
        last = ms;
        if (f[6].isEmpty() || f[7].isEmpty()) {
            previous = -1;
            continue;
        }
        const double va = f[6].toDouble() * f[7].toDouble();
        if (previous >= 0 && ms - previousMs <= 1250) {
            energy += (previous + va) / 2 * static_cast<double>(ms - previousMs) / 3.6e6;
        }
        previous = va;
        previousMs = ms;
        low = std::min(low, va);
        high = std::max(high, va);
        sum += va;
        ++count;
    }
    ASSERT_GT(count, 1);
    const QRegularExpression summary(QStringLiteral(
        "summary: (\\d+) readings over 0:00:(\\d\\d\\.\\d), energy ([\\d.]+) VAh \\(([\\d.]+) Wh "
        "at PF 0.8\\), S min ([\\d.]+) VA mean ([\\d.]+) VA max ([\\d.]+) VA\n$"));
    const auto match = summary.match(errors);
    ASSERT_TRUE(match.hasMatch()) << errors.toStdString();
    EXPECT_EQ(match.captured(1).toInt(), lines.size() - 1);
    EXPECT_NEAR(match.captured(2).toDouble(), static_cast<double>(last - first) / 1000, 0.051);
    EXPECT_NEAR(match.captured(3).toDouble(), energy, 0.00006);
    EXPECT_NEAR(match.captured(4).toDouble(), energy * 0.8, 0.00006);
    EXPECT_NEAR(match.captured(5).toDouble(), low, 1e-9);
    EXPECT_NEAR(match.captured(6).toDouble(), sum / count, 0.00006);
    EXPECT_NEAR(match.captured(7).toDouble(), high, 1e-9);
}

TEST(Cli, WatchReportsALossAndResumes) {
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "2", "--function", "1"}));
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(TALVIREN_CLI_PATH), {"watch", "--port", "2", "--duration", "9"});
    QByteArray out;
    QByteArray err;
    auto collect = [&] {
        out += cli.readAllStandardOutput();
        err += cli.readAllStandardError();
    };
    ASSERT_TRUE(waitFor(
        [&] {
            collect();
            return out.count('\n') >= 3;
        },
        5000));
    sim.toggleSilence();
    ASSERT_TRUE(waitFor(
        [&] {
            collect();
            return err.contains("link lost");
        },
        4000));
    const qsizetype before = out.count('\n');
    sim.toggleSilence();
    ASSERT_TRUE(waitFor(
        [&] {
            collect();
            return out.count('\n') >= before + 2;
        },
        5000))
        << err.toStdString();
    ASSERT_TRUE(cli.waitForFinished(10000));
    collect();
    EXPECT_EQ(cli.exitCode(), 0);
    EXPECT_EQ(err.count("connected"), 2) << err.toStdString();
}

TEST(Cli, DownloadWritesEveryFormat) {
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "1", "--records", "500", "--seed", "5"}));
    RecordTable expected;
    const auto block = sim::MeterSimulator::makeStoredBlock(500, 5);
    talviren::testing::showBlock(expected, block, 500, ".");
    for (const char* name : {"r.txt", "r.csv", "r.xls", "r.xlsx"}) {
        const QString path = config.filePath(QString::fromLatin1(name));
        const CliRun run = runCli(config.path(), {"download", "--output", path}, 30000);
        ASSERT_EQ(run.exitCode, 0) << name << ": " << run.errors.toStdString();
        const QByteArray bytes = readAll(path);
        if (QString(name).endsWith(".txt")) {
            EXPECT_EQ(bytes.toStdString(), recordTableText(expected)) << "the window's text file";
        } else if (QString(name).endsWith(".csv")) {
            const QStringList lines = QString::fromUtf8(bytes).split('\n', Qt::SkipEmptyParts);
            ASSERT_EQ(lines.size(), 501);
            EXPECT_EQ(lines[0], "number,function,name1,text1,name2,text2,value1,value2");
            for (int n = 1; n <= 500; ++n) {
                const QStringList fields = lines[n].split(',');
                ASSERT_EQ(fields.size(), 8) << lines[n].toStdString();
                EXPECT_EQ(fields[0].toInt(), n);
                EXPECT_EQ(fields[3].toStdString(), expected.cell(2 * n - 1, 1));
                EXPECT_EQ(fields[5].toStdString(), expected.cell(2 * n - 1, 2));
                EXPECT_EQ(fields[6].isEmpty(), fields[3].startsWith("OL"));
            }
        } else {
            EXPECT_EQ(readWorkbookBack(path.toStdString()), expectedWorkbookCells(expected))
                << name;
        }
    }
}

TEST(Cli, NoMeterEndsWithItsExitCodeAndSaysWhyForEachPort) {
    QTemporaryDir config;
    const QString folder = config.filePath("talviren/ports");
    QDir().mkpath(folder);
    QFile::link("/dev/talviren-missing", folder + "/COM7");
    const CliRun run = runCli(
        config.path(),
        {"download", "--port", "7", "--timeout", "2", "--output", config.filePath("x.txt")}, 10000);
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.errors.startsWith("talviren-cli: no meter answered within 2 s\n"))
        << run.errors.toStdString();
    EXPECT_TRUE(run.errors.contains("  COM7 /dev/talviren-missing: No such file or directory\n"))
        << run.errors.toStdString();
    EXPECT_FALSE(QFile::exists(config.filePath("x.txt")));
}

TEST(Cli, BadArgumentsExitTwoWithOneLineAndAPointerToHelp) {
    QTemporaryDir config;
    for (const QStringList& arguments :
         {QStringList{"download"}, QStringList{"watch", "--port", "x"}, QStringList{"fetch"}}) {
        const CliRun run = runCli(config.path(), arguments, 5000);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(' ').toStdString();
        const QStringList lines = run.errors.split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 2) << run.errors.toStdString();
        EXPECT_TRUE(lines[0].startsWith("talviren-cli: "));
        EXPECT_TRUE(lines[1].contains("--help"));
        EXPECT_TRUE(run.lines.isEmpty());
    }
    const CliRun help = runCli(config.path(), {"--help"}, 5000);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.lines.join('\n').contains("Exit codes"));
}

TEST(Cli, VersionComesFromTheProject) {
    QTemporaryDir config;
    const CliRun cli = runCli(config.path(), {"--version"}, 5000);
    EXPECT_EQ(cli.exitCode, 0);
    EXPECT_EQ(cli.lines, QStringList{"talviren-cli " TALVIREN_VERSION});
    QProcess sim;
    sim.start(QStringLiteral(TALVIREN_SIM_PATH), {"--version"});
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 0);
    EXPECT_EQ(sim.readAllStandardOutput(), "talviren-sim " TALVIREN_VERSION "\n");
}

} // namespace

namespace {

// The readings of watch's standard output: their times and currents.
struct Watched {
    explicit Watched(const QStringList& lines) {
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QStringList f = lines[i].split(',');
            times.push_back(QDateTime::fromString(f[0], Qt::ISODateWithMs).toMSecsSinceEpoch());
            amperes.push_back(f[6].toDouble());
        }
    }
    std::vector<qint64> times;
    std::vector<double> amperes;
};

TEST(Cli, AlarmsRaiseAndClearRunTheCommandAndTheLogFollowsTheAlarm) {
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "7", "--function", "1"}));
    const QString csv = config.filePath("around.csv");
    // The simulator's current rises from 12.34 A to 14.84 A within five seconds and falls
    // again: above 14 A after about 2 s, under 13 A after about 8.6 s.
    QProcessEnvironment env;
    env.insert(QStringLiteral("OUT"), config.path());
    CliProcess cli(
        config.path(),
        {"watch", "--port", "7", "--duration", "11", "--alarm", "hi: current > 14A clear 13A",
         "--on-alarm", "env | grep ^TALVIREN_ | sort > \"$OUT/$TALVIREN_ALARM_STATE.env\"",
         "--log-when", "hi", "--pre-trigger", "0.75", "--post-trigger", "0.75", "--output", csv},
        env);
    ASSERT_TRUE(cli.finished(25000));
    EXPECT_EQ(cli.process.exitCode(), 0) << cli.errors().toStdString();
    const QStringList lines = cli.lines();
    const Watched watched(lines);
    std::size_t raise = 0;
    while (raise < watched.amperes.size() && watched.amperes[raise] <= 14) {
        ++raise;
    }
    std::size_t clear = raise;
    while (clear < watched.amperes.size() && watched.amperes[clear] >= 13) {
        ++clear;
    }
    ASSERT_GT(raise, 1u);
    ASSERT_LT(clear + 2, watched.amperes.size()) << cli.errors().toStdString();
    const QString errors = cli.errors();
    const QRegularExpression raised(
        QStringLiteral("\\n\\d{4}-\\d\\d-\\d\\dT[\\d:.]+[+-]\\d\\d:\\d\\d alarm hi raised: current "
                       "(1\\d\\.\\d+)A > 14A\\n"));
    const auto match = raised.match(errors);
    ASSERT_TRUE(match.hasMatch()) << errors.toStdString();
    EXPECT_EQ(match.captured(1).toDouble(), watched.amperes[raise]);
    EXPECT_TRUE(errors.contains(QStringLiteral(" alarm hi cleared: current %1A\n")
                                    .arg(lines[static_cast<qsizetype>(clear) + 1].split(',')[6])))
        << errors.toStdString();

    // The command saw the event in its environment only.
    const QString raisedEnv = QString::fromUtf8(readAll(config.filePath("raised.env")));
    EXPECT_TRUE(raisedEnv.contains("TALVIREN_ALARM=hi\n")) << raisedEnv.toStdString();
    EXPECT_TRUE(raisedEnv.contains("TALVIREN_ALARM_STATE=raised\n"));
    EXPECT_TRUE(
        raisedEnv.contains(QStringLiteral("TALVIREN_ALARM_VALUE=%1A\n").arg(match.captured(1))));
    EXPECT_TRUE(raisedEnv.contains(
        "TALVIREN_ALARM_TIME=" + lines[static_cast<qsizetype>(raise) + 1].split(',')[0] + "\n"))
        << raisedEnv.toStdString();
    EXPECT_TRUE(raisedEnv.contains("TALVIREN_METER_ID="));
    EXPECT_TRUE(QFile::exists(config.filePath("cleared.env")));

    // The log holds the reading before the raise, all while raised, and the one after the
    // clear; Python's csv reads it back.
    const std::vector<std::string> logged = readBackWith("read_csv.py", csv.toStdString());
    ASSERT_EQ(logged.size(), clear - raise + 4)
        << "header, one before, raised, one after: " << lines.join('\n').toStdString() << "\n"
        << errors.toStdString() << QString::fromUtf8(readAll(csv)).toStdString();
    for (std::size_t i = 1; i < logged.size(); ++i) {
        const QStringList fields = lines[static_cast<qsizetype>(raise + i - 1)].split(',');
        EXPECT_TRUE(logged[i].starts_with("[\"" + fields[0].toStdString() + "\""))
            << i << ": " << logged[i];
    }
}

TEST(Cli, AHangingAlarmCommandDelaysNoReadingAndStopWhenEndsTheWatch) {
    QTemporaryDir config;
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "8", "--function", "1"}));
    QElapsedTimer clock;
    clock.start();
    const CliRun hanging =
        runCli(config.path(),
               {"watch", "--port", "8", "--duration", "3", "--alarm", "on: current > 1A", "--alarm",
                "also: ac_voltage > 1V", "--on-alarm", "sleep 30"},
               20000);
    EXPECT_EQ(hanging.exitCode, 0) << hanging.errors.toStdString();
    EXPECT_LT(clock.elapsed(), 3000 + 5000 + 2500) << "SIGTERM after five seconds";
    const Watched watched(hanging.lines);
    ASSERT_GE(watched.times.size(), 5u);
    for (std::size_t i = 1; i < watched.times.size(); ++i) {
        EXPECT_LT(watched.times[i] - watched.times[i - 1], 800) << "reading " << i;
    }

    const CliRun failing = runCli(config.path(),
                                  {"watch", "--port", "8", "--duration", "2", "--alarm",
                                   "on: current > 1A", "--on-alarm", "exit 3"},
                                  20000);
    EXPECT_EQ(failing.errors.count("talviren-cli: --on-alarm for alarm on exited with 3\n"), 1)
        << failing.errors.toStdString();

    const CliRun stopped = runCli(
        config.path(),
        {"watch", "--port", "8", "--alarm", "on: current > 1A for 1s", "--stop-when", "on"}, 15000);
    EXPECT_EQ(stopped.exitCode, 0) << stopped.errors.toStdString();
    EXPECT_TRUE(stopped.errors.contains(" alarm on raised: current "))
        << stopped.errors.toStdString();
    EXPECT_TRUE(stopped.errors.contains("stopped by alarm on\n"));
    EXPECT_GE(stopped.lines.size(), 3) << "a second of readings first";
}

} // namespace
