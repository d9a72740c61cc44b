// The link over the real QSerialPort adapter against talviren-sim on a pseudo-terminal.

#include "FakeLink.h"
#include "QtTestSupport.h"
#include "RecordBlocks.h"

#include "records/RecordDecoder.h"
#include "session/QtSerialPort.h"
#include "session/QtTimer.h"
#include "sim/MeterSimulator.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

TEST(SerialLink, ComesUpOnThePinnedPortAndShowsLiveReadings) {
    SerialRig rig;
    ASSERT_TRUE(rig.sim.start({"--port", "3", "--function", "3"}));
    ASSERT_TRUE(rig.connected());
    ASSERT_GE(rig.events.tried.size(), 3u);
    EXPECT_EQ(rig.events.tried[0], std::make_pair(1, false));
    EXPECT_EQ(rig.events.tried[1], std::make_pair(2, false));
    EXPECT_EQ(rig.events.tried[2], std::make_pair(3, true));
    ASSERT_EQ(rig.events.ups.size(), 1u);
    EXPECT_EQ(rig.events.ups[0], std::make_pair(3, rig.sim.devicePath().toStdString()));
    ASSERT_TRUE(waitFor([&] { return rig.events.readings.size() >= 2; }, 3000));
    const TimedReading& reading = rig.events.readings.back();
    EXPECT_EQ(reading.raw.function, 3);
    EXPECT_TRUE(reading.second->text.ends_with("k\u03A9"));
    EXPECT_TRUE(reading.current->text.ends_with("A"));
    EXPECT_EQ(rig.session.recording().history().size(), rig.events.readings.size());
}

TEST(SerialLink, PacedDownloadOfFiveHundredReadingsCompletes) {
    SerialRig rig;
    ASSERT_TRUE(rig.sim.start({"--port", "2", "--records", "500", "--seed", "9"}));
    ASSERT_TRUE(rig.connected());
    rig.session.setPolling(Polling::KeepAlive);
    const double heapBefore = heapInUseMegabytes();
    double heapPeak = heapBefore;
    rig.link.Button_read_Click();
    // 3,500 bytes take 3.6 s at 960 bytes/s: longer than the watchdog's two seconds.
    ASSERT_TRUE(waitFor(
        [&] {
            heapPeak = std::max(heapPeak, heapInUseMegabytes());
            return rig.table.rows() == 1000;
        },
        15000))
        << "rows " << rig.table.rows() << " state " << int(rig.link.state()) << " waiting "
        << rig.port.bytesWaiting() << " ended " << rig.events.ended.size();
    EXPECT_TRUE(rig.events.losses.empty());
    RecordTable expected;
    talviren::testing::showBlock(expected, sim::MeterSimulator::makeStoredBlock(500, 9), 500, ".");
    for (int r = 0; r < 1000; ++r) {
        for (int c = 0; c < 7; ++c) {
            ASSERT_EQ(rig.table.cell(r, c), expected.cell(r, c)) << r << "," << c;
        }
    }
    EXPECT_EQ(rig.events.ended, (std::vector<bool>{true}));
    EXPECT_EQ(rig.link.state(), LinkState::Polling);
    // The block trickles in a few bytes at a time; buffering it must cost about its size, not
    // a 32 KB buffer chunk per arrival (that was over 10 MB for these 3,500 bytes).
    EXPECT_LT(heapPeak - heapBefore, 4.0);
}

// "Read" again and again against a meter that answers at once: every count reply and block is
// taken in, and the link is never declared lost.
TEST(SerialLink, TwoHundredReadsInARowLoseNoReplyAndNeverTheLink) {
    struct Round {
        int records;
        int reads;
    };
    for (const Round round : {Round{0, 170}, Round{2, 30}}) {
        SerialRig rig;
        ASSERT_TRUE(rig.sim.start(
            {"--port", "1", "--no-pace", "--records", QString::number(round.records)}));
        ASSERT_TRUE(rig.connected());
        rig.session.setPolling(Polling::KeepAlive);
        for (int read = 1; read <= round.reads; ++read) {
            rig.link.Button_read_Click();
            ASSERT_TRUE(waitFor([&] { return rig.events.ended.size() == std::size_t(read); }, 3000))
                << "read " << read << " of a meter with " << round.records << " readings";
            ASSERT_TRUE(rig.events.ended.back()) << "read " << read;
            ASSERT_EQ(rig.table.rows(), round.records == 0 ? 2 : 2 * round.records);
        }
        EXPECT_TRUE(rig.events.losses.empty());
        EXPECT_EQ(rig.events.ups.size(), 1u);
    }
}

TEST(SerialLink, SilenceLosesTheLinkAndTheRescanFindsTheMeterAgain) {
    SerialRig rig;
    ASSERT_TRUE(rig.sim.start({"--port", "1"}));
    ASSERT_TRUE(rig.connected());
    rig.sim.toggleSilence();
    ASSERT_TRUE(waitFor([&] { return !rig.events.losses.empty(); }, 4000));
    EXPECT_EQ(rig.events.losses, std::vector<bool>{true});
    EXPECT_EQ(rig.link.state(), LinkState::Scanning);
    rig.sim.toggleSilence();
    ASSERT_TRUE(rig.connected(12000));
    EXPECT_EQ(rig.events.ups.size(), 2u);
}

TEST(SerialLink, PulledDeviceIsClosedWithoutABusyLoop) {
    SerialRig rig;
    ASSERT_TRUE(rig.sim.start({"--port", "1"}));
    ASSERT_TRUE(rig.connected());
    rig.sim.kill();
    ASSERT_TRUE(waitFor([&] { return !rig.port.isOpen(); }, 3000));
    const double before = cpuSeconds();
    waitFor([] { return false; }, 1000);
    EXPECT_LT(cpuSeconds() - before, 0.3) << "the event loop must idle";
    ASSERT_TRUE(waitFor([&] { return rig.link.state() == LinkState::Scanning; }, 4000));
    EXPECT_EQ(rig.events.losses, std::vector<bool>{true});
}

TEST(SerialLink, CountReplyWithWrongMarkersEndsInARescan) {
    SerialRig rig;
    ASSERT_TRUE(rig.sim.start({"--port", "1", "--records", "5", "--bad-count"}));
    ASSERT_TRUE(rig.connected());
    rig.session.setPolling(Polling::KeepAlive);
    rig.link.Button_read_Click();
    ASSERT_TRUE(waitFor([&] { return !rig.events.losses.empty(); }, 5000));
    EXPECT_EQ(rig.table.rows(), 2);
    EXPECT_EQ(rig.events.ended, (std::vector<bool>{false}));
    ASSERT_TRUE(rig.connected(12000));
}

TEST(SerialLink, DeniedDeviceIsUnviableWithTheGroupHint) {
    // Root is never denied: the open is tried by an unprivileged user in a child process.
    QTemporaryDir config;
    const std::filesystem::path folder =
        std::filesystem::path(config.path().toStdString()) / "talviren" / "ports";
    std::filesystem::create_directories(folder);
    const auto device = folder / "denied-device";
    { std::ofstream(device.string()) << ""; }
    std::filesystem::permissions(device, std::filesystem::perms::none);
    std::filesystem::create_symlink(device, folder / "COM1");
    for (auto p = folder; p != p.parent_path() && p.string().size() > 1; p = p.parent_path()) {
        std::filesystem::permissions(
            p, std::filesystem::perms::others_exec | std::filesystem::perms::others_read,
            std::filesystem::perm_options::add);
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
        QtSerialPort port;
        port.setDeviceLister([] { return std::vector<std::string>{}; });
        const OpenResult result = port.open(1);
        const bool hinted =
            port.lastOpenDetail().failureReason.find("dialout") != std::string::npos;
        ::_exit(result == OpenResult::OtherFailure && hinted ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: not refused with the hint, 3: could not drop root";
}

// The device list is read afresh whenever the scan starts over: at port 1 of a full scan, and
// at every try of a scan pinned to one port, so that an adapter back under another ttyUSB
// number is found.
TEST(SerialLink, TheDeviceListIsReadAgainEachTimeTheScanStartsOver) {
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
    QtSerialPort port;
    std::vector<std::string> devices = {"/dev/ttyUSB0"};
    int listed = 0;
    port.setDeviceLister([&] {
        ++listed;
        return devices;
    });
    for (int n : {1, 2, 3, 1, 2}) {
        port.open(n);
    }
    EXPECT_EQ(listed, 2) << "a full scan: at its start and when it comes back to COM1";
    devices = {"/dev/ttyUSB3"}; // replugged under another number
    for (int i = 0; i < 3; ++i) {
        port.open(2);
    }
    EXPECT_EQ(listed, 5) << "a pinned port: at every try";
    EXPECT_EQ(port.lastOpenDetail().devicePath, "");
    port.open(1);
    EXPECT_NE(port.lastOpenDetail().failureReason, "no serial device has this number")
        << "COM1 is the adapter under its new name";
}

} // namespace
