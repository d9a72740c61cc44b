#include "log/CsvLog.h"
#include "log/CsvLogReader.h"

#include "LogFuzzDriver.h"
#include "TimeZone.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

using namespace talviren;
namespace fs = std::filesystem;

namespace {

struct Collected : LogReadingSink {
    std::vector<std::string> lines; // each reading written out again
    std::vector<std::string> texts;
    std::vector<std::int64_t> times;
    void reading(std::int64_t wallMs, const MeterReading& raw, std::string_view currentText,
                 std::string_view secondText) override {
        TimedReading r;
        static_cast<DecodedReading&>(r) = decodeReading(raw, separator);
        r.wallMs = wallMs;
        lines.push_back(csvlog::line(r));
        times.push_back(wallMs);
        texts.push_back(std::string(currentText) + "|" + std::string(secondText));
    }
    std::string separator = ".";
};

TEST(LogReader, EveryLineTheWriterCanWriteReadsBackAsTheSameLine) {
    std::mt19937 random(7);
    for (const char* separator : {".", ","}) {
        std::string log = std::string(csvlog::kHeader) + "\n";
        std::vector<std::string> written;
        for (int i = 0; i < 20000; ++i) {
            const int count = static_cast<int>(random() % 25756);
            const MeterReading raw{static_cast<std::uint8_t>(random() % 6), count,
                                   static_cast<std::uint8_t>(random() % 8),
                                   static_cast<int>(random() % 2 ? count : random() % 2100),
                                   static_cast<std::uint8_t>(random() % 3)};
            TimedReading r;
            static_cast<DecodedReading&>(r) = decodeReading(raw, separator);
            r.wallMs = 1'765'000'000'000 + i * 500LL + static_cast<int>(random() % 3);
            written.push_back(csvlog::line(r));
            log += written.back();
        }
        Collected got;
        got.separator = separator;
        const LogReadResult result = readCsvLogText(log, got);
        ASSERT_TRUE(result.isLog);
        EXPECT_EQ(result.skipped, 0);
        EXPECT_EQ(result.readings, 20000);
        ASSERT_EQ(got.lines, written) << separator;
    }
}

TEST(LogReader, LinesThatCannotBeReadAreSkippedAndCounted) {
    const std::string good = "2026-12-07T10:00:00.000,1,AC I,12.34A,AC U,231.3V,12.34,231.3\n";
    const char* bad[] = {
        "2026-12-07T10:00:00.500,1,AC I,12.34A,AC U,231.3V,12.34\n",        // seven fields
        "2026-12-07 10:00:01.000,1,AC I,12.34A,AC U,231.3V,12.34,231.3\n",  // no T
        "2026-02-30T10:00:01.000,1,AC I,12.34A,AC U,231.3V,12.34,231.3\n",  // no such day
        "2026-12-07T10:00:01.500,2,AC I,12.34A,AC U,231.3V,12.34,231.3\n",  // names of function 1
        "2026-12-07T10:00:02.000,1,AC I,12.34A,AC U,231.3V,12.35,231.3\n",  // number disagrees
        "2026-12-07T10:00:02.500,1,AC I,12.340A,AC U,231.3V,12.34,231.3\n", // not a display text
        "2026-12-07T10:00:03.000,1,AC I,12.34A,AC U,750.1V,12.34,750.1\n",  // beyond the limit
        "2026-12-07T10:00:03.500,1,AC I,OLA,AC U,231.3V,,231.3,extra\n",    // nine fields
        "2026-12-07T10:00:04.000,1,AC I,OLA,AC U,231.3V,10001,231.3\n",     // a value on overload
        "2026-12-07T10:00:04.500,3,AC I,1A,R,\"1,5kΩ\"x,1,1500\n",          // junk after a quote
        "garbage\n",
        "2026-12-07T10:00:05.000,1,AC I,12.34A,AC U,231.3V,12.34,231", // cut short at the end
    };
    std::string log = std::string(csvlog::kHeader) + "\n" + good + "\n";
    for (const char* line : bad) {
        log += line;
        log += good;
    }
    Collected got;
    const LogReadResult result = readCsvLogText(log, got);
    EXPECT_TRUE(result.isLog);
    EXPECT_EQ(result.readings, 12);
    EXPECT_EQ(result.skipped, 12);
    EXPECT_EQ(got.texts.front(), "12.34A|231.3V");
}

TEST(LogReader, QuotedTextsWithTheCommaSeparatorAreTakenAsLogged) {
    const std::string log =
        std::string(csvlog::kHeader) +
        "\r\n2026-12-07T10:00:00.000,3,AC I,\"0,05A\",R,\"1,228kΩ\",0.05,1228\r\n";
    Collected got;
    const LogReadResult result = readCsvLogText(log, got);
    EXPECT_EQ(result.readings, 1);
    EXPECT_EQ(got.texts, std::vector<std::string>{"0,05A|1,228kΩ"});
}

// A log of before the offsets were written, across the autumn change in Berlin, with lines of
// the newer form appended: every line is read, in order, ten minutes apart.
TEST(LogReader, OldLocalTimesReadTheRepeatedHourInFileOrder) {
    talviren::testing::TimeZone zone("Europe/Berlin");
    std::string log = std::string(csvlog::kHeader) + "\n";
    const auto line = [&](const std::string& time) {
        log += time + ",1,AC I,12.34A,AC U,231.3V,12.34,231.3\n";
    };
    for (const char* minute : {"30", "40", "50"}) {
        line(std::string("2026-10-25T01:") + minute + ":00.000");
    }
    for (int pass = 0; pass < 2; ++pass) { // summer time, then standard time
        for (int minute = 0; minute < 60; minute += 10) {
            line("2026-10-25T02:" + std::to_string(minute / 10) + "0:00.000");
        }
    }
    for (const char* minute : {"00", "10", "20", "30"}) {
        line(std::string("2026-10-25T03:") + minute + ":00.000");
    }
    line("2026-10-25T03:40:00.000+01:00");
    line("2026-10-25T02:50:00.000Z");
    line("2026-10-24T22:00:00.000-05:00");
    line("2026-10-25T04:10:00.000+25:00"); // no such offset
    line("2026-10-25T04:10:00.000+01");
    Collected got;
    const LogReadResult result = readCsvLogText(log, got);
    EXPECT_EQ(result.readings, 22);
    EXPECT_EQ(result.skipped, 2);
    ASSERT_EQ(got.times.size(), 22u);
    const std::int64_t first = 1'792'884'600'000; // 2026-10-24T23:30:00Z
    for (std::size_t i = 0; i < got.times.size(); ++i) {
        EXPECT_EQ(got.times[i], first + static_cast<std::int64_t>(i) * 600'000) << "line " << i;
    }
}

TEST(LogReader, AFileThatIsNoLogSaysSo) {
    Collected got;
    for (const char* text :
         {"number,function,name1,text1,name2,text2,value1,value2\n1,1,,,,,,\n", "\x89PNG\r\n\x1a\n",
          "time,function\n", "time,function,name1,text1,name2,text2,value1,value2,power_w\n",
          "time,function,name1,text1,name2,text2,value1,value2,"
          "apparent_power_va,power_w,more\n"}) {
        const LogReadResult result = readCsvLogText(text, got);
        EXPECT_FALSE(result.isLog) << text;
        EXPECT_NE(result.error.find("header"), std::string::npos);
    }
    const LogReadResult missing = readCsvLog("/nonexistent/log.csv", got);
    EXPECT_FALSE(missing.isLog);
    EXPECT_NE(missing.error.find("/nonexistent/log.csv"), std::string::npos) << missing.error;
    EXPECT_TRUE(got.lines.empty());
}

// What the fuzzer found, and its seeds, through the same driver.
TEST(LogReader, CompressedLogsTheFuzzerKeptStillHold) {
    int replayed = 0;
    for (const char* folder : {"log-crashes", "log-corpus"}) {
        const fs::path path = fs::path(TALVIREN_SOURCE_DIR) / "tests" / "fuzz" / folder;
        if (!fs::exists(path)) {
            continue;
        }
        for (const auto& entry : fs::directory_iterator(path)) {
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string input((std::istreambuf_iterator<char>(in)), {});
            EXPECT_EQ(talviren::testing::replayCompressedLog(
                          reinterpret_cast<const std::uint8_t*>(input.data()), input.size()),
                      "")
                << entry.path();
            ++replayed;
        }
    }
    EXPECT_GE(replayed, 4);
}

} // namespace
