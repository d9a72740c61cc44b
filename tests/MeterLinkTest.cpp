#include "FakeLink.h"
#include "LinkEventDriver.h"

#include "link/Protocol.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

using namespace talviren;
using namespace talviren::testing;

namespace {

using Bytes = std::vector<std::uint8_t>;
const Bytes kHello = {0xD5, 0x55, 0x55};

std::vector<std::uint8_t> sentBytes(const FakePort& port) {
    std::vector<std::uint8_t> bytes;
    for (const auto& s : port.sent) {
        bytes.push_back(s.byte);
    }
    return bytes;
}

// Brings the link up on `port` and hands over to polling.
void connectOn(LinkRig& rig, int port) {
    rig.port.outcomes[port] = OpenResult::Opened;
    while (rig.port.openPort != port) {
        rig.scan.tick();
    }
    rig.port.deliver(kHello);
    rig.scan.tick(); // hand-over
}

TEST(MeterLink, StartUpState) {
    LinkRig rig;
    EXPECT_FALSE(rig.link.linkUp());
    EXPECT_EQ(rig.link.scanPort(), 1);
    EXPECT_TRUE(rig.scan.isEnabled());
    EXPECT_FALSE(rig.blockDelay.isEnabled());
    EXPECT_TRUE(rig.poll.isEnabled());
    EXPECT_TRUE(rig.watchdog.isEnabled());
    EXPECT_EQ(rig.link.portStatus(), "COM status");
    EXPECT_EQ(rig.link.linkStatus(), "unconnected");
}

TEST(MeterLink, ScanFindsTheMeterOnPortThreeAndHandsOver) {
    LinkRig rig;
    rig.port.outcomes[3] = OpenResult::Opened;
    rig.scan.tick();
    rig.scan.tick();
    EXPECT_TRUE(rig.port.sent.empty()) << "no handshake on ports that did not open";
    rig.scan.tick();
    EXPECT_EQ(rig.observer.portCaptions,
              (std::vector<std::string>{"COM1Unviable", "COM2Unviable", "COM3 Open"}));
    ASSERT_EQ(rig.port.sent.size(), 1u);
    EXPECT_EQ(rig.port.sent[0].byte, 0x05);
    EXPECT_EQ(rig.link.receiveThreshold(), 3);
    EXPECT_EQ(rig.link.lastCommand(), 5);
    rig.port.deliver(kHello);
    EXPECT_TRUE(rig.link.linkUp());
    EXPECT_EQ(rig.link.linkStatus(), "Connected");
    EXPECT_EQ(rig.link.scanPort(), 4);
    rig.scan.tick();
    EXPECT_FALSE(rig.scan.isEnabled());
    EXPECT_TRUE(rig.poll.isEnabled());
    EXPECT_EQ(rig.link.scanPort(), 4);
    EXPECT_EQ(rig.port.openPort, 3);
    EXPECT_EQ(rig.port.doubleOpens, 0);
}

TEST(MeterLink, AfterALossTheScanComesBackOnTheSixteenthStep) {
    LinkRig rig;
    connectOn(rig, 3);
    for (int i = 0; i < 5; ++i) {
        rig.watchdog.tick();
    }
    EXPECT_FALSE(rig.link.linkUp());
    EXPECT_EQ(rig.link.linkStatus(), "\u901A\u4FE1\u5931\u8D25");
    EXPECT_TRUE(rig.scan.isEnabled());
    EXPECT_EQ(rig.port.openPort, 3) << "the watchdog leaves the port to the scan";
    rig.port.outcomes[3] = OpenResult::InUse;
    std::vector<int> tried;
    for (int i = 0; i < 16; ++i) {
        tried.push_back(rig.link.scanPort());
        rig.scan.tick();
    }
    EXPECT_EQ(tried, (std::vector<int>{4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3}));
    EXPECT_EQ(rig.observer.portCaptions.back(), "COM3Unviable");
    EXPECT_EQ(rig.link.scanPort(), 4);
}

TEST(MeterLink, ScanPortWrapsFromSixteenToOne) {
    LinkRig rig;
    for (int i = 0; i < 15; ++i) {
        rig.scan.tick();
    }
    EXPECT_EQ(rig.link.scanPort(), 16);
    rig.scan.tick();
    EXPECT_EQ(rig.observer.portCaptions.back(), "COM16Unviable");
    EXPECT_EQ(rig.link.scanPort(), 1);
}

TEST(MeterLink, EveryFailedOpenReadsUnviable) {
    LinkRig rig;
    rig.port.outcomes[1] = OpenResult::InUse;
    rig.port.outcomes[2] = OpenResult::NoSuchPort;
    rig.port.outcomes[3] = OpenResult::OtherFailure;
    for (int i = 0; i < 3; ++i) {
        rig.scan.tick();
    }
    EXPECT_EQ(rig.observer.portCaptions,
              (std::vector<std::string>{"COM1Unviable", "COM2Unviable", "COM3Unviable"}));
    EXPECT_TRUE(rig.port.sent.empty());
}

TEST(MeterLink, HandshakeRecognition) {
    struct Case {
        Bytes reply;
        bool up;
    };
    const std::vector<Case> cases = {
        {{0xD5, 0x55, 0x55}, true},
        {{0xD5, 0x55, 0x55, 0x00}, true},
        {{0xD5, 0x55, 0x54}, false},
        {{0x55, 0x55, 0x55}, false},
    };
    for (const auto& c : cases) {
        LinkRig rig;
        rig.port.outcomes[1] = OpenResult::Opened;
        rig.scan.tick();
        rig.port.deliver(c.reply);
        EXPECT_EQ(rig.link.linkUp(), c.up);
        EXPECT_EQ(rig.link.linkStatus(), c.up ? "Connected" : "unconnected");
        EXPECT_EQ(rig.link.rxIdleTicks(), 0);
    }
}

TEST(MeterLink, HandshakeAnsweringTheCountRequestIsNotRecognised) {
    LinkRig rig;
    rig.port.outcomes[1] = OpenResult::Opened;
    rig.scan.tick();
    rig.link.setViewMode(MeterLink::kRecordView);
    rig.link.Button_read_Click(); // "Read" during the scan, port open
    EXPECT_EQ(rig.link.lastCommand(), 15);
    EXPECT_FALSE(rig.poll.isEnabled());
    rig.port.deliver({0xD5, 0x55, 0x55, 0x00});
    EXPECT_FALSE(rig.link.linkUp());
    EXPECT_EQ(rig.link.linkStatus(), "unconnected");
    // the next scan step handshakes again; polling comes back at the hand-over
    rig.port.outcomes[2] = OpenResult::Opened;
    rig.scan.tick();
    EXPECT_EQ(rig.link.lastCommand(), 5);
    rig.port.deliver(kHello);
    rig.scan.tick();
    EXPECT_TRUE(rig.poll.isEnabled());
}

TEST(MeterLink, ReadRightAfterTheMeterAnsweredIsNotCutShortByTheHandOver) {
    LinkRig rig;
    rig.port.outcomes[1] = OpenResult::Opened;
    rig.scan.tick();
    rig.port.deliver(kHello); // Answered: the scan has not handed over yet
    rig.link.setViewMode(MeterLink::kRecordView);
    rig.link.Button_read_Click();
    rig.scan.tick(); // the hand-over
    EXPECT_FALSE(rig.scan.isEnabled());
    EXPECT_FALSE(rig.poll.isEnabled()) << "no keep-alive during the download";
    rig.port.deliver({0x05, 0x05, 0x00, 0x01});
    rig.blockDelay.tick();
    rig.port.deliver({0x01, 0x00, 0x05, 0x00, 0x00, 0x05, 0x00});
    EXPECT_EQ(rig.table.cell(1, 1), "5mA");
    EXPECT_TRUE(rig.poll.isEnabled());
}

TEST(MeterLink, PollingSendsByView) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.port.sent.clear();
    rig.poll.tick();
    rig.poll.tick();
    rig.link.setViewMode(MeterLink::kRecordView);
    rig.poll.tick();
    rig.poll.tick();
    EXPECT_EQ(sentBytes(rig.port), (Bytes{35, 35, 5, 5}));
    EXPECT_EQ(rig.link.receiveThreshold(), 3);
}

TEST(MeterLink, PollingIdlesWhileTheLinkIsDown) {
    LinkRig rig;
    rig.port.outcomes[1] = OpenResult::Opened;
    rig.scan.tick();
    rig.port.sent.clear();
    rig.poll.tick();
    EXPECT_TRUE(rig.port.sent.empty());
}

TEST(MeterLink, RealtimeReplyIsShownEvenAfterASwitchToTheRecordView) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.poll.tick();
    rig.link.setViewMode(MeterLink::kRecordView);
    rig.port.deliver({2, 0, 85, 0, 3, 10, 1, 0xEE});
    EXPECT_EQ(rig.link.measureFunction(), 2);
    EXPECT_EQ(rig.link.display().name(1), "DC U: ");
    EXPECT_EQ(rig.link.display().value(0), "85mA");
    EXPECT_EQ(rig.link.display().value(1), "-31V");
    EXPECT_EQ(rig.observer.realtimeUpdates, 1);
}

TEST(MeterLink, BytesBelowTheThresholdWaitForTheRest) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.poll.tick();
    rig.port.deliver({1, 12, 34});
    EXPECT_EQ(rig.observer.realtimeUpdates, 0);
    rig.port.deliver({1, 23, 13, 0});
    EXPECT_EQ(rig.observer.realtimeUpdates, 1);
    EXPECT_EQ(rig.link.display().value(0), "12.34A");
    EXPECT_EQ(rig.link.rxBuffer().size(), 7u);
}

TEST(MeterLink, KeepAliveAnswerIsNotExaminedButFeedsTheWatchdog) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.link.setViewMode(MeterLink::kRecordView);
    rig.watchdog.tick();
    rig.watchdog.tick();
    rig.poll.tick();
    rig.port.deliver({1, 2, 3});
    EXPECT_EQ(rig.link.rxIdleTicks(), 0);
    EXPECT_TRUE(rig.link.linkUp());
    EXPECT_EQ(rig.observer.linkCaptions, (std::vector<std::string>{"Connected"}));
}

// Drives a whole download: "Read", count reply, the block delay, the block.
struct Download {
    LinkRig rig;
    explicit Download(Bytes countReply) {
        connectOn(rig, 1);
        rig.link.setViewMode(MeterLink::kRecordView);
        rig.link.Button_read_Click();
        rig.port.deliver(std::move(countReply));
    }
};

TEST(MeterLink, CountReplyArmsTheBlockAndTheDelay) {
    Download d({0x05, 0x05, 0x01, 0x0A});
    EXPECT_EQ(d.rig.link.recordCount(), 110);
    EXPECT_EQ(d.rig.link.receiveThreshold(), 770);
    EXPECT_TRUE(d.rig.blockDelay.isEnabled());
    EXPECT_FALSE(d.rig.poll.isEnabled());
    EXPECT_FALSE(d.rig.scan.isEnabled());
    d.rig.blockDelay.tick();
    EXPECT_FALSE(d.rig.blockDelay.isEnabled());
    EXPECT_EQ(d.rig.link.lastCommand(), 25);
    EXPECT_EQ(d.rig.link.receiveThreshold(), 770) << "the block request keeps the threshold";
    EXPECT_EQ(sentBytes(d.rig.port).back(), 25);
}

TEST(MeterLink, CountReplyValues) {
    struct Case {
        Bytes reply;
        int count;
    };
    for (const Case& c : {Case{{5, 5, 0x01, 0x17}, 123}, Case{{5, 5, 0, 150}, 150},
                          Case{{5, 5, 255, 255}, 25755}}) {
        Download d(c.reply);
        EXPECT_EQ(d.rig.link.recordCount(), c.count);
        EXPECT_EQ(d.rig.link.receiveThreshold(), 7 * c.count);
    }
}

TEST(MeterLink, WrongCountMarkersStallUntilTheWatchdogGivesUp) {
    Download d({0x06, 0x05, 0x01, 0x0A});
    EXPECT_EQ(d.rig.link.recordCount(), 0);
    EXPECT_FALSE(d.rig.blockDelay.isEnabled());
    EXPECT_EQ(d.rig.link.receiveThreshold(), 4);
    EXPECT_FALSE(d.rig.poll.isEnabled());
    EXPECT_EQ(d.rig.observer.ended, (std::vector<bool>{false}));
    // a good count reply after all still starts the download
    d.rig.port.deliver({0x05, 0x05, 0x00, 0x02});
    EXPECT_EQ(d.rig.link.recordCount(), 2);
    EXPECT_TRUE(d.rig.blockDelay.isEnabled());
}

TEST(MeterLink, StalledDownloadLosesTheLinkAndPollingReturnsAtTheHandOver) {
    Download d({0x06, 0x05, 0x01, 0x0A});
    for (int i = 0; i < 5; ++i) {
        d.rig.watchdog.tick();
    }
    EXPECT_FALSE(d.rig.link.linkUp());
    EXPECT_FALSE(d.rig.poll.isEnabled());
    do {
        d.rig.scan.tick();
    } while (d.rig.port.openPort != 1);
    d.rig.port.deliver(kHello);
    d.rig.scan.tick();
    EXPECT_TRUE(d.rig.poll.isEnabled());
}

TEST(MeterLink, BlockFillsTheTableAndResumesPolling) {
    Download d({0x05, 0x05, 0x00, 0x02});
    d.rig.blockDelay.tick();
    d.rig.port.deliver({0x01, 0x01, 0x17, 0x01, 0x17, 0x05, 0x00});
    EXPECT_EQ(d.rig.table.rows(), 2) << "not before the whole block";
    EXPECT_EQ(d.rig.table.cell(0, 0), "NO.");
    d.rig.port.deliver({0x03, 0x64, 0x01, 0x05, 0x14, 0x01, 0x00});
    EXPECT_EQ(d.rig.table.rows(), 4);
    EXPECT_EQ(d.rig.table.cell(1, 1), "1.23A");
    EXPECT_EQ(d.rig.table.cell(3, 2), "OLk\u03A9");
    EXPECT_EQ(d.rig.link.measureFunction(), 3);
    EXPECT_TRUE(d.rig.poll.isEnabled());
    EXPECT_EQ(d.rig.link.receiveThreshold(), 3);
    EXPECT_EQ(d.rig.observer.ended, (std::vector<bool>{true}));
    EXPECT_EQ(d.rig.observer.progress.back(), std::make_pair(14, 14));
}

TEST(MeterLink, LongBlockKeepsTheLinkAliveWhileBytesFlow) {
    constexpr int kCount = 25755;
    Download d({0x05, 0x05, 255, 255});
    d.rig.blockDelay.tick();
    const Bytes reading = {0x01, 0x00, 0x05, 0x00, 0x00, 0x05, 0x00};
    // 188 s at the line's speed: 96 bytes per 100 ms, a watchdog tick every 500 ms.
    int sent = 0;
    int ticks = 0;
    while (sent < kCount) {
        Bytes chunk;
        for (int i = 0; i < 14 && sent < kCount; ++i, ++sent) {
            chunk.insert(chunk.end(), reading.begin(), reading.end());
        }
        d.rig.port.deliver(chunk);
        if (++ticks % 5 == 0) {
            d.rig.watchdog.tick();
        }
        ASSERT_TRUE(d.rig.link.linkUp()) << "lost after " << sent << " readings";
    }
    EXPECT_EQ(d.rig.table.rows(), 2 * kCount);
    EXPECT_EQ(d.rig.table.cell(2 * kCount - 2, 0), "NO:25755");
    EXPECT_EQ(d.rig.observer.ended, (std::vector<bool>{true}));
}

TEST(MeterLink, BlockThatStopsHalfwayIsDeclaredLostAndKeepsTheTable) {
    Download d({0x05, 0x05, 0x00, 0x04});
    d.rig.blockDelay.tick();
    d.rig.port.deliver(Bytes(14, 1));
    for (int i = 0; i < 5; ++i) {
        d.rig.watchdog.tick();
    }
    EXPECT_FALSE(d.rig.link.linkUp());
    EXPECT_EQ(d.rig.table.rows(), 2);
    EXPECT_EQ(d.rig.table.cell(0, 0), "NO.");
    EXPECT_EQ(d.rig.observer.ended, (std::vector<bool>{false}));
}

TEST(MeterLink, CountOfZeroEmptiesTheTableAndKeepsTheLink) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.table.setRows(6);
    rig.table.setCell(3, 1, "old");
    rig.link.setViewMode(MeterLink::kRecordView);
    rig.link.Button_read_Click();
    rig.port.deliver({0x05, 0x05, 0x00, 0x00});
    EXPECT_EQ(rig.link.recordCount(), 0);
    EXPECT_FALSE(rig.blockDelay.isEnabled());
    EXPECT_TRUE(rig.poll.isEnabled());
    EXPECT_EQ(rig.table.rows(), 2);
    EXPECT_EQ(rig.table.cell(0, 0), "NO.");
    EXPECT_EQ(rig.observer.ended, (std::vector<bool>{true}));
    rig.poll.tick();
    rig.port.deliver({1, 2, 3});
    EXPECT_TRUE(rig.link.linkUp());
}

TEST(MeterLink, ReadWaitsForTheReplyInFlight) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.poll.tick(); // realtime request, its reply still on the wire
    rig.link.setViewMode(MeterLink::kRecordView);
    rig.link.Button_read_Click();
    EXPECT_EQ(rig.link.lastCommand(), 35);
    EXPECT_TRUE(rig.link.readRequested());
    rig.port.deliver({1, 12, 34, 1, 23, 13, 0});
    EXPECT_EQ(rig.link.lastCommand(), 15) << "asked as soon as the reply is in";
    EXPECT_FALSE(rig.poll.isEnabled());
    rig.port.deliver({5, 5, 0, 1});
    EXPECT_EQ(rig.link.recordCount(), 1);

    // A keep-alive that is never answered: the request goes out at the next poll tick.
    LinkRig silent;
    connectOn(silent, 1);
    silent.link.setViewMode(MeterLink::kRecordView);
    silent.poll.tick();
    silent.link.Button_read_Click();
    EXPECT_EQ(silent.link.lastCommand(), 5);
    silent.poll.tick();
    EXPECT_EQ(silent.link.lastCommand(), 15);
    EXPECT_FALSE(silent.link.readRequested());
}

TEST(MeterLink, ANewCountRequestCancelsTheBlockRequestStillPending) {
    Download d({0x05, 0x05, 0x00, 0x03});
    ASSERT_TRUE(d.rig.blockDelay.isEnabled());
    d.rig.link.SendCommand(15); // a new count request during the block delay
    EXPECT_FALSE(d.rig.blockDelay.isEnabled());
    d.rig.port.deliver({0x05, 0x05, 0x00, 0x00}); // the meter was emptied meanwhile
    EXPECT_FALSE(d.rig.blockDelay.isEnabled());
    d.rig.blockDelay.tick();
    EXPECT_EQ(d.rig.link.lastCommand(), 15) << "no block request for an empty meter";
    EXPECT_EQ(d.rig.table.rows(), 2);
    EXPECT_EQ(d.rig.table.cell(0, 0), "NO.");
}

TEST(MeterLink, ReadDuringADownloadIsIgnored) {
    Download d({0x05, 0x05, 0x00, 0x02});
    d.rig.link.Button_read_Click(); // during the block delay
    EXPECT_TRUE(d.rig.blockDelay.isEnabled());
    d.rig.blockDelay.tick();
    d.rig.port.deliver({0x01, 0x00, 0x05, 0x00, 0x00, 0x05, 0x00});
    d.rig.link.Button_read_Click(); // halfway through the block
    EXPECT_EQ(d.rig.link.lastCommand(), 25);
    d.rig.port.deliver({0x02, 0x00, 0x06, 0x00, 0x00, 0x06, 0x01});
    EXPECT_EQ(d.rig.table.rows(), 4);
    EXPECT_EQ(d.rig.table.cell(3, 2), "-0.6V");
    EXPECT_EQ(d.rig.observer.ended, (std::vector<bool>{true}));
    d.rig.link.Button_read_Click(); // after it: a new download
    EXPECT_EQ(d.rig.link.lastCommand(), 15);
}

TEST(MeterLink, ReadDoesNothingInTheRealtimeViewOrWithoutAPort) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.port.sent.clear();
    rig.link.Button_read_Click();
    EXPECT_TRUE(rig.port.sent.empty());
    EXPECT_TRUE(rig.poll.isEnabled());

    LinkRig closed;
    closed.link.setViewMode(MeterLink::kRecordView);
    closed.link.Button_read_Click();
    EXPECT_TRUE(closed.port.sent.empty());
    EXPECT_TRUE(closed.poll.isEnabled());
    EXPECT_EQ(closed.link.lastCommand(), 0);
}

TEST(MeterLink, WatchdogCountsFiveSilentTicksAgainAndAgain) {
    LinkRig rig;
    for (int i = 1; i <= 4; ++i) {
        rig.watchdog.tick();
        EXPECT_EQ(rig.link.rxIdleTicks(), i);
    }
    EXPECT_TRUE(rig.observer.linkCaptions.empty());
    rig.watchdog.tick();
    EXPECT_EQ(rig.link.rxIdleTicks(), 0);
    EXPECT_EQ(rig.observer.linkCaptions.size(), 1u);
    for (int i = 0; i < 5; ++i) {
        rig.watchdog.tick();
    }
    EXPECT_EQ(rig.observer.linkCaptions.size(), 2u) << "the caption is set again while scanning";
}

TEST(MeterLink, ShortRepliesAreNotRecognised) {
    // The threshold guarantees length, but bytes can vanish between notification and read:
    // the receive event is handled (the watchdog is fed), the short block is not recognised.
    {
        LinkRig rig;
        connectOn(rig, 1);
        rig.poll.tick();
        rig.watchdog.tick();
        rig.port.lostOnRead = 3;
        rig.port.deliver({1, 12, 34, 1, 23, 13, 0});
        EXPECT_EQ(rig.link.rxBuffer(), (Bytes{1, 12, 34, 1}));
        EXPECT_EQ(rig.link.rxIdleTicks(), 0);
        EXPECT_EQ(rig.observer.realtimeUpdates, 0);
        EXPECT_TRUE(rig.observer.readings.empty());
        EXPECT_EQ(rig.link.measureFunction(), 0);
    }
    {
        LinkRig rig;
        rig.port.outcomes[1] = OpenResult::Opened;
        rig.scan.tick();
        rig.port.lostOnRead = 1;
        rig.port.deliver(kHello);
        EXPECT_EQ(rig.link.rxBuffer().size(), 2u);
        EXPECT_FALSE(rig.link.linkUp());
        EXPECT_TRUE(rig.observer.ups.empty());
    }
    {
        Download d({0x05, 0x05, 0x00, 0x00});
        d.rig.link.Button_read_Click();
        d.rig.port.lostOnRead = 1;
        d.rig.port.deliver({0x05, 0x05, 0x00, 0x03});
        EXPECT_EQ(d.rig.link.rxBuffer().size(), 3u);
        EXPECT_EQ(d.rig.link.recordCount(), 0) << "a short count reply leaves the count alone";
        EXPECT_FALSE(d.rig.blockDelay.isEnabled());
    }
}

class SteppedClock : public ReadingClock {
public:
    std::int64_t wallMs() const override { return wall; }
    std::int64_t steadyNs() const override { return steady; }
    std::int64_t wall = 1'765'000'000'000;
    std::int64_t steady = 42;
};

TEST(MeterLink, TellsItsEventsAsValuesWithTheReadingsTimes) {
    LinkRig rig;
    SteppedClock clock;
    rig.link.setClock(&clock);
    rig.port.details[3] = {"/dev/ttyUSB2", ""};
    connectOn(rig, 3);
    EXPECT_EQ(rig.observer.ups, (std::vector<std::pair<int, std::string>>{{3, "/dev/ttyUSB2"}}));
    rig.poll.tick();
    rig.port.deliver({2, 0, 85, 0, 3, 10, 1});
    clock.wall += 500;
    clock.steady += 500'000'000;
    rig.poll.tick();
    rig.port.deliver({4, 12, 34, 1, 0, 0, 0}); // no second quantity: still a reading
    ASSERT_EQ(rig.observer.readings.size(), 2u);
    const TimedReading& first = rig.observer.readings[0];
    EXPECT_EQ(first.wallMs, 1'765'000'000'000);
    EXPECT_EQ(first.steadyNs, 42);
    EXPECT_EQ(first.current->text, "85mA");
    EXPECT_EQ(first.current->value(), 0.085);
    EXPECT_EQ(first.second->kind, QuantityKind::DcVoltage);
    EXPECT_EQ(first.second->value(), -31);
    const TimedReading& second = rig.observer.readings[1];
    EXPECT_EQ(second.steadyNs, 500'000'042);
    EXPECT_EQ(second.current->value(), 12.34);
    EXPECT_FALSE(second.second);
    EXPECT_EQ(rig.observer.realtimeUpdates, 1) << "function 4 changes no caption";

    rig.link.setViewMode(MeterLink::kRecordView);
    rig.link.Button_read_Click();
    rig.port.deliver({5, 5, 0, 2});
    rig.blockDelay.tick();
    rig.port.deliver({1, 1, 23, 1, 23, 5, 0, 3, 0, 0, 4, 20, 1, 0});
    ASSERT_EQ(rig.observer.downloaded.size(), 2u);
    EXPECT_EQ(rig.observer.downloaded[0].current->text, "1.23A");
    EXPECT_EQ(rig.observer.downloaded[0].second->value(), 230.5);
    EXPECT_EQ(rig.observer.downloaded[1].second->text, "OLk\u03A9");
    EXPECT_TRUE(rig.observer.downloaded[1].second->overload);
    EXPECT_EQ(rig.table.cell(3, 2), rig.observer.downloaded[1].second->text);

    for (int i = 0; i < 10; ++i) {
        rig.watchdog.tick();
    }
    EXPECT_EQ(rig.observer.losses, 1) << "the loss is told once, not again while scanning";
}

TEST(LinkEventFanOut, ConsumersMayLeaveWhileAnEventIsHandedOut) {
    struct Leaver : LinkObserver {
        LinkEventFanOut* fanOut = nullptr;
        LinkObserver* alsoRemove = nullptr;
        int heard = 0;
        void linkLost() override {
            ++heard;
            fanOut->removeConsumer(this);
            fanOut->removeConsumer(alsoRemove);
        }
    };
    LinkEventFanOut fanOut;
    Leaver first;
    Leaver second;
    first.fanOut = second.fanOut = &fanOut;
    first.alsoRemove = &second;
    fanOut.addConsumer(&first);
    fanOut.addConsumer(&second);
    fanOut.addConsumer(&first);
    EXPECT_EQ(fanOut.consumerCount(), 2u);
    fanOut.linkLost();
    EXPECT_EQ(first.heard, 1);
    EXPECT_EQ(second.heard, 0) << "removed before its turn";
    EXPECT_EQ(fanOut.consumerCount(), 0u);
}

// A meter that answers every command while its byte is still being written: no reply may be
// thrown away by the emptying of the receive buffer that goes with each command.
TEST(MeterLink, RepliesThatComeWhileTheCommandIsWrittenAreTakenIn) {
    LinkRig rig;
    rig.port.outcomes[2] = OpenResult::Opened;
    const std::map<std::uint8_t, Bytes> replies = {
        {protocol::kHandshake, kHello},
        {protocol::kRealtimeRequest, {1, 12, 34, 1, 23, 13, 0}},
        {protocol::kCountRequest, {5, 5, 0, 2}},
        {protocol::kBlockRequest, {1, 0, 5, 0, 0, 5, 0, 3, 0, 7, 1, 12, 28, 0}},
    };
    std::vector<std::uint8_t> answered;
    rig.port.answer = [&](std::uint8_t command) {
        answered.push_back(command);
        return replies.at(command);
    };
    // Each step as the event loop runs it: the step, then the port's announcement.
    const auto step = [&](auto&& action) {
        action();
        rig.port.announce();
    };
    step([&] { rig.scan.tick(); });
    step([&] { rig.scan.tick(); }); // port 2 opens, the handshake is answered at once
    EXPECT_EQ(rig.observer.ups.size(), 1u);
    step([&] { rig.scan.tick(); });
    step([&] { rig.poll.tick(); });
    ASSERT_EQ(rig.observer.readings.size(), 1u);
    EXPECT_EQ(rig.observer.readings[0].current->text, "12.34A");
    rig.link.setViewMode(MeterLink::kRecordView);
    step([&] { rig.link.Button_read_Click(); });
    EXPECT_TRUE(rig.blockDelay.isEnabled()) << "the count reply was taken in";
    step([&] { rig.blockDelay.tick(); });
    EXPECT_EQ(rig.observer.ended, (std::vector<bool>{true}));
    EXPECT_EQ(rig.table.cell(3, 2), "1.228k\u03A9");
    EXPECT_EQ(answered, (Bytes{5, 35, 15, 25}));
    for (int i = 0; i < 4; ++i) {
        rig.watchdog.tick();
    }
    EXPECT_EQ(rig.observer.losses, 0);
}

TEST(MeterLink, SendCommandWithoutAnOpenPortChangesNothing) {
    LinkRig rig;
    rig.link.SendCommand(15);
    EXPECT_EQ(rig.link.lastCommand(), 0);
    EXPECT_TRUE(rig.poll.isEnabled());
    EXPECT_EQ(rig.link.receiveThreshold(), 0);
}

// Random event sequences against the engine's invariants: the fuzz target's checks, fast and
// the same every run.
TEST(MeterLink, RandomEventSequencesKeepTheInvariants) {
    std::mt19937 random(20261207);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> events(2000);
        for (auto& b : events) {
            b = static_cast<std::uint8_t>(random());
        }
        LinkEventDriver driver;
        std::span<const std::uint8_t> input(events);
        while (driver.step(input)) {
            const std::string broken = driver.violation();
            ASSERT_TRUE(broken.empty()) << "round " << round << ": " << broken;
        }
        ASSERT_EQ(driver.silenceViolation(), "") << "round " << round;
    }
}

} // namespace
