// The meters of a run as one kind: a local and a remote meter share their log, their alarms
// and their clock; the fleet logs every meter, shares the alarms out and sums them.

#include "RemoteFakes.h"
#include "TimedReadings.h"

#include "log/CsvLog.h"
#include "meters/FleetCore.h"
#include "session/RemoteCore.h"
#include "json/ReadingJson.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

using namespace talviren;
using namespace talviren::testing;

namespace {

namespace fs = std::filesystem;

// A clock the test moves.
struct HandClock : ReadingClock {
    std::int64_t nowNs = 100'000'000'000;
    std::int64_t wallMs() const override { return 1'765'000'000'000 + nowNs / 1'000'000; }
    std::int64_t steadyNs() const override { return nowNs; }
};

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

MeterSource sourceOf(const char* name, const char* value) {
    return *parseMeter(name, value).source;
}

// A remote logger scripted here, followed as a meter of the run.
struct ScriptedRemote {
    explicit ScriptedRemote(const char* name, const ReadingClock& clock = systemClock())
        : core(sourceOf(name, "http://cellar:8080/"), http, retry, silence, ".", clock) {
        core.start();
        http.answer(200, "application/json", "[]", true);
        http.answer(200, "text/event-stream", "", false);
    }
    // The logger sends reading `seq` at tick `tick`: what it sent, as its log line.
    std::string send(std::uint64_t seq, const MeterReading& raw, int tick) {
        const TimedReading reading = timedReading(raw, tick);
        http.more("event: reading\nid: " + std::to_string(seq) +
                  "\ndata: " + json::readingJson(seq, reading, 0, PowerFactor{800'000}) + "\n\n");
        return csvlog::line(reading);
    }
    ScriptedHttp http;
    ScriptedCountdown retry, silence;
    RemoteCore core;
};

struct TempFolder {
    TempFolder()
        : path(fs::temp_directory_path() / ("talviren-fleet-" + std::to_string(::getpid()))) {
        fs::create_directories(path);
    }
    ~TempFolder() { fs::remove_all(path); }
    fs::path path;
};

// Every meter to BASE-NAME.csv, the remote's as it came; a meter added while the run logs
// starts its own; one that cannot be opened leaves none logging.
TEST(Fleet, LogsEveryMeterToAFileOfItsOwnLineByLineAsEachSentIt) {
    TempFolder folder;
    Meter l1(sourceOf("L1", "scan")), l2(sourceOf("L2", "COM5"));
    ScriptedRemote l3("L3");
    Meter l4(sourceOf("L4", "COM6"));
    RunSettings settings;
    FleetCore fleet(settings); // after its meters: it goes first
    fleet.setMeters({&l1, &l2, &l3.core.meter()});
    const std::string base = (folder.path / "run.csv").string();
    std::string file, error;
    ASSERT_TRUE(fleet.startLogs(base, file, error)) << error;
    EXPECT_EQ(settings.logPath(), base);
    std::string sent[3];
    for (int tick = 0; tick < 40; ++tick) {
        const TimedReading one = timedReading({1, 1000 + tick, 1, 2300, 0}, tick);
        l1.recording().add(one);
        sent[0] += csvlog::line(one);
        if (tick % 7 != 3) { // a meter that misses some
            const TimedReading two = timedReading({3, 50 + tick, 0, 1200 + tick, 0}, tick);
            l2.recording().add(two);
            sent[1] += csvlog::line(two);
        }
        sent[2] +=
            l3.send(static_cast<std::uint64_t>(tick + 1), {1, 2000 - tick, 1, 2290, 0}, tick);
        if (tick == 20) {
            fleet.setMeters({&l1, &l2, &l3.core.meter(), &l4});
        }
    }
    l4.recording().add(timedReading({2, 5, 1, 120, 1}, 41));
    fleet.stopLogs();
    EXPECT_FALSE(settings.logPath());
    const std::string header = std::string(csvlog::kHeader) + "\n";
    const char* names[3] = {"L1", "L2", "L3"};
    for (int m = 0; m < 3; ++m) {
        EXPECT_EQ(fileText(folder.path / ("run-" + std::string(names[m]) + ".csv")),
                  header + sent[m])
            << names[m];
    }
    EXPECT_EQ(fileText(folder.path / "run-L4.csv"),
              header + csvlog::line(timedReading({2, 5, 1, 120, 1}, 41)))
        << "the meter that came while the run logged";

    // run-L2.csv cannot be opened: the run does not log, none of its meters does.
    fs::remove(folder.path / "run-L2.csv");
    fs::create_directory(folder.path / "run-L2.csv");
    EXPECT_FALSE(fleet.startLogs(base, file, error));
    EXPECT_EQ(file, (folder.path / "run-L2.csv").string());
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(settings.logPath());
    for (const Meter* meter : fleet.meters()) {
        EXPECT_EQ(meter->recording().log(), nullptr) << meter->name();
    }
}

// Every kind of meter (the scan, a port, a remote logger) wants its clock while it logs, and
// its tick syncs a line within a second and, after a disk that refused the lines, catches up.
TEST(Fleet, EveryKindOfMetersLogIsSyncedAndCaughtUpByItsClock) {
    for (const std::string kind : {"scan", "COM5", "remote"}) {
        SCOPED_TRACE(kind);
        TempFolder folder;
        HandClock clock;
        std::optional<ScriptedRemote> remote;
        std::optional<Meter> local;
        if (kind == "remote") {
            remote.emplace("L3", clock);
        } else {
            local.emplace(sourceOf("L1", kind.c_str()), clock);
        }
        Meter& meter = remote ? remote->core.meter() : *local;
        // Reading `seq` comes at tick `tick`: its log line.
        const auto send = [&](std::uint64_t seq, const MeterReading& raw, int tick) {
            if (remote) {
                return remote->send(seq, raw, tick);
            }
            const TimedReading reading = timedReading(raw, tick);
            meter.recording().add(reading);
            return csvlog::line(reading);
        };
        EXPECT_FALSE(meter.wantsTicks()) << "nothing to tick: the event loop sleeps";
        std::string error;
        ASSERT_TRUE(meter.recording().startLog((folder.path / "meter.csv").string(), error))
            << error;
        EXPECT_TRUE(meter.wantsTicks());
        send(1, {1, 1234, 1, 2313, 0}, 0);
        const DurableLog& log = *meter.recording().log();
        EXPECT_EQ(log.linesSynced(), 0);
        clock.nowNs += Meter::kTickMs * 1'000'000;
        meter.tick();
        EXPECT_EQ(log.linesSynced(), 1) << "on the disk at the first tick";
        send(2, {1, 1235, 1, 2313, 0}, 1);
        for (int tick = 0; tick < 1000 / Meter::kTickMs; ++tick) {
            clock.nowNs += Meter::kTickMs * 1'000'000;
            meter.tick();
        }
        EXPECT_EQ(log.linesSynced(), 2) << "on the disk a second after it came";

        // Nothing can be written (the folder went): the lines wait, and when the folder is back
        // the tick that tries again writes every one of them once, in order.
        fs::remove_all(folder.path);
        std::string expected = std::string(csvlog::kHeader) + "\n";
        for (int tick = 2; tick < 30; ++tick) {
            expected +=
                send(static_cast<std::uint64_t>(tick + 1), {1, 1200 + tick, 1, 2300, 0}, tick);
            clock.nowNs += 500'000'000;
            meter.tick();
        }
        ASSERT_TRUE(log.behind());
        EXPECT_GT(log.waiting(), 20u);
        fs::create_directories(folder.path);
        for (int tick = 0; tick < 60 && log.behind(); ++tick) {
            clock.nowNs += Meter::kTickMs * 1'000'000;
            meter.tick();
        }
        EXPECT_FALSE(log.behind()) << "caught up from its own clock";
        meter.recording().stopLog();
        EXPECT_EQ(fileText(folder.path / "meter.csv"), expected)
            << "a new file with its header, and every line that waited once, in order";
        EXPECT_FALSE(meter.wantsTicks());
        if (remote) {
            // The remote's P alarms judge at the power factor it tells.
            EXPECT_EQ(meter.powerFactor(), PowerFactor{800'000});
        }
    }
}

} // namespace
