// The log of a long unattended run: behind and caught up, rotated, named by the time, and what a
// power cut leaves. Files are read back with the log reader, which checks every line whole.

#include "TimeZone.h"
#include "TimedReadings.h"

#include "log/CsvLog.h"
#include "log/CsvLogReader.h"
#include "log/CsvLogWriter.h"
#include "log/DurableLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace talviren;
using talviren::testing::timedReading;
namespace fs = std::filesystem;

namespace {

struct ReadBack {
    LogReadResult result;
    std::vector<std::int64_t> ticks; // the readings, as the ticks timedReading gave them
};

// Notes the tick of each reading read.
struct TickSink : LogReadingSink {
    std::vector<std::int64_t> ticks;
    void reading(std::int64_t wallMs, const MeterReading&, std::string_view,
                 std::string_view) override {
        ticks.push_back((wallMs - 1'765'000'000'000) / 500);
    }
};

ReadBack readBack(const fs::path& path) {
    TickSink sink;
    ReadBack back;
    back.result = readCsvLog(path.string(), sink);
    back.ticks = sink.ticks;
    return back;
}

std::vector<std::int64_t> range(std::int64_t from, std::int64_t to) {
    std::vector<std::int64_t> ticks;
    for (std::int64_t t = from; t <= to; ++t) {
        ticks.push_back(t);
    }
    return ticks;
}

class DurableLogFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("talviren-durable-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // Tick t's reading, and the log's timer at its time.
    static void feed(DurableLog& log, int tick) {
        log.append(timedReading({1, 1200 + tick % 100, 1, 2300, 0}, tick));
        log.tick(tick * 500'000'000LL);
    }
    fs::path folder_;
};

// The folder goes (nothing can be written), a day's worth of readings (here 6) waits, the oldest
// go past it, and when the folder is back every reading that waited goes out once, in order.
TEST_F(DurableLogFiles, BehindWhileNothingCanBeWrittenThenCaughtUpInOrder) {
    const fs::path path = folder_ / "gone" / "log.csv";
    fs::create_directories(path.parent_path());
    std::vector<std::string> told;
    DurableLogEvents events;
    events.fellBehind = [&](const std::string& reason) { told.push_back("behind: " + reason); };
    events.caughtUp = [&](std::uint64_t late, std::uint64_t dropped) {
        told.push_back("caught up " + std::to_string(late) + " " + std::to_string(dropped));
    };
    events.dropping = [&](std::size_t kept) { told.push_back("dropping " + std::to_string(kept)); };
    DurableLog log({path.string(), 0, 6, 5'000'000'000}, events);
    std::string error;
    ASSERT_TRUE(log.open(0, error)) << error;
    for (int t = 0; t < 4; ++t) {
        feed(log, t);
    }
    fs::remove_all(path.parent_path());
    for (int t = 4; t < 20; ++t) {
        feed(log, t);
    }
    EXPECT_TRUE(log.behind());
    EXPECT_EQ(log.waiting(), 6u);
    EXPECT_GT(log.dropped(), 0u);
    EXPECT_NE(log.error().find(path.string()), std::string::npos) << log.error();
    fs::create_directories(path.parent_path());
    for (int t = 20; t < 40 && log.behind(); ++t) {
        log.tick(t * 500'000'000LL); // no readings meanwhile: the meter is off
    }
    EXPECT_FALSE(log.behind());
    EXPECT_EQ(log.error(), "");
    const ReadBack back = readBack(path);
    EXPECT_EQ(back.result.skipped, 0);
    EXPECT_EQ(back.ticks, range(14, 19)) << "the newest six waited; the file was created again";
    ASSERT_EQ(told.size(), 3u);
    EXPECT_NE(told[0].find("behind: cannot "), std::string::npos) << told[0];
    EXPECT_EQ(told[1], "dropping 6");
    EXPECT_EQ(told[2], "caught up 6 " + std::to_string(log.dropped()));
}

TEST_F(DurableLogFiles, TooLittleFreeSpacePausesWritingAsIfTheDiskWereFull) {
    const fs::path path = folder_ / "log.csv";
    DurableLog log({path.string(), std::uint64_t(1) << 62});
    std::string error;
    ASSERT_TRUE(log.open(0, error)) << error;
    for (int t = 0; t < 6; ++t) {
        feed(log, t);
    }
    EXPECT_TRUE(log.behind());
    EXPECT_NE(log.error().find("paused"), std::string::npos) << log.error();
    EXPECT_LE(readBack(path).ticks.size(), 3u) << "what came before the first look at the space";
    EXPECT_GE(log.waiting(), 3u);
}

// logrotate moves the file and sends SIGHUP: the old file ends with whole lines, the new one
// starts with its header, and every reading is in one of them, once.
TEST_F(DurableLogFiles, ReopenedAfterAMoveEveryReadingIsInOneFileOnce) {
    const fs::path path = folder_ / "log.csv";
    DurableLog log({path.string()});
    std::string error;
    ASSERT_TRUE(log.open(0, error)) << error;
    for (int t = 0; t < 5; ++t) {
        feed(log, t);
    }
    fs::rename(path, folder_ / "log.csv.1");
    feed(log, 5); // written to the moved file, until the signal comes
    log.reopen(5 * 500'000'000LL);
    for (int t = 6; t < 10; ++t) {
        feed(log, t);
    }
    log.close();
    const ReadBack old = readBack(folder_ / "log.csv.1");
    const ReadBack now = readBack(path);
    EXPECT_EQ(old.ticks, range(0, 5));
    EXPECT_EQ(now.ticks, range(6, 9));
    EXPECT_EQ(old.result.skipped + now.result.skipped, 0);
}

TEST_F(DurableLogFiles, ANameWithTimeFieldsStartsAFileWhenItChanges) {
    talviren::testing::TimeZone zone("UTC0");
    const fs::path pattern = folder_ / "COM1-%Y-%m-%d-%H.csv";
    DurableLog log({pattern.string()});
    std::string error;
    // Tick 0 is 2025-12-06T05:46:40Z; 06:00 is tick 1,600.
    ASSERT_TRUE(log.open(1'765'000'000'000, error)) << error;
    for (int t = 0; t < 3000; t += 100) {
        feed(log, t);
    }
    log.close();
    const ReadBack five = readBack(folder_ / "COM1-2025-12-06-05.csv");
    const ReadBack six = readBack(folder_ / "COM1-2025-12-06-06.csv");
    ASSERT_TRUE(five.result.isLog && six.result.isLog) << "each starts with its header";
    ASSERT_FALSE(five.ticks.empty());
    EXPECT_EQ(five.ticks, (std::vector<std::int64_t>{0, 100, 200, 300, 400, 500, 600, 700, 800, 900,
                                                     1000, 1100, 1200, 1300, 1400, 1500}));
    EXPECT_EQ(six.ticks.front(), 1600);
    EXPECT_EQ(six.ticks.size(), 14u);
}

// A power cut: the log cut at every byte of its last two lines, each also with 4 KiB of NUL
// bytes after it. The reader takes every whole line and skips the torn one; the writer, opening
// such a file, cuts the NULs and ends the torn line, so that its next reading reads back.
TEST_F(DurableLogFiles, APowerCutAtAnyByteCostsAtMostTheTornLine) {
    const fs::path whole = folder_ / "whole.csv";
    {
        CsvLogWriter writer(whole.string());
        ASSERT_TRUE(writer.open());
        for (int t = 0; t < 4; ++t) {
            ASSERT_TRUE(writer.append(timedReading({1, 1234, 1, 2313, 0}, t)));
        }
    }
    std::ifstream in(whole, std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(in), {}};
    const std::size_t lastTwo =
        content.rfind('\n', content.rfind('\n', content.size() - 2) - 1) + 1;
    const fs::path cut = folder_ / "cut.csv";
    for (std::size_t size = lastTwo; size <= content.size(); ++size) {
        for (const bool nuls : {false, true}) {
            std::ofstream(cut, std::ios::binary | std::ios::trunc)
                << content.substr(0, size) << (nuls ? std::string(4096, '\0') : std::string());
            const std::string where = std::to_string(size) + (nuls ? " with NULs" : "");
            // A line that lost only its line break is whole all the same.
            const bool torn = content[size - 1] != '\n' && content[size] != '\n';
            const std::int64_t wholeLines =
                std::count(content.begin(), content.begin() + size, '\n') - 1 +
                (content[size - 1] != '\n' && !torn ? 1 : 0);
            const ReadBack read = readBack(cut);
            EXPECT_EQ(static_cast<std::int64_t>(read.ticks.size()), wholeLines) << where;
            EXPECT_EQ(read.result.skipped, torn ? 1 : 0) << where;

            CsvLogWriter writer(cut.string());
            ASSERT_TRUE(writer.open()) << where;
            ASSERT_TRUE(writer.append(timedReading({1, 1234, 1, 2313, 0}, 9)));
            writer.close();
            const ReadBack after = readBack(cut);
            ASSERT_FALSE(after.ticks.empty()) << where;
            EXPECT_EQ(after.ticks.back(), 9) << where;
            EXPECT_EQ(static_cast<std::int64_t>(after.ticks.size()), wholeLines + 1) << where;
            std::ifstream again(cut, std::ios::binary);
            const std::string repaired{std::istreambuf_iterator<char>(again), {}};
            EXPECT_EQ(repaired.find('\0'), std::string::npos) << where;
        }
    }
}

// A month of daily files, chosen in any order, reads as one log in time order; a file among
// them that is no log refuses the whole, naming it.
TEST_F(DurableLogFiles, SeveralLogsReadAsOneInTimeOrder) {
    std::vector<std::string> paths;
    for (int day = 2; day >= 0; --day) { // given newest first
        const fs::path path = folder_ / ("day" + std::to_string(day) + ".csv");
        CsvLogWriter writer(path.string());
        ASSERT_TRUE(writer.open());
        for (int t = 0; t < 3; ++t) {
            ASSERT_TRUE(writer.append(timedReading({1, 1234, 1, 2313, 0}, day * 10 + t)));
        }
        paths.push_back(path.string());
    }
    TickSink sink;
    const LogReadResult result = readCsvLogs(paths, sink);
    EXPECT_TRUE(result.isLog);
    EXPECT_EQ(result.readings, 9);
    EXPECT_EQ(sink.ticks, (std::vector<std::int64_t>{0, 1, 2, 10, 11, 12, 20, 21, 22}));
    const fs::path other = folder_ / "notes.txt";
    std::ofstream(other) << "shopping list\n";
    paths.push_back(other.string());
    const LogReadResult refused = readCsvLogs(paths, sink);
    EXPECT_FALSE(refused.isLog);
    EXPECT_NE(refused.error.find(other.string() + " is no talviren log"), std::string::npos)
        << refused.error;
}

} // namespace
