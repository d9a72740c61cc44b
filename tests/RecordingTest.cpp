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
    void logFailed(const std::string& error) override { failures.push_back(error); }
    void logChanged(bool open) override { logOpen.push_back(open); }
    std::vector<std::int64_t> times;
    std::vector<std::string> failures;
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

TEST(Recording, AFailedLogStopsAndIsToldOnce) {
    const fs::path path = fs::temp_directory_path() / ("removed-" + std::to_string(::getpid()));
    Recording recording;
    Heard heard;
    recording.addListener(&heard);
    std::string error;
    ASSERT_TRUE(recording.startLog(path, error)) << error;
    recording.add(timedReading({1, 1234, 1, 2313, 0}, 0));
    fs::remove(path); // the folder cleaned up under a running log
    for (int tick = 1; tick < 5; ++tick) {
        recording.add(timedReading({1, 1234, 1, 2313, 0}, tick));
        recording.syncLog(tick * 2'000'000'000LL);
    }
    ASSERT_EQ(heard.failures.size(), 1u);
    EXPECT_NE(heard.failures[0].find(path.string()), std::string::npos) << heard.failures[0];
    EXPECT_EQ(recording.log(), nullptr);
    EXPECT_EQ(heard.logOpen, (std::vector<bool>{true, false}));
    EXPECT_EQ(recording.history().size(), 5u) << "the readings are kept all the same";
    EXPECT_FALSE(recording.startLog("/no/such/folder/log.csv", error));
    EXPECT_NE(error.find("/no/such/folder/log.csv"), std::string::npos) << error;
}

} // namespace
