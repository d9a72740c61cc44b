// Apparent power, the power factor and energy over a run.

#include "WorkbookReadBack.h"
#include "log/CsvLog.h"
#include "power/PowerTally.h"
#include "trend/Recording.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace talviren;
namespace fs = std::filesystem;

namespace {

std::string sText(const MeterReading& reading) {
    const ApparentPower s = apparentPower(reading);
    return s.hasValue() ? apparentPowerNumber(s.units) : "-";
}

TEST(ApparentPower, EveryCurrentRangeAgainstEveryVoltageCountClassAgreesWithDecimal) {
    const fs::path path = fs::temp_directory_path() / ("power-" + std::to_string(::getpid()));
    {
        std::ofstream out(path);
        const int currents[] = {0, 1, 9, 85, 100, 999, 1234, 9999, 10000, 10001, 25755};
        const int voltages[] = {0, 1, 9, 10, 99, 100, 999, 1000, 2301, 2313, 7499, 7500, 7501};
        for (int range = 0; range <= 6; ++range) {
            for (int i : currents) {
                for (int u : voltages) {
                    out << range << ' ' << i << ' ' << u << ' '
                        << sText({kAcCurrentAcVoltage, i, static_cast<std::uint8_t>(range), u, 0})
                        << '\n';
                }
            }
        }
    }
    EXPECT_EQ(talviren::testing::readBackWith("check_power.py", path.string()),
              std::vector<std::string>{});
    fs::remove(path);
}

TEST(ApparentPower, ExactProductsAndNoneWithoutAcVoltageOrOnOverload) {
    struct Case {
        MeterReading reading;
        ApparentPower::State state;
        const char* text;
    };
    const Case cases[] = {
        {{1, 1234, 1, 2313, 0}, ApparentPower::Value, "2854.242"}, // 12.34 A x 231.3 V
        {{1, 85, 0, 2301, 0}, ApparentPower::Value, "19.5585"},    // 85 mA x 230.1 V
        {{1, 10001, 5, 2313, 0}, ApparentPower::Overload, "-"},    // current over range
        {{1, 1234, 1, 7501, 0}, ApparentPower::Overload, "-"},     // voltage over range
        {{2, 1234, 1, 2313, 0}, ApparentPower::None, "-"},         // DC voltage
        {{2, 1234, 1, 2313, 1}, ApparentPower::None, "-"},         // negative DC voltage
        {{3, 1234, 1, 1228, 0}, ApparentPower::None, "-"},         // resistance
        {{1, 1234, 6, 2313, 0}, ApparentPower::None, "-"},         // no such range
        {{9, 1234, 1, 2313, 0}, ApparentPower::None, "-"},         // no such function
    };
    for (const Case& c : cases) {
        EXPECT_EQ(apparentPower(c.reading).state, c.state) << c.text;
        EXPECT_EQ(sText(c.reading), c.text);
    }
    EXPECT_EQ(apparentPower({1, 1234, 1, 2313, 0}).va(), 2854.242);
    EXPECT_EQ(realPowerNumber(28'542'420, PowerFactor{950'000}), "2711.5299");
    EXPECT_EQ(decimalText(-1'050, 4), "-0.105");
    EXPECT_EQ(decimalText(30'000, 4), "3");
}

TEST(PowerFactor, AcceptsAboveZeroUpToOneAndRefusesTheRest) {
    const std::pair<const char*, std::int32_t> good[] = {
        {"0.95", 950'000}, {"1", 1'000'000}, {"1.000000", 1'000'000}, {",8", 800'000},
        {"0,5", 500'000},  {"0.000001", 1},  {".25", 250'000}};
    for (const auto& [text, ppm] : good) {
        const auto pf = parsePowerFactor(text);
        ASSERT_TRUE(pf) << text;
        EXPECT_EQ(pf->ppm, ppm) << text;
    }
    for (const char* text : {"0", "1.5", "-1", "abc", "", ".", "0.0000001", "1.000001", "2", " 0.9",
                             "0.9 ", "1e-1", "+0.9", "0.9.1", "00.9"}) {
        EXPECT_FALSE(parsePowerFactor(text)) << "'" << text << "'";
    }
    EXPECT_EQ(PowerFactor{950'000}.label(), "P (PF 0.95)");
    EXPECT_EQ(powerFactorRefusal("1.5"),
              "takes a power factor above 0 and at most 1 (0 < PF \u2264 1), such as 0.95, "
              "not '1.5'");
}

// A synthetic run: readings every 500 ms of the steady clock, with the wall clock alongside.
struct SyntheticRun {
    struct Step {
        MeterReading reading;
        std::int64_t ms; // since the run began
        bool lostBefore = false;
    };
    std::vector<Step> steps;
    std::int64_t now = 0;

    void add(const MeterReading& r, std::int64_t afterMs = 500, bool lost = false) {
        now += afterMs;
        steps.push_back({r, now, lost});
    }
    void feed(Recording& recording) const {
        for (const Step& step : steps) {
            if (step.lostBefore) {
                recording.markBreak();
            }
            TimedReading timed;
            static_cast<DecodedReading&>(timed) = decodeReading(step.reading, ".");
            timed.wallMs = 1'765'000'000'000 + step.ms;
            timed.steadyNs = step.ms * 1'000'000;
            recording.add(timed);
        }
    }
    // The integral computed directly, in long double: both S, at most 1.25 s apart, no loss.
    long double energyVAh() const {
        long double sum = 0;
        for (std::size_t i = 1; i < steps.size(); ++i) {
            const Step& a = steps[i - 1];
            const Step& b = steps[i];
            const auto sa = apparentPower(a.reading);
            const auto sb = apparentPower(b.reading);
            if (sa.hasValue() && sb.hasValue() && !b.lostBefore && b.ms - a.ms <= 1250) {
                sum += (sa.va() + sb.va()) / 2.0L * (b.ms - a.ms) / 3'600'000.0L;
            }
        }
        return sum;
    }
};

TEST(PowerTally, IntegratesOverARunWithGapsPausesOverloadsAndFunctionChanges) {
    SyntheticRun run;
    for (int i = 0; i < 40; ++i) {
        run.add({1, 1000 + 37 * i, 1, 2300 + i, 0}); // 10 A and more, 230 V and more
    }
    run.add({1, 1234, 1, 2313, 0}, 1200); // late, but within 1.25 s: counts
    run.add({1, 1234, 1, 2313, 0}, 1300); // a gap: nothing across it
    run.add({1, 10001, 5, 2313, 0});      // current over range
    run.add({1, 900, 2, 7501, 0});        // voltage over range
    run.add({1, 900, 2, 2290, 0});
    run.add({1, 910, 2, 2290, 0});
    run.add({2, 910, 2, 2290, 0}); // DC voltage: no S, nothing across
    run.add({2, 910, 2, 120, 1});
    run.add({1, 85, 0, 2301, 0});
    run.add({1, 85, 0, 2301, 0});
    run.add({1, 95, 0, 2301, 0}, 2500, true); // the link was lost before it
    run.add({1, 95, 0, 2305, 0});
    run.add({1, 95, 0, 2305, 0}, 30'000); // a pause on the Record view
    run.add({3, 95, 0, 1228, 0});         // resistance
    run.add({1, 4, 3, 2400, 0});
    run.add({1, 4, 3, 2410, 0});
    Recording recording;
    run.feed(recording);
    const PowerTally& power = recording.power();
    EXPECT_NEAR(power.apparentEnergyVAh(), static_cast<double>(run.energyVAh()), 1e-9);
    EXPECT_GT(power.apparentEnergyVAh(), 0.1);
    EXPECT_EQ(power.overloads(), 2);
    EXPECT_EQ(power.count(), static_cast<std::int64_t>(run.steps.size()) - 2 - 2 - 1);
    EXPECT_EQ(power.minimum().units, 85 * 2301 * 1);    // 19.5585 VA
    EXPECT_EQ(power.maximum().units, 910 * 2290 * 100); // 91.0 A x 229.0 V
    EXPECT_DOUBLE_EQ(power.energyWh(PowerFactor{500'000}), power.apparentEnergyVAh() / 2);
    ASSERT_TRUE(power.last());
    EXPECT_EQ(power.last()->units, 4 * 2410 * 1000);
    EXPECT_EQ(*power.sinceWallMs(), 1'765'000'000'500);

    // A log of the same run, read back, gives the same energy and statistics.
    const fs::path path = fs::temp_directory_path() / ("power-log-" + std::to_string(::getpid()));
    fs::remove(path);
    Recording logged;
    std::string error;
    ASSERT_TRUE(logged.startLog(path, error)) << error;
    run.feed(logged);
    logged.stopLog();
    Recording reread;
    ASSERT_TRUE(reread.load(path).isLog);
    EXPECT_EQ(reread.power().apparentEnergyUnits(), power.apparentEnergyUnits());
    EXPECT_EQ(reread.power().count(), power.count());
    EXPECT_EQ(reread.power().sumUnits(), power.sumUnits());
    fs::remove(path);

    // A lost link breaks the line even when the next reading comes soon.
    Recording lost;
    SyntheticRun twice;
    twice.add({1, 85, 0, 2301, 0});
    twice.add({1, 85, 0, 2301, 0}, 500, true);
    twice.feed(lost);
    EXPECT_EQ(lost.power().count(), 2);
    EXPECT_EQ(lost.power().apparentEnergyVAh(), 0);

    recording.resetStatistics();
    EXPECT_EQ(recording.power().apparentEnergyVAh(), 0);
    EXPECT_FALSE(recording.power().seen());
}

TEST(PowerTally, AMonthAtTwoReadingsASecondStaysExact) {
    PowerTally tally;
    const MeterReading reading{1, 1234, 1, 2313, 0}; // 2854.242 VA
    const std::int64_t readings = 30LL * 86'400 * 2;
    for (std::int64_t i = 0; i < readings; ++i) {
        tally.add(reading, i * 500, i * 500, i == 0);
    }
    // 2854.242 VA for (readings - 1) half seconds, in ten-thousandths of a VA·h, exactly:
    // 28,542,420 units x 500 ms x (n - 1) / 3,600,000 ms.
    const std::int64_t exactArea = 28'542'420LL * 500 * (readings - 1);
    EXPECT_EQ(tally.apparentEnergyUnits(), (exactArea + 1'800'000) / 3'600'000);
    EXPECT_NEAR(tally.apparentEnergyVAh(), 2854.242 * (readings - 1) / 7200.0, 0.001);
    EXPECT_DOUBLE_EQ(tally.meanVA(), 2854.242);
}

} // namespace
