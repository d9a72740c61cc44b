// Several meters' plain parts: where a meter comes from, the sum of phases, the event-stream
// reader and the follower of a remote logger on a scripted HTTP stream.

#include "RemoteFakes.h"
#include "TimedReadings.h"

#include "meters/Meter.h"
#include "meters/MeterSource.h"
#include "meters/PhaseSum.h"
#include "remote/EventStreamReader.h"
#include "remote/RemoteFollower.h"
#include "json/ReadingJson.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

using namespace talviren;
using namespace talviren::remote;
using namespace talviren::testing;

namespace {

TEST(MeterSource, ReadsEveryFormAndSaysWhatIsWrong) {
    struct Case {
        const char* name;
        const char* value;
        const char* shown; // kind:detail, or the error's words
    };
    for (const Case& c : {
             Case{"L1", "scan", "scan"},
             Case{"L2", "COM5", "port:5"},
             Case{"L3", "http://cellar.local:8080/ token-file /home/u/t",
                  "http://cellar.local:8080/ cellar.local:8080 /home/u/t"},
             Case{"cellar-2", "https://[::1]:8443", "https://[::1]:8443/ [::1]:8443 "},
             Case{"web", "http://meter.local", "http://meter.local:80/ meter.local:80 "},
             Case{"L 4", "scan", "a name takes letters"},
             Case{"total", "scan", "total is the sum's name"},
             Case{"L5", "COM17", "a local port is COM1 to COM16"},
             Case{"L6", "http://host:99999/", "is no HOST:PORT"},
             Case{"L7", "http://u@host:80/", "names no host"},
             Case{"L8", "http://host:80/api", "by its address alone"},
             Case{"L9", "http://host:80/ token", "only token-file PATH"},
             Case{"LA", "serial", "is scan, COMn or an http:// address"},
         }) {
        const MeterParse parsed = parseMeter(c.name, c.value);
        std::string shown;
        if (parsed.source) {
            const MeterSource& s = *parsed.source;
            shown = s.kind == MeterSource::Kind::Scan   ? "scan"
                    : s.kind == MeterSource::Kind::Port ? "port:" + std::to_string(s.port)
                                                        : s.url + " " + s.host + " " + s.tokenFile;
            EXPECT_EQ(shown, c.shown) << c.value;
        } else {
            EXPECT_NE(parsed.error.find(c.shown), std::string::npos)
                << c.value << ": " << parsed.error;
            EXPECT_EQ(parsed.error.find("meter '" + std::string(c.name) + "'"), 0u);
        }
    }
    const auto source = [](const char* name, const char* value) {
        return *parseMeter(name, value).source;
    };
    EXPECT_NE(checkMeters({source("a", "scan"), source("A", "COM2")})->find("given twice"),
              std::string::npos);
    EXPECT_NE(checkMeters({source("a", "scan"), source("b", "scan")})->find("only one"),
              std::string::npos);
    EXPECT_NE(checkMeters({source("a", "COM3"), source("b", "COM3")})->find("COM3 is a's"),
              std::string::npos);
    EXPECT_FALSE(checkMeters({source("a", "scan"), source("b", "COM3")}));
}

// The sum against one worked out here from the counts (S = I × U exactly, in 1/10000 VA): at
// each reading of the first meter, all meters on AC voltage read within 1.25 s, else a gap.
TEST(PhaseSum, EachSumIsTheExactSumOfTheMetersAlignedWithinAQuarterAndASecond) {
    Meter l1{*parseMeter("L1", "scan").source}, l2{*parseMeter("L2", "COM2").source},
        l3{*parseMeter("L3", "COM3").source};
    l1.setPowerFactor(PowerFactor{900'000});
    l2.setPowerFactor(PowerFactor{800'000});
    PhaseSum sum;
    sum.setMeters({&l1, &l2, &l3});
    struct Heard : PhaseSumListener {
        std::vector<SumPoint> points;
        int absent = 0;
        void sumAdded(const SumPoint& p) override { points.push_back(p); }
        void sumAbsent(std::int64_t) override { ++absent; }
    } heard;
    sum.addListener(&heard);
    std::mt19937 random(7);
    std::int64_t latest[3] = {-1, -1, -1};
    std::int64_t units[3] = {};
    bool ac[3] = {};
    std::vector<std::pair<std::int64_t, bool>> expected; // sum, or none
    std::vector<std::int64_t> expectedP;                 // P in 1e-10 W where all have a PF
    const std::int64_t ppm[3] = {900'000, 800'000, 0};
    Recording* recordings[3] = {&l1.recording(), &l2.recording(), &l3.recording()};
    for (int tick = 0; tick < 400; ++tick) {
        for (int m = 0; m < 3; ++m) {
            // L3 is silent now and then, and on DC voltage for a while; L2 overloads once.
            if (m == 2 && tick % 50 > 44) {
                continue;
            }
            const std::uint8_t function = m == 2 && tick > 300 && tick < 330 ? 2 : 1;
            const int current = 900 + static_cast<int>(random() % 600);
            const int voltage = 2200 + static_cast<int>(random() % 200);
            const bool over = m == 1 && tick == 123;
            TimedReading r = timedReading({function, over ? 10001 : current,
                                           static_cast<std::uint8_t>(over ? 5 : 1), voltage, 0},
                                          tick);
            r.wallMs += m * 70 + static_cast<int>(random() % 40); // the meters' own moments
            latest[m] = r.wallMs;
            ac[m] = function == 1;
            units[m] = over ? -1 : static_cast<std::int64_t>(current) * voltage * 10; // A/100·V/10
            if (m == 0) {
                std::int64_t total = 0, real = 0;
                bool complete = true, allReal = true;
                for (int k = 0; k < 3; ++k) {
                    const std::int64_t at = k == 0 ? r.wallMs : latest[k];
                    if (k > 0 && !ac[k]) {
                        continue;
                    }
                    complete = complete && at >= 0 && std::abs(r.wallMs - at) <= 1250 &&
                               (k == 0 || units[k] >= 0);
                    total += k == 0 ? units[0] : units[k];
                    real += units[k] * ppm[k];
                    allReal = allReal && ppm[k] > 0;
                }
                expected.emplace_back(complete ? total : -1, complete);
                expectedP.push_back(allReal ? real : -1);
            }
            recordings[m]->add(r);
        }
    }
    ASSERT_EQ(heard.points.size() + static_cast<std::size_t>(heard.absent), expected.size());
    std::size_t p = 0;
    for (std::size_t e = 0; e < expected.size(); ++e) {
        if (expected[e].second) {
            ASSERT_LT(p, heard.points.size());
            EXPECT_EQ(heard.points[p].units, expected[e].first) << "point " << p;
            EXPECT_EQ(heard.points[p].realPower.has_value(), heard.points[p].meters < 3)
                << "P only where every meter in the sum has a power factor";
            if (heard.points[p].realPower) {
                EXPECT_EQ(*heard.points[p].realPower, expectedP[e]) << "exact P, point " << p;
            }
            ++p;
        }
    }
    EXPECT_GT(heard.absent, 3) << "silences and the overload leave gaps";
    EXPECT_EQ(sum.apparentEnergyUnits(), l1.recording().power().apparentEnergyUnits() +
                                             l2.recording().power().apparentEnergyUnits() +
                                             l3.recording().power().apparentEnergyUnits());
    sum.removeListener(&heard);
}

TEST(EventStreamReader, EventsReadTheSameInAnyPiecesAndWhatIsNoStreamIsRefused) {
    const std::string stream = "\xEF\xBB\xBF:comment\r\nretry: 2000\n\nevent: reading\nid: 7\n"
                               "data: {\"a\":\ndata: 1}\n\nevent: link\r\ndata:x\r\n\r\n"
                               "data: last\n\n";
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        std::vector<std::string> got;
        EventStreamReader reader(
            [&](const StreamEvent& e) { got.push_back(e.name + "|" + e.id + "|" + e.data); });
        ASSERT_TRUE(reader.feed(stream.substr(0, cut)));
        ASSERT_TRUE(reader.feed(stream.substr(cut)));
        EXPECT_EQ(got,
                  (std::vector<std::string>{"reading|7|{\"a\":\n1}", "link|7|x", "message|7|last"}))
            << "cut at " << cut;
        EXPECT_EQ(reader.retryMs(), 2000);
    }
    EventStreamReader longLine([](const StreamEvent&) {});
    EXPECT_FALSE(longLine.feed("data: " + std::string(EventStreamReader::kMaxLine, 'x')));
    EXPECT_EQ(longLine.refusal(), "a line longer than 1 MiB");
    EventStreamReader endless([](const StreamEvent&) {});
    bool fed = true;
    for (int i = 0; i < 20'000 && fed; ++i) {
        fed = endless.feed("data: " + std::string(100, 'y') + "\n");
    }
    EXPECT_FALSE(fed);
    EXPECT_EQ(endless.refusal(), "an event of more than 1 MiB that never ends");
}

struct Taken : RemoteListener {
    std::vector<std::pair<std::uint64_t, bool>> readings; // seq, break before
    void remoteReading(const RemoteReading& r, bool breakBefore) override {
        readings.emplace_back(r.seq, breakBefore);
    }
};

std::string readingJson(std::uint64_t seq) {
    return json::readingJson(seq, timedReading({1, 1234, 1, 2313, 0}, static_cast<int>(seq)), 0,
                             PowerFactor{950'000});
}

std::string readingEvent(std::uint64_t seq) {
    return "event: reading\nid: " + std::to_string(seq) + "\ndata: " + readingJson(seq) + "\n\n";
}

// The hour first, then the stream; a drop resumes after the last reading taken, what the
// logger no longer has is counted and breaks the line, tries wait 1 s, 2 s, 4 s ... 30 s.
TEST(RemoteFollower, ResumesAfterTheLastReadingAndCountsWhatTheLoggerNoLongerHas) {
    ScriptedHttp http;
    ScriptedCountdown retry, silence;
    Taken taken;
    RemoteFollower follower({"http://cellar:8080/", "cellar:8080", ""}, http, retry, silence, taken,
                            ".");
    follower.start();
    ASSERT_EQ(http.requests.back().url, "http://cellar:8080/api/readings");
    http.answer(200, "application/json",
                "[" + readingJson(1) + "," + readingJson(2) + "," + readingJson(3) + "]", true);
    ASSERT_EQ(http.requests.back().url, "http://cellar:8080/api/events");
    EXPECT_EQ(http.header(1, "Last-Event-ID"), "3");
    http.answer(200, "text/event-stream; charset=utf-8", readingEvent(4) + readingEvent(5), false);
    EXPECT_TRUE(follower.connected());
    http.answer(200, "text/event-stream", "", true); // the connection drops
    EXPECT_FALSE(follower.connected());
    ASSERT_TRUE(follower.offlineSinceMs());
    retry.fire();
    EXPECT_EQ(http.requests.back().url, "http://cellar:8080/api/readings?since=5");
    http.answer(200, "application/json", "[" + readingJson(8) + "]", true, "2");
    EXPECT_EQ(http.header(3, "Last-Event-ID"), "8");
    http.answer(200, "text/event-stream", readingEvent(9) + readingEvent(11), false);
    EXPECT_EQ(taken.readings, (std::vector<std::pair<std::uint64_t, bool>>{{1, false},
                                                                           {2, false},
                                                                           {3, false},
                                                                           {4, false},
                                                                           {5, false},
                                                                           {8, true},
                                                                           {9, false},
                                                                           {11, true}}));
    EXPECT_EQ(follower.missed(), 3u) << "two the logger said, one in the stream's gap";
    // Tries in a row that fail wait longer each time, up to 30 s; once up, 1 s again.
    retry.started.clear();
    http.answer(200, "text/event-stream", "", true);
    for (int i = 0; i < 6; ++i) {
        retry.fire();
        http.fail("Connection refused");
    }
    EXPECT_EQ(retry.started,
              (std::vector<std::int64_t>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    EXPECT_EQ(follower.problem(), "Connection refused");
}

TEST(RemoteFollower, AWrongTokenAndAServerThatIsNoLoggerAreToldAsSuch) {
    struct Case {
        int status;
        const char* type;
        std::string body;
        bool events; // answered on the event stream, after an empty hour
        const char* told;
    };
    for (const Case& c : {
             Case{401, "text/plain", "", false, "wrong token"},
             Case{200, "text/html", "<html>", false, "not a talviren logger: it answers text/html"},
             Case{200, "application/json", "{{{", false, "its readings are no JSON array"},
             Case{200, "application/json", "[{\"seq\":1}]", false, "a reading without seq"},
             Case{200, "text/event-stream", "event: reading\ndata: [1,2]\n\n", true,
                  "an event that is no reading"},
             Case{200, "text/event-stream", "data: " + std::string(1 << 20, 'z'), true,
                  "a line longer than 1 MiB"},
         }) {
        ScriptedHttp http;
        ScriptedCountdown retry, silence;
        Taken taken;
        RemoteFollower follower({"http://x:1/", "x:1", ""}, http, retry, silence, taken, ".");
        follower.start();
        if (c.events) {
            http.answer(200, "application/json", "[]", true);
        }
        http.answer(c.status, c.type, c.body, !c.events);
        EXPECT_FALSE(follower.connected()) << c.told;
        EXPECT_NE(follower.problem().find(c.told), std::string::npos) << follower.problem();
        EXPECT_EQ(follower.wrongToken(), c.status == 401);
        EXPECT_EQ(retry.started.back(), RemoteFollower::kLongestRetryMs);
    }
}

// What the fuzzer found and its seeds, through the same driver (the sanitizers catch the rest).
TEST(RemoteFollower, FuzzInputsOnRecordKeepTheInvariants) {
    int replayed = 0;
    for (const char* folder : {"remote-crashes", "remote-corpus"}) {
        const auto dir = std::filesystem::path(TALVIREN_SOURCE_DIR) / "tests/fuzz" / folder;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            std::ifstream file(entry.path(), std::ios::binary);
            const std::string input{std::istreambuf_iterator<char>(file), {}};
            EXPECT_EQ(
                replayRemote(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()), "")
                << entry.path();
            ++replayed;
        }
    }
    EXPECT_GE(replayed, 2);
}

} // namespace
