// The run's recording on its own: what it keeps, logs and tells.

#include "TimedReadings.h"

#include "log/CsvLog.h"
#include "trend/Recording.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace talviren;
using talviren::testing::timedReading;
namespace fs = std::filesystem;

namespace {

struct Heard : RecordingListener {
    void readingRecorded(const TimedReading& reading) override { times.push_back(reading.wallMs); }
    void logNews(const std::string& line) override { news.push_back(line); }
    void logChanged(bool open) override { logOpen.push_back(open); }
    std::vector<std::int64_t> times;
    std::vector<std::string> news;
    std::vector<bool> logOpen;
};

TEST(Recording, KeepsLogsAndTellsEveryLiveReadingAndReadsItsLogBack) {
    const fs::path path = fs::temp_directory_path() / ("recording-" + std::to_string(::getpid()));
    fs::remove(path);
    Recording recording;
    Heard heard;
    recording.addListener(&heard);
    std::string error;
    ASSERT_TRUE(recording.startLog(path, error)) << error;
    recording.add(timedReading({1, 1234, 1, 2313, 0}, 0));
    recording.add(timedReading({2, 85, 0, 310, 1}, 1));
    recording.markBreak(); // the link was lost
    recording.add(timedReading({2, 85, 0, 10001, 1}, 2));
    EXPECT_EQ(heard.times,
              (std::vector<std::int64_t>{1'765'000'000'000, 1'765'000'000'500, 1'765'000'001'000}));
    EXPECT_TRUE(recording.history()[2].breakBefore);
    EXPECT_FALSE(recording.history()[1].breakBefore);
    EXPECT_EQ(recording.statistics().of(QuantityKind::DcVoltage).overloads, 1);
    EXPECT_EQ(recording.log()->linesWritten(), 3);
    recording.stopLog();
    recording.stopLog(); // no log any more: nothing to tell
    EXPECT_EQ(heard.logOpen, (std::vector<bool>{true, false}));
    recording.removeListener(&heard);
    recording.add(timedReading({1, 1, 1, 1, 0}, 3));
    EXPECT_EQ(heard.times.size(), 3u) << "nothing after it left";

    Recording opened;
    const LogReadResult result = opened.load(path);
    EXPECT_TRUE(result.isLog);
    EXPECT_EQ(result.readings, 3);
    ASSERT_EQ(opened.history().size(), 3u);
    EXPECT_EQ(opened.history()[1].wallMs, 1'765'000'000'500);
    EXPECT_EQ(opened.statistics().of(QuantityKind::DcVoltage).last.text, "OLV");
    EXPECT_EQ(opened.statistics().of(QuantityKind::AcCurrent).maximum.text, "12.34A");
    fs::remove(path);
}

TEST(Recording, ALogRemovedWhileItRunsIsCreatedAgainWithItsHeader) {
    const fs::path path = fs::temp_directory_path() / ("removed-" + std::to_string(::getpid()));
    Recording recording;
    Heard heard;
    recording.addListener(&heard);
    std::string error;
    ASSERT_TRUE(recording.startLog(path, error)) << error;
    recording.add(timedReading({1, 1234, 1, 2313, 0}, 0));
    recording.tickLog(1'000'000'000);
    fs::remove(path); // the folder cleaned up under a running log
    for (int tick = 1; tick < 5; ++tick) {
        recording.add(timedReading({1, 1234, 1, 2313, 0}, tick));
        recording.tickLog(tick * 2'000'000'000LL);
    }
    ASSERT_EQ(heard.news.size(), 1u);
    EXPECT_EQ(heard.news[0], "log " + path.string() + ": was removed; created again");
    ASSERT_NE(recording.log(), nullptr);
    EXPECT_FALSE(recording.log()->behind());
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 5u) << "the header and the four readings after the removal";
    EXPECT_EQ(lines[0], csvlog::kHeader);
    EXPECT_EQ(lines[1] + "\n", csvlog::line(timedReading({1, 1234, 1, 2313, 0}, 1)));
    EXPECT_FALSE(recording.startLog("/no/such/folder/log.csv", error));
    EXPECT_NE(error.find("/no/such/folder/log.csv"), std::string::npos) << error;
    fs::remove(path);
}

} // namespace
