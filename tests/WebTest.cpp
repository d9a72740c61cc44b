// The web's plain parts: the --http address, the hour the feed keeps, the event streams'
// cursors and backlogs, the metrics and the routes with their limits.

#include "TimedReadings.h"

#include "service/ClockSync.h"
#include "web/EventStreams.h"
#include "web/HttpAddress.h"
#include "web/LiveFeed.h"
#include "web/Metrics.h"
#include "web/RunState.h"
#include "web/WebSite.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

using namespace talviren;
using talviren::testing::timedReading;
using namespace talviren::web;

namespace {

const MeterReading kAcVoltage{1, 1234, 1, 2313, 0};    // 12.34 A, 231.3 V
const MeterReading kDcVoltage{2, 85, 0, 310, 1};       // 0.085 A, -31 V
const MeterReading kCurrentOver{1, 10001, 5, 2313, 0}; // OL A, 231.3 V

class Clock : public ReadingClock {
public:
    std::int64_t wallMs() const override { return 1'765'000'000'000 + steady / 1'000'000; }
    std::int64_t steadyNs() const override { return steady; }
    std::int64_t steady = 0;
};

// A run fed by hand: the recording, the alarms and the feed, as the session wires them.
struct FedRun {
    explicit FedRun(std::optional<PowerFactor> pf = std::nullopt,
                    std::int64_t keepNs = LiveFeed::kHourNs)
        : feed(recording, alarms, pf, clock, keepNs) {
        recording.addListener(&feed);
        alarms.addListener(&feed);
    }
    void add(const MeterReading& raw) {
        clock.steady = tick * 500'000'000LL;
        const TimedReading reading = timedReading(raw, tick++);
        recording.add(reading);
        alarms.reading(reading);
    }
    void linkUp() { feed.linkCameUp({3, "/dev/ttyUSB0"}); }
    void linkLost() { feed.linkLost({true}); }

    int tick = 0;
    Clock clock;
    Recording recording;
    AlarmEngine alarms;
    LiveFeed feed;
};

TEST(HttpAddress, TakesAPortAloneOrAnIpAddressWithItAndNothingElse) {
    struct Case {
        const char* given;
        const char* text; // nullptr: refused
    };
    const Case cases[] = {
        {"8080", "127.0.0.1:8080"},
        {"0.0.0.0:8080", "0.0.0.0:8080"},
        {"[::]:8080", "[::]:8080"},
        {"[::1]:1", "[::1]:1"},
        {"192.168.1.20:65535", "192.168.1.20:65535"},
        {"0", nullptr},
        {"65536", nullptr},
        {"abc", nullptr},
        {"", nullptr},
        {"-1", nullptr},
        {"+80", nullptr},
        {"8080:", nullptr},
        {"localhost:8080", nullptr},
        {"1.2.3:80", nullptr},
        {"::1:8080", nullptr},
        {"[::1]8080", nullptr},
        {"[meter]:80", nullptr},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto address = parseHttpAddress(c.given, error);
        if (c.text) {
            ASSERT_TRUE(address) << c.given << ": " << error;
            EXPECT_EQ(address->text(), c.text);
        } else {
            EXPECT_FALSE(address) << c.given;
            EXPECT_NE(error.find('\'' + std::string(c.given)), std::string::npos) << error;
            EXPECT_EQ(error.find('\n'), std::string::npos);
        }
    }
}

TEST(LiveFeed, KeepsAnHourAndSaysWhatItNoLongerHas) {
    // An hour of 2 s here: four readings at 500 ms apart stay, with the link's change among them.
    FedRun run(std::nullopt, 2'000'000'000);
    run.linkUp();
    for (int i = 0; i < 10; ++i) {
        run.add(kAcVoltage);
    }
    std::uint64_t missed = 0;
    auto kept = run.feed.readingsAfter(0, missed);
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_EQ(kept.front()->seq, 6u);
    EXPECT_EQ(kept.back()->seq, 10u);
    EXPECT_EQ(missed, 5u) << "readings 1 to 5 are gone";
    kept = run.feed.readingsAfter(7, missed);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept.front()->seq, 8u);
    EXPECT_EQ(missed, 0u);
    EXPECT_TRUE(run.feed.readingsAfter(10, missed).empty());
    EXPECT_TRUE(run.feed.readingsAfter(99, missed).empty()) << "a seq of another run";
    EXPECT_EQ(missed, 0u);

    // A stream resumes right after the reading it names, or from what is kept.
    EXPECT_EQ(run.feed.event(run.feed.indexAfterReading(7))->seq, 8u);
    EXPECT_EQ(run.feed.indexAfterReading(10), run.feed.nextIndex());
    EXPECT_EQ(run.feed.indexAfterReading(2), run.feed.firstIndex());
    EXPECT_EQ(run.feed.indexAfterReading(99), run.feed.firstIndex());

    const std::string json(kept.back()->data());
    EXPECT_EQ(json.front(), '{');
    EXPECT_NE(json.find("\"seq\":10,"), std::string::npos);
    EXPECT_EQ(kept.back()->frame, "event: reading\nid: 10\ndata: " + json + "\n\n");
}

TEST(LiveFeed, ThereIsNoCurrentReadingWhileTheMeterIsAway) {
    FedRun run;
    EXPECT_EQ(run.feed.linkJson(), "{\"state\":\"searching\"}");
    run.linkUp();
    run.add(kCurrentOver);
    run.add(kDcVoltage);
    ASSERT_TRUE(run.feed.current());
    EXPECT_EQ(run.feed.currentOverloads(), 1u);
    EXPECT_EQ(run.feed.secondOverloads(), 0u);
    EXPECT_EQ(run.feed.readings(), 2u);
    EXPECT_NE(run.feed.linkJson().find("\"state\":\"connected\",\"port\":3,"), std::string::npos);
    run.linkLost();
    EXPECT_FALSE(run.feed.current());
    EXPECT_NE(run.feed.linkJson().find("\"state\":\"lost\""), std::string::npos);
    const FeedEvent* last = run.feed.event(run.feed.nextIndex() - 1);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->kind, FeedEvent::Kind::Link);
    EXPECT_EQ(last->frame.rfind("event: link\ndata: {", 0), 0u) << "no id: only readings have one";
}

// The server's side of the streams, as the tests see it.
struct Connections : EventStreams::Connections {
    void due() override { ++dues; }
    void wake(std::uint64_t stream) override { ++woken[stream]; }
    void drop(std::uint64_t stream) override { dropped.push_back(stream); }
    int dues = 0;
    std::map<std::uint64_t, int> woken;
    std::vector<std::uint64_t> dropped;
};

std::string takeAll(EventStreams& streams, std::uint64_t id) {
    std::string out;
    char buffer[100]; // small, so that frames are taken in pieces
    while (const std::size_t n = streams.take(id, buffer, sizeof buffer)) {
        out.append(buffer, n);
    }
    return out;
}

std::vector<std::string> ids(const std::string& stream) {
    std::vector<std::string> found;
    const std::regex id("\nid: (\\d+)\n");
    for (auto it = std::sregex_iterator(stream.begin(), stream.end(), id);
         it != std::sregex_iterator(); ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

TEST(EventStreams, EachReadsFromItsOwnPlaceAndASlowOneIsDroppedAlone) {
    FedRun run;
    run.alarms.configure({*parseAlarm("hi: current > 12A").rule}, std::nullopt, 0);
    run.linkUp();
    run.add(kAcVoltage); // seq 1 raises "hi"
    run.add(kAcVoltage);
    Connections connections;
    EventStreams streams(run.feed, connections, 4096);
    const std::uint64_t fast = streams.open(std::nullopt);
    const std::uint64_t slow = streams.open(std::nullopt);
    const std::uint64_t resumed = streams.open(1);

    const std::string start = takeAll(streams, fast);
    EXPECT_EQ(start.rfind("retry: 2000\n\nevent: link\ndata: {\"state\":\"connected\"", 0), 0u);
    EXPECT_NE(start.find("event: alarm\ndata: {\"alarm\":\"hi\""), std::string::npos)
        << "a raised alarm is told at once";
    EXPECT_TRUE(ids(start).empty()) << "no reading from before it opened";
    EXPECT_EQ(ids(takeAll(streams, resumed)), (std::vector<std::string>{"2"}));

    std::string fastText;
    std::string resumedText;
    for (int i = 0; i < 40; ++i) {
        run.add(kAcVoltage);
        if (i % 2 == 1) {
            streams.deliver(); // as the server does on its next turn: two readings at once here
        }
        fastText += takeAll(streams, fast);
        resumedText += takeAll(streams, resumed);
    }
    EXPECT_EQ(connections.dues, 20) << "once for each undelivered run of readings";
    EXPECT_EQ(connections.dropped, (std::vector<std::uint64_t>{slow}))
        << "only the one that took nothing, past 4096 bytes";
    EXPECT_EQ(connections.woken[fast], 20);
    EXPECT_EQ(ids(fastText).size(), 40u);
    EXPECT_EQ(ids(fastText).front(), "3");
    EXPECT_EQ(ids(resumedText), ids(fastText)) << "resumed, then kept up";
    EXPECT_EQ(streams.backlog(fast), 0u);

    streams.keepAlive();
    EXPECT_EQ(takeAll(streams, fast), ":\n\n");
    streams.close(slow);
    EXPECT_EQ(streams.count(), 2u);
}

TEST(EventStreams, WhatAResumingStreamAskedForIsNoBacklog) {
    FedRun run;
    run.linkUp();
    for (int i = 0; i < 30; ++i) {
        run.add(kAcVoltage);
    }
    Connections connections;
    EventStreams streams(run.feed, connections, 2048);
    const std::uint64_t id = streams.open(0);
    run.add(kAcVoltage);
    streams.deliver();
    EXPECT_TRUE(connections.dropped.empty()) << "30 readings asked for, over 2048 bytes";
    EXPECT_LT(streams.backlog(id), 2048u);
    EXPECT_EQ(ids(takeAll(streams, id)).size(), 31u);
}

// Prometheus samples by name and labels, read line by line as the text format has them.
std::map<std::string, std::string> samples(const std::string& text) {
    std::map<std::string, std::string> found;
    std::istringstream lines(text);
    std::string line;
    const std::regex sample("^([a-z_]+)\\{meter=\"bench\"(?:,([a-z]+=\"[^\"]*\"))?\\} (\\S+)$");
    while (std::getline(lines, line)) {
        std::smatch m;
        if (line.starts_with("# HELP ") || line.starts_with("# TYPE ")) {
            continue;
        }
        EXPECT_TRUE(std::regex_match(line, m, sample)) << line;
        found[m[1].str() + (m[2].matched ? "{" + m[2].str() + "}" : "")] = m[3];
    }
    return found;
}

TEST(Metrics, QuantitiesNotMeasuredNowAreAbsentAndTheCountersCount) {
    FedRun run(PowerFactor{500'000});
    run.alarms.configure(
        {*parseAlarm("hi: current > 12A").rule, *parseAlarm("low: ac_voltage < 100V").rule},
        PowerFactor{500'000}, 0);
    auto now = samples(metricsText(run.feed, "bench"));
    EXPECT_EQ(now.size(), 8u) << "link, alarms and counters only, before any reading";
    EXPECT_EQ(now["talviren_link_up"], "0");
    EXPECT_EQ(now["talviren_readings_total"], "0");
    EXPECT_EQ(now["talviren_energy_joules_total"], "0");

    run.linkUp();
    run.add(kAcVoltage);
    run.add(kAcVoltage);
    now = samples(metricsText(run.feed, "bench"));
    EXPECT_EQ(now["talviren_current_amperes"], "12.34");
    EXPECT_EQ(now["talviren_ac_voltage_volts"], "231.3");
    EXPECT_EQ(now["talviren_apparent_power_voltamperes"], "2854.242");
    EXPECT_EQ(now["talviren_power_watts"], "1427.121");
    EXPECT_EQ(now.count("talviren_dc_voltage_volts"), 0u);
    EXPECT_EQ(now["talviren_link_up"], "1");
    EXPECT_EQ(now["talviren_alarm_active{alarm=\"hi\"}"], "1");
    EXPECT_EQ(now["talviren_alarm_active{alarm=\"low\"}"], "0");
    EXPECT_EQ(now["talviren_readings_total"], "2");
    // 2854.242 VA for 0.5 s: 1427.121 VA s, 713.5605 J at PF 0.5 (kept to 0.0001 VA h).
    EXPECT_EQ(now["talviren_apparent_energy_voltampere_seconds_total"], "1427.04");
    EXPECT_EQ(now["talviren_energy_joules_total"], "713.5605");

    run.add(kCurrentOver);
    now = samples(metricsText(run.feed, "bench"));
    EXPECT_EQ(now.count("talviren_current_amperes"), 0u) << "over range";
    EXPECT_EQ(now.count("talviren_apparent_power_voltamperes"), 0u);
    EXPECT_EQ(now["talviren_ac_voltage_volts"], "231.3");
    EXPECT_EQ(now["talviren_overloads_total{quantity=\"current\"}"], "1");
    EXPECT_EQ(now["talviren_overloads_total{quantity=\"second\"}"], "0");

    run.add(kDcVoltage);
    now = samples(metricsText(run.feed, "bench"));
    EXPECT_EQ(now["talviren_dc_voltage_volts"], "-31");
    EXPECT_EQ(now.count("talviren_ac_voltage_volts"), 0u);
    EXPECT_EQ(now.count("talviren_power_watts"), 0u);

    run.linkLost();
    now = samples(metricsText(run.feed, "bench"));
    EXPECT_EQ(now.count("talviren_current_amperes") + now.count("talviren_dc_voltage_volts"), 0u);
    EXPECT_EQ(now["talviren_link_up"], "0");
    EXPECT_EQ(now["talviren_readings_total"], "4") << "counters keep what they counted";
}

// A log that fell behind shows in the metrics and the state, with the clock's state.
TEST(Metrics, TheLogBehindAndTheClockAreToldInTheMetricsAndTheState) {
    FedRun run;
    const auto folder =
        std::filesystem::temp_directory_path() / ("talviren-web-log-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "log.csv").string();
    std::string error;
    ASSERT_TRUE(run.recording.startLog(path, error)) << error;
    EXPECT_NE(
        runStateJson(run.feed, "bench", ".")
            .find("\"log\":{\"path\":\"" + path + "\",\"pending\":0,\"dropped\":0,\"error\":null}"),
        std::string::npos);
    std::filesystem::remove_all(folder); // nothing can be written any more
    for (int i = 0; i < 4; ++i) {
        run.add(kAcVoltage);
        run.recording.tickLog((i + 2) * 1'000'000'000LL);
    }
    ASSERT_TRUE(run.recording.log()->behind());
    const std::string pending = std::to_string(run.recording.log()->waiting());
    auto now = samples(metricsText(run.feed, "bench"));
    EXPECT_EQ(now["talviren_log_pending_readings"], pending);
    EXPECT_EQ(now["talviren_log_dropped_readings_total"], "0");
    const std::string state = runStateJson(run.feed, "bench", ".");
    EXPECT_NE(state.find("\"pending\":" + pending + ",\"dropped\":0,\"error\":\"cannot "),
              std::string::npos)
        << state;
    for (const auto& [synchronised, text] :
         {std::pair{std::optional<bool>(), "null"}, std::pair{std::optional<bool>(false), "false"},
          std::pair{std::optional<bool>(true), "true"}}) {
        run.feed.setClockSynchronised(synchronised);
        EXPECT_NE(runStateJson(run.feed, "bench", ".")
                      .find(std::string("\"clock_synchronised\":") + text + "}"),
                  std::string::npos);
    }
    run.recording.stopLog();
}

// Said once when the clock is first seen unsynchronised, and again at each change.
TEST(ClockSync, SaysWhenTheClockIsNotSynchronisedAndWhenItIs) {
    std::vector<std::optional<bool>> states = {false, false, true, true, std::nullopt, false};
    std::size_t next = 0;
    ClockSync clock([&] { return states[next++]; });
    std::vector<bool> told;
    for (std::size_t i = 0; i < states.size(); ++i) {
        told.push_back(!clock.check().empty());
    }
    EXPECT_EQ(told, (std::vector<bool>{true, false, true, false, false, true}));
    ClockSync synced([] { return std::optional<bool>(true); });
    EXPECT_EQ(synced.check(), "") << "a clock synchronised from the start needs no word";
    EXPECT_EQ(synced.synchronised(), true);
}

TEST(WebSite, LimitsMethodsTokensAndRoutesComeInThatOrder) {
    FedRun run;
    run.add(kAcVoltage);
    WebSite site(run.feed, {"bench", ".", "s3cret", "<html>page</html>"});
    struct Case {
        const char* method;
        const char* path;
        std::optional<std::string> authorization;
        std::optional<std::string> token;
        int status;
    };
    const std::string bearer = "Bearer s3cret";
    const Case cases[] = {
        {"GET", "/metrics", std::nullopt, std::nullopt, 401},
        {"GET", "/metrics", "Bearer wrong", std::nullopt, 401},
        {"GET", "/metrics", "Bearer s3cre", std::nullopt, 401},
        {"GET", "/metrics", "Basic s3cret", std::nullopt, 401},
        {"GET", "/metrics", "Bearer ", std::nullopt, 401},
        {"GET", "/metrics", std::nullopt, "wrong", 401},
        {"GET", "/metrics", bearer, std::nullopt, 200},
        {"GET", "/metrics", "bearer s3cret", std::nullopt, 200},
        {"HEAD", "/", std::nullopt, "s3cret", 200},
        {"GET", "/api/readings", bearer, std::nullopt, 200},
        {"GET", "/api/state", bearer, std::nullopt, 200},
        {"GET", "/api/events", bearer, std::nullopt, 200},
        {"POST", "/metrics", bearer, std::nullopt, 405},
        {"PUT", "/", std::nullopt, std::nullopt, 405},
        {"DELETE", "/api/readings", bearer, std::nullopt, 405},
        {"GET", "/metrics/", bearer, std::nullopt, 404},
        {"GET", "/usr/share/javascript/dygraphs/dygraph.min.js", bearer, std::nullopt, 404},
        {"GET", "/../../etc/passwd", bearer, std::nullopt, 404},
        {"GET", "/nothing", std::nullopt, std::nullopt, 401},
    };
    for (const Case& c : cases) {
        HttpRequest request;
        request.method = c.method;
        request.path = c.path;
        request.authorization = c.authorization;
        request.token = c.token;
        const HttpResponse response = site.respond(request);
        EXPECT_EQ(response.status, c.status) << c.method << " " << c.path;
        EXPECT_EQ(response.eventStream, c.status == 200 && request.path == "/api/events");
    }
    HttpRequest request;
    request.method = "GET";
    request.path = "/metrics";
    request.token = "s3cret";
    request.headerBytes = 8192;
    EXPECT_EQ(site.respond(request).status, 200);
    request.headerBytes = 8193;
    EXPECT_EQ(site.respond(request).status, 431);
    request.overCapacity = true;
    EXPECT_EQ(site.respond(request).status, 503);
    EXPECT_TRUE(site.respond(request).close);

    // The page comes with the state and the latest reading inside, where nothing can end
    // its script element early.
    WebSite page(run.feed, {"a</script>", ".", "", "<script>/*initial-state*/</script>"});
    request = {};
    request.method = "GET";
    request.path = "/";
    const std::string served = page.respond(request).body;
    EXPECT_EQ(served.rfind("<script>{\"state\":{\"meter\":\"a\\u003c/script>\",", 0), 0u) << served;
    EXPECT_NE(served.find(",\"latest\":{\"apparent_power\""), std::string::npos);
    EXPECT_EQ(served.find("</script>"), served.size() - 9);

    request = {};
    request.method = "GET";
    request.path = "/api/readings";
    request.token = "s3cret";
    request.since = "x1";
    EXPECT_EQ(site.respond(request).status, 400);
    request.since = "0";
    const HttpResponse readings = site.respond(request);
    EXPECT_EQ(readings.body.rfind("[{\"apparent_power\":", 0), 0u);
    request.path = "/api/events";
    request.lastEventId = "1";
    EXPECT_EQ(site.respond(request).resumeAfter, 1u);
}

} // namespace
