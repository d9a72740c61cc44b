// The alarm language and the engine, driven by the readings' clock.

#include "alarm/AlarmEngine.h"
#include "log/TriggeredLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <tuple>
#include <unistd.h>

using namespace talviren;

namespace {

TEST(AlarmRule, ReadsEveryFormOfTheLanguage) {
    struct Case {
        const char* line;
        AlarmRule::Condition condition;
        double limit, low, high, clear;
        std::int64_t durationMs;
        const char* conditionText;
    };
    using C = AlarmRule::Condition;
    const Case cases[] = {
        {"over: current > 15A for 2s clear 14A", C::Above, 15, 0, 0, 14, 2000,
         "current > 15A for 2s"},
        {"over:current>15A", C::Above, 15, 0, 0, 15, 0, "current > 15A"},
        {"small : current < 500mA for 500ms", C::Below, 0.5, 0, 0, 0.5, 500,
         "current < 500mA for 500ms"},
        {"mains: ac_voltage outside 210V..250V for 1m", C::Outside, 0, 210, 250, 0, 60000,
         "ac_voltage outside 210V..250V for 1m"},
        {"ok: dc_voltage inside 11.5..-0.5", C::Inside, 0, 11.5, -0.5, 0, 0, ""}, // refused below
        {"ohm: resistance > 2.2kohm clear 2kΩ", C::Above, 2200, 0, 0, 2000, 0,
         "resistance > 2.2kohm"},
        {"big: apparent_power > 3kVA for 1h", C::Above, 3000, 0, 0, 3000, 3'600'000,
         "apparent_power > 3kVA for 1h"},
        {"p: power < 2kW clear 2.5kW", C::Below, 2000, 0, 0, 2500, 0, "power < 2kW"},
        {"ol: overload", C::Overload, 0, 0, 0, 0, 0, "overload"},
        {"silent: no-reading for 30s", C::NoReading, 0, 0, 0, 0, 30000, "no-reading for 30s"},
        {"mega: resistance > 1MΩ", C::Above, 1e6, 0, 0, 1e6, 0, "resistance > 1MΩ"},
    };
    for (const Case& c : cases) {
        const AlarmParse parsed = parseAlarm(c.line);
        if (c.low > c.high) {
            EXPECT_FALSE(parsed.rule) << c.line;
            continue;
        }
        ASSERT_TRUE(parsed.rule) << c.line << ": " << parsed.error;
        const AlarmRule& r = *parsed.rule;
        EXPECT_EQ(r.condition, c.condition) << c.line;
        EXPECT_DOUBLE_EQ(r.limit, c.limit) << c.line;
        EXPECT_DOUBLE_EQ(r.low, c.low) << c.line;
        EXPECT_DOUBLE_EQ(r.high, c.high) << c.line;
        EXPECT_DOUBLE_EQ(r.clearLimit, c.clear) << c.line;
        EXPECT_EQ(r.durationMs, c.durationMs) << c.line;
        EXPECT_EQ(r.conditionText, c.conditionText) << c.line;
    }
    EXPECT_EQ(parseAlarm("over", "current > 15A clear 14A").rule->line, "current > 15A clear 14A");
    // A quantity may name its meter, or the sum of them all.
    for (const auto& [line, meter, limit] :
         {std::tuple{"a: L2.current > 15A for 2s", "L2", "> 15A for 2s"},
          std::tuple{"b: total.power > 10kW", "total", "> 10kW"},
          std::tuple{"c: L3.no-reading for 30s", "L3", ""},
          std::tuple{"d: L1.overload", "L1", ""}}) {
        const AlarmParse parsed = parseAlarm(line);
        ASSERT_TRUE(parsed.rule) << line << ": " << parsed.error;
        EXPECT_EQ(parsed.rule->meter, meter) << line;
        EXPECT_EQ(parsed.rule->limitText, limit) << line;
    }
    EXPECT_NE(parseAlarm("e: total.overload").error.find("the total has apparent_power and power"),
              std::string::npos);
}

TEST(AlarmRule, RefusesBadLinesNamingTheAlarmAndWhatIsWrong) {
    const std::pair<const char*, const char*> cases[] = {
        {"over: current >> 5", "alarm 'over': '>>' is no comparison"},
        {"x: voltage > 5V", "alarm 'x': unknown quantity 'voltage'"},
        {"x: current > 5V", "alarm 'x': the unit 'V' does not fit current"},
        {"x: ac_voltage > 5kA", "the unit 'A' does not fit ac_voltage"},
        {"x: current > abc", "alarm 'x': 'abc' is no limit for current"},
        {"current > 5A", "no name"},
        {": current > 5A", "no name"},
        {"a b: current > 5A", "alarm 'a b': a name takes letters"},
        {"silent: no-reading", "alarm 'silent': no-reading needs 'for DURATION'"},
        {"x: current > 5A for 0s", "alarm 'x': the duration must be above zero"},
        {"x: current > 5A for -2s", "the duration must be above zero"},
        {"x: current > 5A for 2days", "'2days' is no duration"},
        {"x: current > 15A clear 16A", "alarm 'x': the clear limit must be at or below"},
        {"x: current < 15A clear 14A", "the clear limit must be at or above"},
        {"x: current outside 5A..2A", "low end must be below"},
        {"x: current outside 5A", "a range is written LOW..HIGH"},
        {"x: overload clear 5A", "'clear LIMIT' belongs to > and < only"},
        {"x: current > 5A soon", "'soon' is not understood here"},
        {"x:", "alarm 'x': no condition"},
        {"x: current = 5A", "after current comes >, <"},
    };
    for (const auto& [line, error] : cases) {
        const AlarmParse parsed = parseAlarm(line);
        EXPECT_FALSE(parsed.rule) << line;
        EXPECT_NE(parsed.error.find(error), std::string::npos) << line << ": " << parsed.error;
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
    }
    const auto rule = [](const char* line) { return *parseAlarm(line).rule; };
    EXPECT_EQ(*checkAlarms({rule("a: current > 1A"), rule("a: current < 1A")}, false),
              "alarm 'a': the name is given twice");
    EXPECT_NE(checkAlarms({rule("p: power > 1kW")}, false)->find("power needs a power factor"),
              std::string::npos);
    EXPECT_FALSE(checkAlarms({rule("p: power > 1kW"), rule("q: current > 1A")}, true));
}

// An engine with one alarm, fed readings 500 ms apart, that notes what it tells.
struct Rig : AlarmListener {
    explicit Rig(const char* line, std::optional<PowerFactor> pf = std::nullopt) {
        const AlarmParse parsed = parseAlarm(line);
        EXPECT_TRUE(parsed.rule) << parsed.error;
        engine.addListener(this);
        engine.configure({*parsed.rule}, pf, 0);
    }
    void feed(const MeterReading& raw) {
        TimedReading r;
        static_cast<DecodedReading&>(r) = decodeReading(raw, ".");
        r.steadyNs = ms * 1'000'000;
        r.wallMs = 1'765'000'000'000 + ms;
        engine.reading(r);
        ms += 500;
    }
    void alarmChanged(const AlarmEvent& e) override {
        told.push_back((e.raised ? "raised " : "cleared ") + std::to_string(e.wallMs % 1'000'000) +
                       ": " + e.detail());
    }
    AlarmEngine engine;
    std::int64_t ms = 0;
    std::vector<std::string> told;
};

MeterReading amps(int centiamps) {
    return {kAcCurrentAcVoltage, centiamps, 1, 2300, 0}; // 230 V
}

TEST(AlarmEngine, DurationsAndHysteresisOnTheReadingsClock) {
    Rig rig("over: current > 15A for 2s clear 14A");
    for (int a : {1400, 1520, 1530, 1510, 1490, 1520, 1530, 1540, 1550, 1560, 1450, 1390, 1400}) {
        rig.feed(amps(a));
    }
    // 15.2 A at 500 ms, back under at 2000 ms (pending ends); above again from 2500 ms: raised at
    // 4500 ms; 14.5 A stays raised (above the clear limit); 13.9 A clears.
    EXPECT_EQ(rig.told, (std::vector<std::string>{"raised 4500: current 15.6A > 15A for 2s",
                                                  "cleared 5500: current 13.9A"}));
    EXPECT_EQ(rig.engine.state(0), AlarmEngine::State::Clear);
}

TEST(AlarmEngine, FunctionChangesNeitherRaiseNorClearAndOverloadsCount) {
    Rig low("low: ac_voltage < 200V for 1s");
    low.feed({1, 500, 1, 1900, 0}); // 190 V: pending
    low.feed({2, 500, 1, 120, 0});  // DC: nothing
    low.feed({1, 500, 1, 1900, 0}); // 1 s since it began: raised
    low.feed({3, 500, 1, 1228, 0}); // resistance: stays raised
    low.feed({1, 500, 1, 7501, 0}); // over range counts as above: clears
    EXPECT_EQ(low.told, (std::vector<std::string>{"raised 1000: ac_voltage 190V < 200V for 1s",
                                                  "cleared 2000: ac_voltage OLV"}));
    Rig over("over: current > 15A");
    over.feed({1, 10001, 5, 2300, 0}); // the current over range is above any limit
    over.feed(amps(1000));
    Rig range("mains: ac_voltage outside 210V..250V");
    range.feed({1, 500, 1, 7501, 0});
    range.feed({1, 500, 1, 2300, 0});
    Rig ol("ol: overload");
    ol.feed(amps(1000));
    ol.feed({3, 500, 1, 2001, 0});
    ol.feed(amps(1000));
    EXPECT_EQ(over.told, (std::vector<std::string>{"raised 0: current OLA > 15A",
                                                   "cleared 500: current 10A"}));
    EXPECT_EQ(range.told.size(), 2u);
    EXPECT_EQ(ol.told, (std::vector<std::string>{"raised 500: overload: R OLk\u03A9",
                                                 "cleared 1000: AC I 10A"}));
}

TEST(AlarmEngine, PowerAndSilence) {
    Rig big("big: apparent_power > 3kVA", PowerFactor{800'000});
    big.feed(amps(1000)); // 2300 VA
    big.feed(amps(1400)); // 3220 VA
    Rig real("p: power > 2.5kW", PowerFactor{800'000});
    real.feed(amps(1400)); // 2576 W
    real.feed({2, 1400, 1, 2300, 0});
    EXPECT_EQ(big.told, (std::vector<std::string>{"raised 500: apparent_power 3220VA > 3kVA"}));
    EXPECT_EQ(real.told, (std::vector<std::string>{"raised 0: power 2576W > 2.5kW"}));

    Rig silent("silent: no-reading for 3s");
    silent.engine.tick(2'850'000'000, 2850);
    EXPECT_TRUE(silent.told.empty()) << "not yet";
    silent.engine.tick(3'000'000'000, 3000); // no meter found in 3 s
    silent.engine.tick(3'500'000'000, 3500);
    silent.ms = 4000;
    silent.feed(amps(1000));
    silent.engine.tick(6'850'000'000, 6850);
    silent.engine.tick(7'000'000'000, 7000);
    EXPECT_EQ(silent.told, (std::vector<std::string>{"raised 3000: no-reading for 3s",
                                                     "cleared 4000: a reading again",
                                                     "raised 7000: no-reading for 3s"}));
}

// A line jitters by some milliseconds around the 500 ms tick: a duration that lands on a tick
// must give the same readings every run. Alternating 12.34 A and 5 A for 3 s, then 12.34 A held
// (ticks 6 to 20), then 5 A: `for 1s` raises on tick 8, --pre-trigger 2 keeps ticks 4 to 7,
// the clear at tick 21 and --post-trigger 2 end the log with tick 25.
TEST(AlarmEngine, DurationsOnATickDoNotDependOnJitter) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("talviren-jitter-" + std::to_string(::getpid()) + ".csv");
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::filesystem::remove(path);
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> jitterMs(-20, 20);
        DurableLog writer({path.string()});
        std::string error;
        ASSERT_TRUE(writer.open(0, error)) << error;
        TriggeredLog log(writer, 2'000'000'000, 2'000'000'000);
        struct Trigger : AlarmListener {
            TriggeredLog& log;
            std::vector<std::int64_t> raisedNs;
            explicit Trigger(TriggeredLog& l) : log(l) {}
            void alarmChanged(const AlarmEvent& e) override {
                if (e.raised) {
                    raisedNs.push_back(e.reading->steadyNs);
                    log.start(e.reading->steadyNs);
                } else {
                    log.stop(e.reading->steadyNs);
                }
            }
        } trigger(log);
        AlarmEngine engine;
        engine.addListener(&trigger);
        engine.configure({*parseAlarm("over: current > 10A for 1s clear 8A").rule}, {}, 0);
        std::vector<std::int64_t> tickNs;
        for (int tick = 0; tick < 32; ++tick) {
            const bool high = tick < 6 ? tick % 2 == 0 : tick <= 20;
            TimedReading r;
            static_cast<DecodedReading&>(r) = decodeReading(amps(high ? 1234 : 500), ".");
            r.steadyNs = (tick * 500LL + jitterMs(random)) * 1'000'000;
            r.wallMs = 1'765'000'000'000 + tick * 1000LL + tick; // its milliseconds: the tick
            tickNs.push_back(r.steadyNs);
            log.reading(r);
            engine.reading(r);
        }
        writer.close();
        ASSERT_EQ(trigger.raisedNs, std::vector<std::int64_t>{tickNs[8]}) << "seed " << seed;
        std::ifstream in(path);
        std::string line;
        std::getline(in, line); // the header
        std::vector<int> ticks;
        const std::regex time(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.(\d{3}))");
        for (std::smatch m; std::getline(in, line);) {
            ASSERT_TRUE(std::regex_search(line, m, time)) << line;
            ticks.push_back(std::stoi(m[1]));
        }
        std::vector<int> expected;
        for (int tick = 4; tick <= 25; ++tick) {
            expected.push_back(tick);
        }
        EXPECT_EQ(ticks, expected) << "seed " << seed;
    }
    std::filesystem::remove(path);
}

} // namespace
