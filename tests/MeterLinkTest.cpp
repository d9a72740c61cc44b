#include "FakeLink.h"
#include "LinkEventDriver.h"

#include "link/Protocol.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

using namespace talviren;
using namespace talviren::testing;

namespace {

using Bytes = std::vector<std::uint8_t>;
using S = LinkState;
const Bytes kHello = {0xD5, 0x55, 0x55};

// Brings the link up on `port` and hands over to polling.
void connectOn(LinkRig& rig, int port) {
    rig.port.outcomes[port] = OpenResult::Opened;
    while (rig.port.openPort != port) {
        rig.scan.tick();
    }
    rig.port.deliver(kHello);
    rig.scan.tick(); // hand-over
}

void silentTicks(LinkRig& rig, int ticks) {
    for (int i = 0; i < ticks; ++i) {
        rig.watchdog.tick();
    }
}

TEST(MeterLink, StartUpState) {
    LinkRig rig;
    EXPECT_EQ(rig.link.state(), S::Scanning);
    EXPECT_EQ(rig.events.states, (std::vector<S>{S::Scanning}));
    EXPECT_TRUE(rig.scan.isEnabled());
    EXPECT_FALSE(rig.blockDelay.isEnabled());
    EXPECT_TRUE(rig.poll.isEnabled());
    EXPECT_TRUE(rig.watchdog.isEnabled());
    EXPECT_TRUE(rig.events.tried.empty());
}

TEST(MeterLink, ScanFindsTheMeterOnPortThreeAndHandsOver) {
    LinkRig rig;
    rig.port.outcomes[3] = OpenResult::Opened;
    rig.scan.tick();
    rig.scan.tick();
    EXPECT_TRUE(rig.port.sent.empty()) << "no handshake on ports that did not open";
    rig.scan.tick();
    EXPECT_EQ(rig.events.tried,
              (std::vector<std::pair<int, bool>>{{1, false}, {2, false}, {3, true}}));
    EXPECT_EQ(rig.sentBytes(), Bytes{5});
    rig.port.deliver({0xD5, 0x55});
    EXPECT_TRUE(rig.events.ups.empty()) << "the handshake reply is three bytes";
    rig.port.deliver({0x55});
    EXPECT_EQ(rig.events.ups, (std::vector<std::pair<int, std::string>>{{3, "/dev/fake"}}));
    EXPECT_EQ(rig.link.state(), S::Answered);
    rig.scan.tick();
    EXPECT_FALSE(rig.scan.isEnabled());
    EXPECT_TRUE(rig.poll.isEnabled());
    EXPECT_EQ(rig.link.state(), S::Polling);
    EXPECT_EQ(rig.port.openPort, 3);
    EXPECT_EQ(rig.port.doubleOpens, 0);
    EXPECT_EQ(rig.events.tried.size(), 3u) << "the hand-over tries no port";
}

TEST(MeterLink, AfterALossTheScanComesBackOnTheSixteenthStep) {
    LinkRig rig;
    connectOn(rig, 3);
    silentTicks(rig, 5);
    EXPECT_EQ(rig.events.losses, std::vector<bool>{true});
    EXPECT_EQ(rig.link.state(), S::Scanning);
    EXPECT_TRUE(rig.scan.isEnabled());
    EXPECT_EQ(rig.port.openPort, 3) << "the watchdog leaves the port to the scan";
    rig.port.outcomes[3] = OpenResult::InUse;
    rig.events.tried.clear();
    for (int i = 0; i < 17; ++i) {
        rig.scan.tick();
    }
    std::vector<int> tried;
    for (const auto& [port, opened] : rig.events.tried) {
        tried.push_back(port);
    }
    EXPECT_EQ(tried, (std::vector<int>{4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4}));
}

TEST(MeterLink, EveryFailedOpenSendsNothing) {
    LinkRig rig;
    rig.port.outcomes[1] = OpenResult::InUse;
    rig.port.outcomes[2] = OpenResult::NoSuchPort;
    rig.port.outcomes[3] = OpenResult::OtherFailure;
    for (int i = 0; i < 3; ++i) {
        rig.scan.tick();
    }
    EXPECT_EQ(rig.events.tried,
              (std::vector<std::pair<int, bool>>{{1, false}, {2, false}, {3, false}}));
    EXPECT_TRUE(rig.port.sent.empty());
}

TEST(MeterLink, HandshakeRecognition) {
    struct Case {
        Bytes reply;
        bool up;
    };
    for (const Case& c : {Case{{0xD5, 0x55, 0x55}, true}, Case{{0xD5, 0x55, 0x55, 0x00}, true},
                          Case{{0xD5, 0x55, 0x54}, false}, Case{{0x55, 0x55, 0x55}, false}}) {
        LinkRig rig;
        rig.port.outcomes[1] = OpenResult::Opened;
        rig.scan.tick();
        silentTicks(rig, 4);
        rig.port.deliver(c.reply);
        EXPECT_EQ(rig.events.ups.size(), c.up ? 1u : 0u);
        EXPECT_EQ(rig.link.state(), c.up ? S::Answered : S::Scanning);
        silentTicks(rig, 4);
        EXPECT_TRUE(rig.events.losses.empty()) << "any reply feeds the watchdog";
        rig.watchdog.tick();
        EXPECT_EQ(rig.events.losses, std::vector<bool>{c.up});
    }
}

TEST(MeterLink, HandshakeAnsweringTheCountRequestIsNotRecognised) {
    LinkRig rig;
    rig.session.setPolling(Polling::KeepAlive);
    rig.port.outcomes[1] = OpenResult::Opened;
    rig.scan.tick();
    rig.link.Button_read_Click(); // "Read" during the scan, port open
    EXPECT_EQ(rig.sentBytes(), (Bytes{5, 15}));
    EXPECT_FALSE(rig.poll.isEnabled());
    rig.port.deliver({0xD5, 0x55, 0x55, 0x00});
    EXPECT_TRUE(rig.events.ups.empty());
    EXPECT_TRUE(rig.events.counts.empty()) << "no count from a port that has not answered";
    EXPECT_FALSE(rig.blockDelay.isEnabled());
    // the next scan step handshakes again; polling comes back at the hand-over
    rig.port.outcomes[2] = OpenResult::Opened;
    rig.scan.tick();
    EXPECT_EQ(rig.sentBytes().back(), 5);
    rig.port.deliver(kHello);
    rig.scan.tick();
    EXPECT_TRUE(rig.poll.isEnabled());
    EXPECT_TRUE(rig.events.ended.empty());
}

TEST(MeterLink, ReadRightAfterTheMeterAnsweredIsNotCutShortByTheHandOver) {
    LinkRig rig;
    rig.session.setPolling(Polling::KeepAlive);
    rig.port.outcomes[1] = OpenResult::Opened;
    rig.scan.tick();
    rig.port.deliver(kHello); // Answered: the scan has not handed over yet
    rig.link.Button_read_Click();
    rig.scan.tick(); // the hand-over
    EXPECT_FALSE(rig.scan.isEnabled());
    EXPECT_FALSE(rig.poll.isEnabled()) << "no keep-alive during the download";
    rig.port.deliver({0x05, 0x05, 0x00, 0x01});
    rig.blockDelay.tick();
    rig.port.deliver({0x01, 0x00, 0x05, 0x00, 0x00, 0x05, 0x00});
    EXPECT_EQ(rig.table.cell(1, 1), "5mA");
    EXPECT_TRUE(rig.poll.isEnabled());
    EXPECT_EQ(rig.events.states, (std::vector<S>{S::Scanning, S::Answered, S::CountPending,
                                                 S::BlockDelay, S::BlockPending, S::Polling}));
}

TEST(MeterLink, PollingSendsByWhatIsAskedFor) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.port.sent.clear();
    rig.poll.tick();
    rig.poll.tick();
    rig.session.setPolling(Polling::KeepAlive);
    rig.poll.tick();
    rig.port.deliver({1, 2}); // below the handshake's threshold of 3
    rig.poll.tick();
    EXPECT_EQ(rig.sentBytes(), (Bytes{35, 35, 5, 5}));
    EXPECT_TRUE(rig.events.readings.empty());
}

TEST(MeterLink, PollingIdlesWhileTheLinkIsDown) {
    LinkRig rig;
    rig.port.outcomes[1] = OpenResult::Opened;
    rig.scan.tick();
    rig.port.sent.clear();
    rig.poll.tick();
    EXPECT_TRUE(rig.port.sent.empty());
}

TEST(MeterLink, LiveReplyIsAReadingEvenAfterPollingTurnedToKeepAlives) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.poll.tick();
    rig.session.setPolling(Polling::KeepAlive);
    rig.port.deliver({2, 0, 85, 0, 3, 10, 1, 0xEE});
    ASSERT_EQ(rig.events.readings.size(), 1u);
    EXPECT_EQ(rig.events.readings[0].current->text, "85mA");
    EXPECT_EQ(rig.events.readings[0].second->text, "-31V");
}

TEST(MeterLink, BytesBelowTheThresholdWaitForTheRest) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.poll.tick();
    rig.port.deliver({1, 12, 34});
    EXPECT_TRUE(rig.events.readings.empty());
    rig.port.deliver({1, 23, 13, 0});
    ASSERT_EQ(rig.events.readings.size(), 1u);
    EXPECT_EQ(rig.events.readings[0].current->text, "12.34A");
}

TEST(MeterLink, KeepAliveAnswerIsNotExaminedButFeedsTheWatchdog) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.session.setPolling(Polling::KeepAlive);
    silentTicks(rig, 2);
    rig.poll.tick();
    rig.port.deliver({1, 2, 3});
    silentTicks(rig, 4);
    EXPECT_TRUE(rig.events.losses.empty());
    EXPECT_TRUE(rig.events.readings.empty());
    EXPECT_EQ(rig.events.ups.size(), 1u);
}

// Drives a whole download: "Read", count reply, the block delay, the block.
struct Download {
    LinkRig rig;
    explicit Download(Bytes countReply) {
        connectOn(rig, 1);
        rig.session.setPolling(Polling::KeepAlive);
        rig.link.Button_read_Click();
        rig.port.deliver(std::move(countReply));
    }
};

TEST(MeterLink, CountReplyArmsTheBlockAndTheDelay) {
    Download d({0x05, 0x05, 0x01, 0x0A});
    EXPECT_EQ(d.rig.events.counts, std::vector<int>{110});
    EXPECT_EQ(d.rig.link.state(), S::BlockDelay);
    EXPECT_TRUE(d.rig.blockDelay.isEnabled());
    EXPECT_FALSE(d.rig.poll.isEnabled());
    EXPECT_FALSE(d.rig.scan.isEnabled());
    d.rig.blockDelay.tick();
    EXPECT_FALSE(d.rig.blockDelay.isEnabled());
    EXPECT_EQ(d.rig.link.state(), S::BlockPending);
    EXPECT_EQ(d.rig.sentBytes().back(), 25);
    d.rig.port.deliver(Bytes(769, 1));
    EXPECT_TRUE(d.rig.events.ended.empty()) << "the block request keeps the threshold of 770";
    d.rig.port.deliver(Bytes{1});
    EXPECT_EQ(d.rig.events.ended, std::vector<bool>{true});
    EXPECT_EQ(d.rig.events.downloaded.size(), 110u);
}

TEST(MeterLink, CountReplyValues) {
    for (const auto& [reply, count] : std::vector<std::pair<Bytes, int>>{
             {{5, 5, 0x01, 0x17}, 123}, {{5, 5, 0, 150}, 150}, {{5, 5, 255, 255}, 25755}}) {
        Download d(reply);
        EXPECT_EQ(d.rig.events.counts, std::vector<int>{count});
        EXPECT_EQ(d.rig.events.progress.back(), std::make_pair(0, 7 * count));
    }
}

TEST(MeterLink, WrongCountMarkersStallUntilTheWatchdogGivesUp) {
    Download d({0x06, 0x05, 0x01, 0x0A});
    EXPECT_TRUE(d.rig.events.counts.empty());
    EXPECT_EQ(d.rig.link.state(), S::Stalled);
    EXPECT_FALSE(d.rig.blockDelay.isEnabled());
    EXPECT_FALSE(d.rig.poll.isEnabled());
    EXPECT_EQ(d.rig.events.ended, std::vector<bool>{false});
    // a good count reply after all still starts the download
    d.rig.port.deliver({0x05, 0x05, 0x00, 0x02});
    EXPECT_EQ(d.rig.events.counts, std::vector<int>{2});
    EXPECT_TRUE(d.rig.blockDelay.isEnabled());
}

TEST(MeterLink, StalledDownloadLosesTheLinkAndPollingReturnsAtTheHandOver) {
    Download d({0x06, 0x05, 0x01, 0x0A});
    silentTicks(d.rig, 5);
    EXPECT_EQ(d.rig.link.state(), S::Scanning);
    EXPECT_EQ(d.rig.events.ended, std::vector<bool>{false}) << "told once, when it stalled";
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
    EXPECT_TRUE(d.rig.poll.isEnabled());
    EXPECT_EQ(d.rig.link.state(), S::Polling);
    EXPECT_EQ(d.rig.events.ended, std::vector<bool>{true});
    EXPECT_EQ(d.rig.events.progress.back(), std::make_pair(14, 14));
    d.rig.poll.tick();
    d.rig.port.deliver({1, 2, 3});
    EXPECT_TRUE(d.rig.events.readings.empty()) << "a keep-alive answer after the block";
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
        ASSERT_TRUE(d.rig.events.losses.empty()) << "lost after " << sent << " readings";
    }
    EXPECT_EQ(d.rig.table.rows(), 2 * kCount);
    EXPECT_EQ(d.rig.table.cell(2 * kCount - 2, 0), "NO:25755");
    EXPECT_EQ(d.rig.events.ended, std::vector<bool>{true});
}

TEST(MeterLink, BlockThatStopsHalfwayIsDeclaredLostAndKeepsTheTable) {
    Download d({0x05, 0x05, 0x00, 0x04});
    d.rig.blockDelay.tick();
    d.rig.port.deliver(Bytes(14, 1));
    silentTicks(d.rig, 5);
    EXPECT_EQ(d.rig.events.losses, std::vector<bool>{true});
    EXPECT_EQ(d.rig.table.rows(), 2);
    EXPECT_EQ(d.rig.table.cell(0, 0), "NO.");
    EXPECT_EQ(d.rig.events.ended, std::vector<bool>{false});
}

TEST(MeterLink, CountOfZeroEmptiesTheTableAndKeepsTheLink) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.table.setRows(6);
    rig.table.setCell(3, 1, "old");
    rig.session.setPolling(Polling::KeepAlive);
    rig.link.Button_read_Click();
    rig.port.deliver({0x05, 0x05, 0x00, 0x00});
    EXPECT_EQ(rig.events.counts, std::vector<int>{0});
    EXPECT_FALSE(rig.blockDelay.isEnabled());
    EXPECT_TRUE(rig.poll.isEnabled());
    EXPECT_EQ(rig.table.rows(), 2);
    EXPECT_EQ(rig.table.cell(0, 0), "NO.");
    EXPECT_EQ(rig.events.ended, std::vector<bool>{true});
    rig.poll.tick();
    rig.port.deliver({1, 2, 3});
    silentTicks(rig, 4);
    EXPECT_TRUE(rig.events.losses.empty());
}

TEST(MeterLink, ReadWaitsForTheReplyInFlight) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.poll.tick(); // realtime request, its reply still on the wire
    rig.session.setPolling(Polling::KeepAlive);
    rig.link.Button_read_Click();
    EXPECT_EQ(rig.sentBytes().back(), 35);
    EXPECT_EQ(rig.link.state(), S::ReadWaiting);
    rig.port.deliver({1, 12, 34, 1, 23, 13, 0});
    EXPECT_EQ(rig.sentBytes().back(), 15) << "asked as soon as the reply is in";
    EXPECT_EQ(rig.events.readings.size(), 1u);
    EXPECT_FALSE(rig.poll.isEnabled());
    rig.port.deliver({5, 5, 0, 1});
    EXPECT_EQ(rig.events.counts, std::vector<int>{1});

    // A keep-alive that is never answered: the request goes out at the next poll tick.
    LinkRig silent;
    connectOn(silent, 1);
    silent.session.setPolling(Polling::KeepAlive);
    silent.poll.tick();
    silent.link.Button_read_Click();
    EXPECT_EQ(silent.sentBytes().back(), 5);
    silent.poll.tick();
    EXPECT_EQ(silent.sentBytes().back(), 15);
    EXPECT_EQ(silent.link.state(), S::CountPending);

    // And a link lost meanwhile ends the download that was asked for.
    LinkRig lost;
    connectOn(lost, 1);
    lost.poll.tick();
    EXPECT_TRUE(lost.link.requestDownload());
    silentTicks(lost, 5);
    EXPECT_EQ(lost.events.ended, std::vector<bool>{false});
}

TEST(MeterLink, ReadDuringADownloadIsIgnored) {
    Download d({0x05, 0x05, 0x00, 0x02});
    d.rig.link.Button_read_Click(); // during the block delay
    EXPECT_TRUE(d.rig.blockDelay.isEnabled());
    d.rig.blockDelay.tick();
    d.rig.port.deliver({0x01, 0x00, 0x05, 0x00, 0x00, 0x05, 0x00});
    d.rig.link.Button_read_Click(); // halfway through the block
    EXPECT_EQ(d.rig.sentBytes().back(), 25);
    d.rig.port.deliver({0x02, 0x00, 0x06, 0x00, 0x00, 0x06, 0x01});
    EXPECT_EQ(d.rig.table.rows(), 4);
    EXPECT_EQ(d.rig.table.cell(3, 2), "-0.6V");
    EXPECT_EQ(d.rig.events.ended, std::vector<bool>{true});
    d.rig.link.Button_read_Click(); // after it: a new download
    EXPECT_EQ(d.rig.sentBytes().back(), 15);
}

TEST(MeterLink, ReadDoesNothingWhilePollingLiveReadingsOrWithoutAPort) {
    LinkRig rig;
    connectOn(rig, 1);
    rig.port.sent.clear();
    rig.link.Button_read_Click();
    EXPECT_TRUE(rig.port.sent.empty());
    EXPECT_TRUE(rig.poll.isEnabled());

    LinkRig closed;
    closed.session.setPolling(Polling::KeepAlive);
    closed.link.Button_read_Click();
    EXPECT_FALSE(closed.link.requestDownload());
    EXPECT_TRUE(closed.port.sent.empty());
    EXPECT_TRUE(closed.poll.isEnabled());
    EXPECT_EQ(closed.link.state(), S::Scanning);
}

TEST(MeterLink, WatchdogCountsFiveSilentTicksAgainAndAgain) {
    LinkRig rig;
    silentTicks(rig, 4);
    EXPECT_TRUE(rig.events.losses.empty());
    rig.watchdog.tick();
    EXPECT_EQ(rig.events.losses, std::vector<bool>{false});
    silentTicks(rig, 4);
    EXPECT_EQ(rig.events.losses.size(), 1u);
    rig.watchdog.tick();
    EXPECT_EQ(rig.events.losses, (std::vector<bool>{false, false})) << "told again while scanning";
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
        EXPECT_TRUE(rig.events.readings.empty());
        silentTicks(rig, 4);
        EXPECT_TRUE(rig.events.losses.empty());
    }
    {
        LinkRig rig;
        rig.port.outcomes[1] = OpenResult::Opened;
        rig.scan.tick();
        rig.port.lostOnRead = 1;
        rig.port.deliver(kHello);
        EXPECT_EQ(rig.link.state(), S::Scanning);
        EXPECT_TRUE(rig.events.ups.empty());
    }
    {
        Download d({0x05, 0x05, 0x00, 0x00});
        d.rig.link.Button_read_Click();
        d.rig.port.lostOnRead = 1;
        d.rig.port.deliver({0x05, 0x05, 0x00, 0x03});
        EXPECT_EQ(d.rig.events.counts, std::vector<int>{0}) << "a short count reply is none";
        EXPECT_FALSE(d.rig.blockDelay.isEnabled());
        EXPECT_EQ(d.rig.link.state(), S::Stalled);
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
    EXPECT_EQ(rig.events.ups, (std::vector<std::pair<int, std::string>>{{3, "/dev/ttyUSB2"}}));
    rig.poll.tick();
    rig.port.deliver({2, 0, 85, 0, 3, 10, 1});
    clock.wall += 500;
    clock.steady += 500'000'000;
    rig.poll.tick();
    rig.port.deliver({4, 12, 34, 1, 0, 0, 0}); // no second quantity: still a reading
    ASSERT_EQ(rig.events.readings.size(), 2u);
    const TimedReading& first = rig.events.readings[0];
    EXPECT_EQ(first.wallMs, 1'765'000'000'000);
    EXPECT_EQ(first.steadyNs, 42);
    EXPECT_EQ(first.current->text, "85mA");
    EXPECT_EQ(first.current->value(), 0.085);
    EXPECT_EQ(first.second->kind, QuantityKind::DcVoltage);
    EXPECT_EQ(first.second->value(), -31);
    const TimedReading& second = rig.events.readings[1];
    EXPECT_EQ(second.steadyNs, 500'000'042);
    EXPECT_EQ(second.current->value(), 12.34);
    EXPECT_FALSE(second.second);
    EXPECT_EQ(rig.session.recording().history().size(), 2u) << "both in the recording";

    rig.session.setPolling(Polling::KeepAlive);
    rig.link.Button_read_Click();
    rig.port.deliver({5, 5, 0, 2});
    rig.blockDelay.tick();
    rig.port.deliver({1, 1, 23, 1, 23, 5, 0, 3, 0, 0, 4, 20, 1, 0});
    ASSERT_EQ(rig.events.downloaded.size(), 2u);
    EXPECT_EQ(rig.events.downloaded[0].current->text, "1.23A");
    EXPECT_EQ(rig.events.downloaded[0].second->value(), 230.5);
    EXPECT_EQ(rig.events.downloaded[1].second->text, "OLk\u03A9");
    EXPECT_TRUE(rig.events.downloaded[1].second->overload);
    EXPECT_EQ(rig.table.cell(3, 2), rig.events.downloaded[1].second->text);

    silentTicks(rig, 10);
    EXPECT_EQ(rig.events.losses, (std::vector<bool>{true, false}));
}

TEST(MeterLink, PromptStartTriesThePortAtOnceAndPollsTheMomentTheMeterAnswers) {
    LinkAssembly<FakePort, FakeTimer> parts;
    EventLog events;
    parts.link.setEvents(&events);
    parts.link.setPromptStart(true);
    parts.link.setOnlyPort(4);
    parts.port.outcomes[4] = OpenResult::Opened;
    parts.link.startUp();
    EXPECT_EQ(events.tried, (std::vector<std::pair<int, bool>>{{4, true}}));
    parts.port.deliver(kHello);
    EXPECT_EQ(parts.link.state(), S::Polling);
    EXPECT_FALSE(parts.Findcomtim.isEnabled());
    ASSERT_EQ(parts.port.sent.size(), 2u);
    EXPECT_EQ(parts.port.sent[1].byte, 35) << "the first poll at once";
    parts.link.shutDown();
    EXPECT_EQ(parts.link.state(), S::Stopped);
    EXPECT_FALSE(parts.port.isOpen());
    EXPECT_FALSE(parts.comcontim.isEnabled());
}

TEST(LinkEventFanOut, ConsumersMayLeaveWhileAnEventIsHandedOut) {
    struct Leaver : LinkEvents {
        LinkEventFanOut* fanOut = nullptr;
        LinkEvents* alsoRemove = nullptr;
        int heard = 0;
        void linkLost(const LinkLoss&) override {
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
    fanOut.addConsumer(&first); // a second time: no effect
    fanOut.linkLost({true});
    EXPECT_EQ(first.heard, 1) << "heard once, though added twice";
    EXPECT_EQ(second.heard, 0) << "removed before its turn";
    fanOut.linkLost({true});
    EXPECT_EQ(first.heard, 1) << "gone";
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
    rig.port.answer = [&](std::uint8_t command) { return replies.at(command); };
    // Each step as the event loop runs it: the step, then the port's announcement.
    const auto step = [&](auto&& action) {
        action();
        rig.port.announce();
    };
    step([&] { rig.scan.tick(); });
    step([&] { rig.scan.tick(); }); // port 2 opens, the handshake is answered at once
    EXPECT_EQ(rig.events.ups.size(), 1u);
    step([&] { rig.scan.tick(); });
    step([&] { rig.poll.tick(); });
    ASSERT_EQ(rig.events.readings.size(), 1u);
    EXPECT_EQ(rig.events.readings[0].current->text, "12.34A");
    rig.session.setPolling(Polling::KeepAlive);
    step([&] { rig.link.Button_read_Click(); });
    EXPECT_EQ(rig.events.counts, std::vector<int>{2}) << "the count reply was taken in";
    step([&] { rig.blockDelay.tick(); });
    EXPECT_EQ(rig.events.ended, std::vector<bool>{true});
    EXPECT_EQ(rig.table.cell(3, 2), "1.228k\u03A9");
    EXPECT_EQ(rig.sentBytes(), (Bytes{5, 35, 15, 25}));
    silentTicks(rig, 4);
    EXPECT_TRUE(rig.events.losses.empty());
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
        ASSERT_EQ(LinkEventDriver::replay(events), "") << "round " << round;
    }
}

// Every input the fuzzer ever broke an invariant with, and its seeds, through the same driver.
TEST(MeterLink, FuzzInputsOnRecordKeepTheInvariants) {
    int replayed = 0;
    for (const char* folder : {"crashes", "corpus"}) {
        const auto dir = std::filesystem::path(TALVIREN_SOURCE_DIR) / "tests/fuzz" / folder;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            std::ifstream file(entry.path(), std::ios::binary);
            const Bytes input{std::istreambuf_iterator<char>(file), {}};
            EXPECT_EQ(LinkEventDriver::replay(input), "") << entry.path();
            ++replayed;
        }
    }
    EXPECT_GE(replayed, 7);
}

} // namespace
