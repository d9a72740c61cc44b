#include "log/CsvLog.h"
#include "log/CsvLogWriter.h"

#include "TimeZone.h"
#include "WorkbookReadBack.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace talviren;
namespace fs = std::filesystem;

namespace {

TimedReading timed(std::uint8_t function, int current, std::uint8_t range, int second,
                   std::string_view separator, std::int64_t wallMs = 1'765'000'000'000,
                   std::int64_t steadyNs = 0) {
    TimedReading r;
    static_cast<DecodedReading&>(r) =
        decodeReading(MeterReading{function, current, range, second, 1}, separator);
    r.wallMs = wallMs;
    r.steadyNs = steadyNs;
    return r;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every record of a CSV file as Python's csv module reads it, one JSON array a line.
std::vector<std::string> pythonRecords(const fs::path& path) {
    return talviren::testing::readBackWith("read_csv.py", path.string());
}

class CsvLogFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("talviren-log-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }
    fs::path folder_;
};

TEST_F(CsvLogFiles, CommaSeparatorTextsAreQuotedAndNumbersKeepThePoint) {
    const fs::path path = folder_ / "log.csv";
    CsvLogWriter writer(path);
    ASSERT_TRUE(writer.open()) << writer.error();
    ASSERT_TRUE(writer.append(timed(1, 1234, 1, 2313, ",")));
    ASSERT_TRUE(writer.append(timed(2, 85, 0, 10001, ",")));
    ASSERT_TRUE(writer.append(timed(3, 10001, 5, 1228, ",")));
    ASSERT_TRUE(writer.append(timed(0, 5, 7, 5, ",")));
    EXPECT_EQ(writer.linesWritten(), 4);
    writer.close();
    const std::string time = csvlog::timeField(1'765'000'000'000);
    EXPECT_EQ(
        pythonRecords(path),
        (std::vector<std::string>{
            R"(["time", "function", "name1", "text1", "name2", "text2", "value1", "value2"])",
            R"([")" + time + R"(", "1", "AC I", "12,34A", "AC U", "231,3V", "12.34", "231.3"])",
            R"([")" + time + R"(", "2", "AC I", "85mA", "DC U", "OLV", "0.085", ""])",
            R"([")" + time + R"(", "3", "AC I", "OLA", "R", "1,228kΩ", "", "1228"])",
            R"([")" + time + R"(", "0", "", "", "", "", "", ""])"}));
}

TEST_F(CsvLogFiles, FieldsWithQuotesCommasAndLineBreaksReadBackWhole) {
    const std::vector<std::string> fields = {"plain",    "a,b", "say \"hi\"", "two\nlines",
                                             "cr\rhere", "",    "\"",         "k\u03A9"};
    std::string row;
    for (const std::string& f : fields) {
        row += (row.empty() ? "" : ",") + csvlog::field(f);
    }
    const fs::path path = folder_ / "fields.csv";
    std::ofstream(path) << row << "\n";
    EXPECT_EQ(pythonRecords(path),
              std::vector<std::string>{
                  R"(["plain", "a,b", "say \"hi\"", "two\nlines", "cr\rhere", "", "\"", "kΩ"])"});
}

TEST_F(CsvLogFiles, HeaderOnlyOnANewOrEmptyFileAndAPartialLineIsFinishedFirst) {
    const std::string header = std::string(csvlog::kHeader) + "\n";
    const TimedReading reading = timed(1, 100, 1, 100, ".");
    const std::string line = csvlog::line(reading);
    struct Case {
        const char* name;
        std::optional<std::string> before; // none: no file yet
        std::string after;
    };
    const Case cases[] = {
        {"new", std::nullopt, header + line},
        {"empty", "", header + line},
        {"whole", header + line, header + line + line},
        {"partial", header + "2026-12-07T10:00:00.000,1,AC",
         header + "2026-12-07T10:00:00.000,1,AC\n" + line},
    };
    for (const Case& c : cases) {
        const fs::path path = folder_ / (std::string(c.name) + ".csv");
        if (c.before) {
            std::ofstream(path, std::ios::binary) << *c.before;
        }
        CsvLogWriter writer(path);
        ASSERT_TRUE(writer.open()) << writer.error();
        ASSERT_TRUE(writer.append(reading));
        writer.close();
        EXPECT_EQ(readFile(path), c.after) << c.name;
    }
}

TEST_F(CsvLogFiles, ARemovedFolderIsReportedOnceAtTheNextSync) {
    const fs::path path = folder_ / "gone" / "log.csv";
    fs::create_directories(path.parent_path());
    CsvLogWriter writer(path);
    ASSERT_TRUE(writer.open());
    ASSERT_TRUE(writer.append(timed(1, 100, 1, 100, ".")));
    ASSERT_TRUE(writer.syncIfDue(0));
    fs::remove_all(path.parent_path());
    EXPECT_TRUE(writer.append(timed(1, 100, 1, 100, ".")));
    EXPECT_TRUE(writer.syncIfDue(400'000'000)) << "at most one sync a second";
    EXPECT_FALSE(writer.syncIfDue(1'100'000'000));
    EXPECT_TRUE(writer.failed());
    EXPECT_NE(writer.error().find(path.string()), std::string::npos) << writer.error();
    EXPECT_NE(writer.error().find("No such file"), std::string::npos) << writer.error();
    EXPECT_FALSE(writer.append(timed(1, 100, 1, 100, ".")));
}

TEST_F(CsvLogFiles, AFullFileSystemStopsTheLogAndKeepsEveryLineWhole) {
    // A 64 KiB file system of our own, mounted in a private namespace of a child process; where
    // mounting is not allowed, /dev/full refuses writes in the same way.
    const fs::path mountPoint = folder_ / "small";
    fs::create_directories(mountPoint);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        fs::path path = mountPoint / "log.csv";
        const bool privateMount =
            (::unshare(CLONE_NEWNS) == 0 || ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0) &&
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") == 0;
        if (!privateMount) {
            path = "/dev/full";
        }
        CsvLogWriter writer(path);
        if (!writer.open()) {
            ::_exit(privateMount                                           ? 10
                    : writer.error().find("No space") != std::string::npos ? 0
                                                                           : 11);
        }
        std::int64_t steady = 0;
        while (writer.append(timed(2, 1234, 1, 310, ".", 0)) &&
               writer.syncIfDue(steady += 500'000'000)) {
            if (writer.linesWritten() > 10'000) {
                ::_exit(12); // never full
            }
        }
        if (writer.error().find(path.string()) == std::string::npos ||
            writer.error().find("No space left") == std::string::npos) {
            ::_exit(13);
        }
        const std::int64_t written = writer.linesWritten();
        writer.close();
        const std::string content = readFile(path);
        const std::string line = csvlog::line(timed(2, 1234, 1, 310, ".", 0));
        const std::string expected = std::string(csvlog::kHeader) + "\n" + [&] {
            std::string lines;
            for (std::int64_t i = 0; i < written; ++i) {
                lines += line;
            }
            return lines;
        }();
        ::_exit(written > 100 && content == expected ? 0 : 14);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "10/11: open failed, 12: never full, 13: error without file or reason, 14: lines cut";
}

TEST(CsvLogTime, LocalTimeWithMilliseconds) {
    talviren::testing::TimeZone zone("UTC0");
    struct Case {
        const char* zone;
        std::int64_t wallMs;
        const char* text;
    };
    for (const Case& c :
         {Case{"UTC0", 0, "1970-01-01T00:00:00.000"}, Case{"UTC0", -1, "1969-12-31T23:59:59.999"},
          Case{"EET-2", 1'765'000'000'123, "2025-12-06T07:46:40.123"}}) {
        zone.set(c.zone);
        EXPECT_EQ(csvlog::localTime(c.wallMs), c.text) << c.zone;
    }
}

// Either side of both changes of 2026 in Berlin: every line carries the offset it was in.
TEST(CsvLogTime, LogTimesCarryTheirOffsetAcrossBothClockChanges) {
    talviren::testing::TimeZone zone("Europe/Berlin");
    const std::int64_t spring = 1'774'746'000'000; // 2026-03-29T01:00:00Z
    const std::int64_t autumn = 1'792'890'000'000; // 2026-10-25T01:00:00Z
    const std::pair<std::int64_t, const char*> cases[] = {
        {spring - 1, "2026-03-29T01:59:59.999+01:00"},
        {spring, "2026-03-29T03:00:00.000+02:00"},
        {autumn - 1'800'000, "2026-10-25T02:30:00.000+02:00"},
        {autumn - 1, "2026-10-25T02:59:59.999+02:00"},
        {autumn, "2026-10-25T02:00:00.000+01:00"},
        {autumn + 1'800'000, "2026-10-25T02:30:00.000+01:00"},
    };
    for (const auto& [wallMs, text] : cases) {
        EXPECT_EQ(csvlog::timeField(wallMs), text);
        EXPECT_TRUE(
            csvlog::line(timed(1, 5, 1, 5, ".", wallMs)).starts_with(std::string(text) + ","));
    }
}

} // namespace
