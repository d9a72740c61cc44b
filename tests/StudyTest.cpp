// talviren-cli study against a load study worked out from its rules by a script of its own
// (tests/study_oracle.py): logs made here, in the time zones that test the local clock.

#include "QtTestSupport.h"
#include "TimeZone.h"
#include "WorkbookReadBack.h"

#include "log/CsvLog.h"
#include "time/LocalTime.h"
#include "time/TimeReader.h"
#include "json/JsonValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <functional>

using namespace talviren;
using namespace talviren::testing;

namespace {

using Raw = std::function<std::optional<MeterReading>(std::int64_t wallMs)>;

// A log of readings every `stepMs` from `fromMs` to `toMs` (excluded), as `raw` gives them
// (none: no reading then).
std::string writeLog(const QString& path, std::int64_t fromMs, std::int64_t toMs,
                     std::int64_t stepMs, const Raw& raw) {
    std::string text = std::string(csvlog::kHeader) + "\n";
    for (std::int64_t t = fromMs; t < toMs; t += stepMs) {
        if (const auto reading = raw(t)) {
            TimedReading r;
            static_cast<DecodedReading&>(r) = decodeReading(*reading, ".");
            r.wallMs = t;
            csvlog::appendLine(text, r);
        }
    }
    std::ofstream(path.toStdString(), std::ios::binary) << text;
    return text;
}

// 10.00 A at 230.0 V, and such.
MeterReading amperes(double a, int volts10 = 2300, std::uint8_t function = 1) {
    return {function, static_cast<int>(std::lround(a * 100)), 1, volts10, 0};
}

std::int64_t utcMs(int year, int month, int day, int hour, int minute = 0, int second = 0) {
    return (daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second) * 1000LL;
}

struct Study {
    CliRun run;
    std::optional<json::JsonValue> mine, oracle;
};

// Runs talviren-cli study and the oracle on the same arguments in zone `tz`.
Study study(const QTemporaryDir& folder, const char* tz, const QStringList& arguments,
            bool withOracle = true) {
    QProcessEnvironment env;
    env.insert(QStringLiteral("TZ"), QString::fromLatin1(tz));
    Study s;
    const QString json = folder.filePath("study.json");
    QFile::remove(json);
    s.run = runCli(folder.path(), QStringList{"study", "--json", json} + arguments, 60000, env);
    s.mine = json::parseJson(readAll(json).toStdString());
    if (withOracle) {
        // The oracle takes the interval in seconds and the coverage as a fraction.
        QStringList plain;
        for (qsizetype i = 0; i < arguments.size(); ++i) {
            if (arguments[i] == QLatin1String("--interval")) {
                const QString v = arguments[++i];
                plain << arguments[i - 1]
                      << QString::number(v.endsWith('h') ? v.chopped(1).toInt() * 3600
                                                         : v.chopped(1).toInt() * 60);
            } else if (arguments[i] == QLatin1String("--rating") ||
                       arguments[i] == QLatin1String("--new-load")) {
                plain << arguments[i] << arguments[i + 1].chopped(1);
                ++i;
            } else {
                plain << arguments[i];
            }
        }
        if (!plain.contains(QStringLiteral("--interval"))) {
            plain << "--interval"
                  << "900";
        }
        if (!plain.contains(QStringLiteral("--min-coverage"))) {
            plain << "--min-coverage"
                  << "0.9";
        }
        if (!plain.contains(QStringLiteral("--meter"))) {
            plain.prepend(QStringLiteral("log"));
            plain.prepend(QStringLiteral("--meter"));
        }
        QString command = QStringLiteral("TZ=%1 /usr/bin/python3 %2/tests/study_oracle.py")
                              .arg(QString::fromLatin1(tz), QStringLiteral(TALVIREN_SOURCE_DIR));
        for (const QString& a : plain) {
            command += QStringLiteral(" '") + a + QLatin1Char('\'');
        }
        const std::vector<std::string> lines = commandLines(command.toStdString());
        s.oracle = lines.empty() ? std::nullopt : json::parseJson(lines.front());
    }
    return s;
}

// Compares talviren's study with the oracle's: every number within 1e-9 (relative to its size),
// every time to the millisecond. The mismatches, at most a few.
class Comparison {
public:
    std::vector<std::string> mismatches;

    void numbers(const std::string& where, const json::JsonValue* mine,
                 const json::JsonValue* theirs) {
        const bool mineNull = !mine || mine->isNull();
        const bool theirsNull = !theirs || theirs->isNull();
        if (mineNull || theirsNull) {
            if (mineNull != theirsNull) {
                wrong(where, mineNull ? "null" : "a number", theirsNull ? "null" : "a number");
            }
            return;
        }
        if (const auto b = mine->boolean()) {
            if (*b != theirs->boolean().value_or(!*b)) {
                wrong(where, *b ? "true" : "false", *b ? "false" : "true");
            }
            return;
        }
        const double a = mine->number().value_or(NAN), b = theirs->number().value_or(NAN);
        if (!(std::abs(a - b) <= 1e-9 * std::max(1.0, std::abs(b)))) {
            wrong(where, std::to_string(a), std::to_string(b));
        }
    }
    void time(const std::string& where, const json::JsonValue* mine,
              const json::JsonValue* theirs) {
        const bool mineNull = !mine || mine->isNull();
        if (mineNull || !theirs || theirs->isNull()) {
            if (mineNull != (!theirs || theirs->isNull())) {
                wrong(where, mineNull ? "null" : "a time", "the other");
            }
            return;
        }
        TimeReader reader;
        const auto ms = reader.read(std::string(mine->text().value_or("")));
        const auto theirsMs = theirs->type() == json::JsonValue::Type::String // another study's
                                  ? reader.read(std::string(*theirs->text())).value_or(-1)
                                  : std::llround(theirs->number().value_or(0) * 1000); // seconds
        if (!ms || *ms != theirsMs) {
            wrong(where, std::string(mine->text().value_or("?")), std::to_string(theirsMs));
        }
    }
    void fields(const std::string& where, const json::JsonValue& mine,
                const json::JsonValue& theirs, std::initializer_list<const char*> names) {
        for (const char* name : names) {
            numbers(where + "." + name, mine.member(name), theirs.member(name));
        }
    }
    void peaks(const std::string& where, const json::JsonValue* mine,
               const json::JsonValue* theirs) {
        for (const char* quantity : {"current_a", "apparent_power_va", "power_w"}) {
            const json::JsonValue* a = mine ? mine->member(quantity) : nullptr;
            const json::JsonValue* b = theirs ? theirs->member(quantity) : nullptr;
            if (!a && !b) {
                continue;
            }
            numbers(where + "." + quantity, a ? a->member("value") : nullptr,
                    b ? b->member("value") : nullptr);
            time(where + "." + quantity + ".start", a ? a->member("start") : nullptr,
                 b ? b->member("start") : nullptr);
        }
    }
    void list(const std::string& where, const json::JsonValue* mine, const json::JsonValue* theirs,
              const std::function<void(const std::string&, const json::JsonValue&,
                                       const json::JsonValue&)>& each) {
        const auto& a = mine->elements();
        const auto& b = theirs->elements();
        if (a.size() != b.size()) {
            wrong(where + " count", std::to_string(a.size()), std::to_string(b.size()));
            return;
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            each(where + "[" + std::to_string(i) + "]", a[i], b[i]);
        }
    }

    void meters(const json::JsonValue& mine, const json::JsonValue& theirs) {
        list("meters", mine.member("meters"), theirs.member("meters"),
             [&](const std::string& w, const json::JsonValue& a, const json::JsonValue& b) {
                 meter(w, a, b);
             });
    }

    void meter(const std::string& w, const json::JsonValue& a, const json::JsonValue& b) {
        numbers(w + ".readings", a.member("readings"), b.member("readings"));
        numbers(w + ".longest_gap_s", a.member("longest_gap_s"), b.member("longest_gap_s"));
        list(w + ".intervals", a.member("intervals"), b.member("intervals"),
             [&](const std::string& iw, const json::JsonValue& x, const json::JsonValue& y) {
                 time(iw + ".start", x.member("start"), y.member("start"));
                 fields(iw, x, y,
                        {"measured_s", "coverage", "current_a", "max_current_a",
                         "apparent_power_va", "power_w", "power_coverage", "energy_vah",
                         "energy_wh", "overloads"});
             });
        peaks(w + ".peak", a.member("peak"), b.member("peak"));
        peaks(w + ".sliding_peak", a.member("sliding_peak"), b.member("sliding_peak"));
        fields(w + ".mean", *a.member("mean"), *b.member("mean"),
               {"current_a", "apparent_power_va", "power_w"});
        fields(w + ".load_factor", *a.member("load_factor"), *b.member("load_factor"),
               {"current_a", "apparent_power_va", "power_w"});
        list(w + ".days", a.member("days"), b.member("days"),
             [&](const std::string& dw, const json::JsonValue& x, const json::JsonValue& y) {
                 if (x.member("date")->text() != y.member("date")->text()) {
                     wrong(dw + ".date", std::string(x.member("date")->text().value_or("")),
                           std::string(y.member("date")->text().value_or("")));
                 }
                 fields(dw, x, y,
                        {"hours", "measured_s", "coverage", "energy_vah", "energy_wh",
                         "peak_current_a", "peak_apparent_power_va", "max_current_a"});
             });
        for (const char* kind : {"weekday", "weekend"}) {
            list(
                w + ".average_day." + kind, a.member("average_day")->member(kind),
                b.member("average_day")->member(kind),
                [&](const std::string& sw, const json::JsonValue& x, const json::JsonValue& y) {
                    if (x.member("time")->text() != y.member("time")->text()) {
                        wrong(sw + ".time", std::string(x.member("time")->text().value_or("")),
                              std::string(y.member("time")->text().value_or("")));
                    }
                    fields(sw, x, y, {"mean_current_a", "p10_current_a", "p90_current_a", "count"});
                });
        }
        list(w + ".top", a.member("top"), b.member("top"),
             [&](const std::string& tw, const json::JsonValue& x, const json::JsonValue& y) {
                 if (y.isObject()) {
                     time(tw, x.member("start"), y.member("start"));
                 } else {
                     time(tw, x.member("start"), &y);
                 }
             });
        const json::JsonValue* curve = b.member("duration_curve");
        list(w + ".duration_curve", a.member("duration_curve")->member("current_a"),
             curve->isObject() ? curve->member("current_a") : curve,
             [&](const std::string& cw, const json::JsonValue& x, const json::JsonValue& y) {
                 numbers(cw, &x, &y);
             });
    }

    std::string report() const {
        std::string out;
        for (std::size_t i = 0; i < mismatches.size() && i < 12; ++i) {
            out += mismatches[i] + "\n";
        }
        return out + std::to_string(mismatches.size()) + " mismatches";
    }

private:
    void wrong(const std::string& where, const std::string& mine, const std::string& theirs) {
        mismatches.push_back(where + ": talviren " + mine + ", oracle " + theirs);
    }
};

// Checks a study against its oracle, meters, total, imbalance and 220.87.
void expectAgrees(const Study& s) {
    ASSERT_EQ(s.run.exitCode, 0) << s.run.errors.toStdString();
    ASSERT_TRUE(s.mine && s.oracle) << s.run.errors.toStdString();
    Comparison c;
    c.meters(*s.mine, *s.oracle);
    if (const json::JsonValue* total = s.oracle->member("total")) {
        const json::JsonValue* mine = s.mine->member("total");
        ASSERT_TRUE(mine);
        c.list("total.intervals", mine->member("intervals"), total->member("intervals"),
               [&](const std::string& w, const json::JsonValue& x, const json::JsonValue& y) {
                   c.time(w + ".start", x.member("start"), y.member("start"));
                   c.fields(w, x, y, {"apparent_power_va", "power_w"});
               });
        c.numbers("total.peak", mine->member("peak")->member("apparent_power_va")->member("value"),
                  total->member("peak")->member("value"));
        const json::JsonValue* a = s.mine->member("imbalance");
        const json::JsonValue* b = s.oracle->member("imbalance");
        c.fields("imbalance", *a, *b, {"max_percent", "mean_percent", "intervals"});
        c.time("imbalance.start", a->member("start"), b->member("start"));
    }
    if (const json::JsonValue* b = s.oracle->member("nec_220_87")) {
        const json::JsonValue* a = s.mine->member("nec_220_87");
        ASSERT_TRUE(a);
        EXPECT_EQ(a->member("meter")->text(), b->member("meter")->text());
        c.fields("nec_220_87", *a, *b,
                 {"days", "longest_gap_s", "qualifies", "max_demand_a", "load_a", "headroom_a",
                  "passes"});
        c.time("nec_220_87.at", a->member("at"), b->member("at"));
    }
    EXPECT_TRUE(c.mismatches.empty()) << c.report();
}

double member(const json::JsonValue& v, std::initializer_list<const char*> path) {
    const json::JsonValue* at = &v;
    for (const char* name : path) {
        at = at ? at->member(name) : nullptr;
    }
    return at ? at->number().value_or(NAN) : NAN;
}

const json::JsonValue& firstMeter(const Study& s) {
    return s.mine->member("meters")->elements().front();
}

TEST(Study, AConstantLoadAStepOffTheQuarterAGapAnOverloadAndAnHourOnDcVoltage) {
    QTemporaryDir folder;
    const TimeZone zone("UTC");
    const std::int64_t from = utcMs(2026, 1, 6, 10);
    const QString constant = folder.filePath("constant.csv");
    writeLog(constant, from, from + 3 * 3'600'000, 1000, [](std::int64_t) { return amperes(10); });
    const Study flat = study(folder, "UTC", {constant, "--power-factor", "0.9"});
    expectAgrees(flat);
    // Every whole interval exact.
    for (const json::JsonValue& in : firstMeter(flat).member("intervals")->elements()) {
        if (in.member("coverage")->number().value_or(0) > 0.99) {
            EXPECT_NEAR(in.member("current_a")->number().value_or(0), 10.0, 1e-12);
            EXPECT_NEAR(in.member("power_w")->number().value_or(0), 2070.0, 1e-9);
        }
    }
    // 5 A, and 20 A for 15 minutes from 14:05:20: no quarter holds the step, a window nearly.
    const QString step = folder.filePath("step.csv");
    const std::int64_t stepFrom = utcMs(2026, 1, 6, 14, 5, 20);
    writeLog(step, utcMs(2026, 1, 6, 13), utcMs(2026, 1, 6, 16), 1000, [&](std::int64_t t) {
        return amperes(t >= stepFrom && t < stepFrom + 900'000 ? 20 : 5);
    });
    const Study stepped = study(folder, "UTC", {step});
    expectAgrees(stepped);
    const double block = member(firstMeter(stepped), {"peak", "current_a", "value"});
    const double sliding = member(firstMeter(stepped), {"sliding_peak", "current_a", "value"});
    EXPECT_LT(block, sliding) << "the step straddles two quarters";
    EXPECT_NEAR(block, (580 * 20 + 320 * 5) / 900.0, 0.02) << "9:40 of 20 A in 14:00 to 14:15";
    // A gap of ten minutes, an overload, and an hour on DC voltage.
    const QString mixed = folder.filePath("mixed.csv");
    writeLog(mixed, from, from + 3 * 3'600'000, 1000,
             [&](std::int64_t t) -> std::optional<MeterReading> {
                 const std::int64_t s = (t - from) / 1000;
                 if (s >= 1800 && s < 2400) {
                     return std::nullopt;
                 }
                 if (s == 3600) {
                     return MeterReading{1, 10001, 5, 2300, 0};
                 }
                 if (s >= 7200) {
                     return amperes(8, 1205, 2);
                 }
                 return amperes(6 + (s % 60) / 10.0);
             });
    const Study patchy = study(folder, "UTC", {mixed, "--power-factor", "0.8"});
    expectAgrees(patchy);
    // The day's intervals from midnight: 11:00 is the 45th, 12:30 the 51st.
    const auto& intervals = firstMeter(patchy).member("intervals")->elements();
    EXPECT_EQ(intervals[44].member("overloads")->whole(), 1u);
    EXPECT_TRUE(intervals[50].member("apparent_power_va")->isNull()) << "DC voltage has no S";
    EXPECT_FALSE(intervals[50].member("current_a")->isNull());
}

TEST(Study, DaysOfTwentyThreeAndTwentyFiveHoursOnTheLocalClock) {
    QTemporaryDir folder;
    const char* berlin = "Europe/Berlin";
    const TimeZone zone(berlin);
    struct Case {
        std::int64_t midnight; // UTC of the local day's start
        double hours;
        std::size_t quarters;
    };
    for (const Case& c :
         {Case{utcMs(2026, 3, 28, 23), 23, 92}, Case{utcMs(2026, 10, 24, 22), 25, 100}}) {
        const QString path = folder.filePath(QStringLiteral("day-%1.csv").arg(c.hours));
        writeLog(path, c.midnight, c.midnight + static_cast<std::int64_t>(c.hours * 3'600'000),
                 1000, [&](std::int64_t t) {
                     return amperes(4 + static_cast<double>((t - c.midnight) / 60'000 % 97) / 10);
                 });
        const Study s = study(folder, berlin, {path, "--interval", "15m"});
        expectAgrees(s);
        const auto& days = firstMeter(s).member("days")->elements();
        ASSERT_EQ(days.size(), 1u);
        EXPECT_EQ(days[0].member("hours")->number(), c.hours);
        EXPECT_EQ(firstMeter(s).member("intervals")->elements().size(), c.quarters);
        EXPECT_NEAR(days[0].member("coverage")->number().value_or(0), 1, 1e-4);
    }
}

TEST(Study, CompressedLogsReadAsPlainOnesAndADayGivenTwiceCountsOnce) {
    QTemporaryDir folder;
    const TimeZone zone("UTC");
    const std::int64_t from = utcMs(2026, 2, 2, 0);
    QStringList plain;
    for (int day = 0; day < 2; ++day) {
        const QString path = folder.filePath(QStringLiteral("COM1.csv-2026-02-0%1").arg(day + 2));
        writeLog(path, from + day * 86'400'000LL, from + (day + 1) * 86'400'000LL, 1000,
                 [](std::int64_t t) { return amperes(3 + (t / 1000 % 300) / 100.0); });
        plain << path;
    }
    // The second day compressed, without the ending that would say so, and the first twice.
    ASSERT_EQ(QProcess::execute("/bin/sh", {"-c", "gzip -c '" + plain[1] + "' > '" + plain[1] +
                                                      ".z' && gzip -c '" + plain[0] + "' > '" +
                                                      plain[0] + ".gz'"}),
              0);
    const Study asPlain = study(folder, "UTC", plain, false);
    const Study mixed = study(folder, "UTC", {plain[1] + ".z", plain[0] + ".gz", plain[0]}, false);
    ASSERT_EQ(mixed.run.exitCode, 0) << mixed.run.errors.toStdString();
    EXPECT_EQ(firstMeter(mixed).member("duplicates")->whole(), 86400u);
    EXPECT_EQ(firstMeter(mixed).member("readings")->whole(),
              firstMeter(asPlain).member("readings")->whole());
    Comparison c;
    c.meter("meters[0]", firstMeter(mixed), firstMeter(asPlain));
    EXPECT_TRUE(c.mismatches.empty()) << c.report();
}

TEST(Study, ThreeMetersTotalAndImbalance) {
    QTemporaryDir folder;
    const TimeZone zone("UTC");
    const std::int64_t from = utcMs(2026, 3, 2, 8);
    QStringList arguments{"--power-factor", "0.95"};
    for (int k = 0; k < 3; ++k) {
        const QString path = folder.filePath(QStringLiteral("L%1.csv").arg(k + 1));
        writeLog(path, from + k * 230, from + 2 * 3'600'000, 1000,
                 [&](std::int64_t t) -> std::optional<MeterReading> {
                     const std::int64_t s = (t - from) / 1000;
                     if (k == 1 && s > 2000 && s < 2700) {
                         return std::nullopt; // L2 away for a while: no total there
                     }
                     return amperes(10 + 2 * k + (k == 2 ? (s / 600) % 4 : 0), 2290 + 10 * k);
                 });
        arguments << "--meter" << QStringLiteral("L%1").arg(k + 1) << path;
    }
    const Study s = study(folder, "UTC", arguments);
    expectAgrees(s);
    EXPECT_GT(member(*s.mine, {"imbalance", "max_percent"}), 10.0);
    EXPECT_LT(s.mine->member("total")->member("intervals")->elements().size(), 8u)
        << "never a partial sum";
}

TEST(Study, The22087CheckAlwaysOnFifteenMinutesAndARecordingThatDoesNotQualify) {
    QTemporaryDir folder;
    const TimeZone zone("UTC");
    const std::int64_t from = utcMs(2026, 4, 1, 0);
    const std::int64_t burst = utcMs(2026, 4, 16, 18, 7, 30);
    // A reading every ten minutes for 31 days, and 40 A for 25 minutes read every second.
    const auto load = [&](std::int64_t end) {
        return [=](std::int64_t t) -> std::optional<MeterReading> {
            if (t >= end) {
                return std::nullopt;
            }
            if (t >= burst && t < burst + 1'500'000) {
                return amperes(40);
            }
            return (t - from) % 600'000 == 0 ? std::optional(amperes(12)) : std::nullopt;
        };
    };
    const QString month = folder.filePath("month.csv");
    writeLog(month, from, from + 31 * 86'400'000LL, 1000, load(from + 31 * 86'400'000LL));
    const Study s =
        study(folder, "UTC", {month, "--interval", "1h", "--rating", "100A", "--new-load", "20A"});
    expectAgrees(s);
    EXPECT_EQ(s.mine->member("nec_220_87")->member("qualifies")->boolean(), true);
    EXPECT_NEAR(member(*s.mine, {"nec_220_87", "load_a"}), 1.25 * 40 + 20, 0.01)
        << "a quarter hour of the burst, whatever the interval";
    const Study block = study(folder, "UTC", {month, "--rating", "45A", "--demand", "block"});
    expectAgrees(block);
    EXPECT_EQ(block.mine->member("nec_220_87")->member("passes")->boolean(), false);
    // Twenty days, and a gap of half an hour: not a recording 220.87 takes.
    const QString short_ = folder.filePath("short.csv");
    writeLog(short_, from, from + 20 * 86'400'000LL, 1000, [&](std::int64_t t) {
        const auto r = load(from + 20 * 86'400'000LL)(t);
        return t > from + 3 * 86'400'000LL && t < from + 3 * 86'400'000LL + 1'800'000 ? std::nullopt
                                                                                      : r;
    });
    const Study no = study(folder, "UTC", {short_, "--rating", "200A"});
    expectAgrees(no);
    const json::JsonValue& nec = *no.mine->member("nec_220_87");
    EXPECT_EQ(nec.member("qualifies")->boolean(), false);
    ASSERT_EQ(nec.member("reasons")->elements().size(), 2u);
    EXPECT_TRUE(no.run.lines.join('\n').contains("does not qualify"))
        << no.run.lines.join('\n').toStdString();
    EXPECT_TRUE(no.run.lines.join('\n').contains("not an approval"));
}

TEST(Study, WhatIsNoLogIsRefusedNamingItAndNothingIsHalfWritten) {
    QTemporaryDir folder;
    const QString garbage = folder.filePath("garbage.csv");
    std::ofstream(garbage.toStdString()) << "\x89PNG\r\n\x1a\n not a log\n";
    const QString good = folder.filePath("good.csv");
    const std::int64_t from = utcMs(2026, 1, 1, 0);
    writeLog(good, from, from + 600'000, 1000, [](std::int64_t) { return amperes(1); });
    const QString json = folder.filePath("out.json");
    struct Case {
        QStringList arguments;
        int exitCode;
        const char* said;
        bool oneLine;
    };
    for (const Case& c : {
             Case{{good, garbage, "--json", json},
                  2,
                  "garbage.csv is no talviren log: its first line",
                  true},
             Case{{good, folder.filePath("missing.csv"), "--json", json}, 2, "missing.csv", true},
             Case{{good, "--interval", "7m"}, 2, "--interval takes 1m, 5m", false},
             Case{{good, "--json", json, "--csv", folder.filePath("no/such/folder/x.csv")},
                  1,
                  "cannot write",
                  true},
         }) {
        const CliRun run = runCli(folder.path(), QStringList{"study"} + c.arguments, 20000);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.errors.toStdString();
        if (c.oneLine) {
            EXPECT_EQ(run.errors.trimmed().count('\n'), 0)
                << "one line: " << run.errors.toStdString();
        }
        EXPECT_TRUE(run.errors.contains(QString::fromLatin1(c.said))) << run.errors.toStdString();
        EXPECT_FALSE(QFile::exists(json)) << "nothing half-studied, nothing half-written";
    }
}

TEST(Study, TheReportIsADocumentWhoseTextCanBeFound) {
    QTemporaryDir folder;
    const TimeZone zone("UTC");
    const std::int64_t from = utcMs(2026, 5, 4, 0);
    QStringList arguments{"--power-factor", "0.9", "--rating", "100A"};
    for (int k = 0; k < 2; ++k) {
        const QString path = folder.filePath(QStringLiteral("P%1.csv").arg(k));
        writeLog(path, from, from + 86'400'000, 1000,
                 [&](std::int64_t t) { return amperes(5 + k + (t / 3'600'000) % 6); });
        arguments << "--meter" << QStringLiteral("P%1").arg(k) << path;
    }
    const QString pdf = folder.filePath("study.pdf");
    const Study s = study(folder, "UTC", arguments + QStringList{"--report", pdf}, false);
    ASSERT_EQ(s.run.exitCode, 0) << s.run.errors.toStdString();
    int pages = 0;
    for (const std::string& line : commandLines("pdfinfo '" + pdf.toStdString() + "'")) {
        if (line.starts_with("Pages:")) {
            pages = std::stoi(line.substr(6));
        }
    }
    EXPECT_EQ(pages, 4) << "summary; demand and energy; the average days and the curve; the tables";
    std::string text;
    for (const std::string& line : commandLines("pdftotext '" + pdf.toStdString() + "' -")) {
        text += line + "\n";
    }
    for (const std::string& expected :
         {std::string("Load study"), std::string("Demand over time"), std::string("Daily energy"),
          std::string("Average day: P1"), std::string("Duration curve"), std::string("Top peaks"),
          std::string("Coverage and gaps"), std::string("not an approval"),
          s.run.lines.filter(QStringLiteral("Peak 15 min")).value(0).trimmed().toStdString()}) {
        EXPECT_NE(text.find(expected), std::string::npos) << expected;
    }
}

} // namespace
