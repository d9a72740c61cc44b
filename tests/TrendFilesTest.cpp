#include "export/TrendFiles.h"

#include "WorkbookReadBack.h"
#include "log/CsvLog.h"
#include "log/CsvLogReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace talviren;
namespace fs = std::filesystem;

namespace {

TimedReading timed(const MeterReading& raw, std::int64_t wallMs, std::string_view separator = ".") {
    TimedReading r;
    static_cast<DecodedReading&>(r) = decodeReading(raw, separator);
    r.wallMs = wallMs;
    return r;
}

struct Readings : ReadingSequence {
    std::vector<TimedReading> list;
    std::size_t size() const override { return list.size(); }
    TimedReading at(std::size_t i) const override { return list[i]; }
};

class TrendFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "EET-2EEST,M3.5.0/3,M10.5.0/4", 1); // a zone with summer time
        ::tzset();
        folder_ = fs::temp_directory_path() /
                  ("talviren-trend-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
        // 2026-03-29 00:59:59.250 UTC, across the change to summer time (03:00 local -> 04:00).
        const std::int64_t start = 1'774'745'999'250;
        const MeterReading raws[] = {
            {1, 1234, 1, 2313, 0}, {2, 85, 0, 310, 1},   {3, 10001, 5, 2001, 0}, {0, 5, 7, 5, 0},
            {2, 0, 3, 0, 1},       {3, 144, 2, 1228, 0}, {1, 20, 4, 7500, 0}};
        std::int64_t t = start;
        for (const MeterReading& raw : raws) {
            readings_.list.push_back(timed(raw, t));
            t += 500;
        }
    }
    void TearDown() override {
        fs::remove_all(folder_);
        ::unsetenv("TZ");
        ::tzset();
    }
    fs::path folder_;
    Readings readings_;
};

TEST_F(TrendFiles, WorkbookHasDateTimesNumbersAndTextsAndContinuesOnANewSheet) {
    EXPECT_EQ(kReadingsPerSheet, 1'048'575u) << "the format's row limit, less the header";
    const fs::path path = folder_ / "trend.xlsx";
    std::string error;
    std::vector<double> progress;
    ASSERT_TRUE(writeReadingsWorkbook(
        readings_, path, error, [&](double p) { progress.push_back(p); }, PowerFactor{950'000}, 3))
        << error;
    EXPECT_EQ(progress.back(), 1.0);
    const std::string header = "text:time\ttext:function\ttext:name1\ttext:text1\ttext:name2\t"
                               "text:text2\ttext:value1\ttext:value2\ttext:apparent_power_va\t"
                               "text:power_w";
    // openpyxl gives the local wall-clock time of each cell.
    EXPECT_EQ(talviren::testing::readBackWith("read_trend_workbook.py", path.string(), "TZ=UTC"),
              (std::vector<std::string>{
                  "sheet\tReadings\tA2",
                  header,
                  "date:2026-03-29T02:59:59.250\ttext:1\ttext:AC I\ttext:12.34A\ttext:AC U\t"
                  "text:231.3V\tnumber:12.34\tnumber:231.3\tnumber:2854.242\tnumber:2711.5299",
                  "date:2026-03-29T02:59:59.750\ttext:2\ttext:AC I\ttext:85mA\ttext:DC U\t"
                  "text:-31V\tnumber:0.085\tnumber:-31.0\tempty:\tempty:",
                  "date:2026-03-29T04:00:00.250\ttext:3\ttext:AC I\ttext:OLA\ttext:R\ttext:OLkΩ\t"
                  "empty:\tempty:\tempty:\tempty:",
                  "sheet\tReadings 2\tA2",
                  header,
                  "date:2026-03-29T04:00:00.750\ttext:0\tempty:\tempty:\tempty:\tempty:\tempty:\t"
                  "empty:\tempty:\tempty:",
                  "date:2026-03-29T04:00:01.250\ttext:2\ttext:AC I\ttext:0A\ttext:DC U\t"
                  "text:-0V\tnumber:0.0\tnumber:0.0\tempty:\tempty:",
                  "date:2026-03-29T04:00:01.750\ttext:3\ttext:AC I\ttext:14.4A\ttext:R\t"
                  "text:1.228kΩ\tnumber:14.4\tnumber:1228.0\tempty:\tempty:",
                  "sheet\tReadings 3\tA2",
                  header,
                  "date:2026-03-29T04:00:02.250\ttext:1\ttext:AC I\ttext:20A\ttext:AC U\t"
                  "text:750V\tnumber:20.0\tnumber:750.0\tnumber:15000.0\t"
                  "number:14250.0",
              }));
}

TEST_F(TrendFiles, CsvIsTheLogFormatWithPowerAndReadsBackAsTheSameReadings) {
    const fs::path path = folder_ / "trend.csv";
    std::string error;
    ASSERT_TRUE(writeReadingsCsv(readings_, path, error, {}, PowerFactor{950'000})) << error;
    const std::vector<std::string> records =
        talviren::testing::readBackWith("read_csv.py", path.string());
    ASSERT_EQ(records.size(), readings_.list.size() + 1);
    EXPECT_EQ(records[0], R"(["time", "function", "name1", "text1", "name2", "text2", "value1", )"
                          R"("value2", "apparent_power_va", "power_w"])");
    EXPECT_TRUE(records[1].ends_with(R"("12.34", "231.3", "2854.242", "2711.5299"])"))
        << records[1];
    EXPECT_TRUE(records[2].ends_with(R"("0.085", "-31", "", ""])")) << records[2];
    EXPECT_TRUE(records[7].ends_with(R"("20", "750", "15000", "14250"])")) << records[7];
    struct Sink : LogReadingSink {
        std::vector<TimedReading> got;
        void reading(std::int64_t wallMs, const MeterReading& raw, std::string_view,
                     std::string_view) override {
            got.push_back(timed(raw, wallMs));
        }
    } sink;
    const LogReadResult result = readCsvLog(path, sink);
    ASSERT_TRUE(result.isLog) << result.error;
    EXPECT_EQ(result.skipped, 0);
    ASSERT_EQ(sink.got.size(), readings_.list.size());
    for (std::size_t i = 0; i < sink.got.size(); ++i) {
        EXPECT_EQ(csvlog::line(sink.got[i]), csvlog::line(readings_.list[i])) << i;
    }
}

TEST_F(TrendFiles, FailedSavesLeaveNoFile) {
    std::string error;
    EXPECT_FALSE(writeReadingsWorkbook(readings_, folder_ / "none" / "a.xlsx", error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_FALSE(writeReadingsCsv(readings_, folder_ / "none" / "a.csv", error));
    EXPECT_TRUE(fs::is_empty(folder_));
}

} // namespace
