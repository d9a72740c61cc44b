#include "RecordBlocks.h"
#include "export/AtomicFile.h"
#include "export/FileTypes.h"
#include "export/StudyFiles.h"
#include "export/TextFiles.h"
#include "export/Workbook.h"
#include "export/XlsWriter.h"
#include "records/RecordDecoder.h"
#include "sim/MeterSimulator.h"

#include "WorkbookReadBack.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace talviren;
namespace fs = std::filesystem;

namespace {

RecordTable tableOf(const std::vector<std::vector<std::string>>& rows) {
    RecordTable table;
    table.setRows(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        for (int c = 0; c < static_cast<int>(rows[static_cast<std::size_t>(r)].size()); ++c) {
            table.setCell(r, c, rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)]);
        }
    }
    return table;
}

std::string blanks(int n) {
    return std::string(static_cast<std::size_t>(n), ' ');
}

struct TextCase {
    const char* name;
    std::vector<std::vector<std::string>> rows;
    std::string expected;
};

void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class RecordText : public ::testing::TestWithParam<TextCase> {};

TEST_P(RecordText, FollowsTheTabRuleByteForByte) {
    EXPECT_EQ(recordTableText(tableOf(GetParam().rows)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RecordText,
    ::testing::Values(
        TextCase{"OneRowNoLineBreak", {{"NO.", "", "", ""}}, "NO." + blanks(56)},
        TextCase{"EvenThenOdd",
                 {{"abcd", "efgh", "ijkl", ""}, {"", "12345", "123456", ""}},
                 "abcd" + blanks(15) + "efgh" + blanks(16) + "ijkl" + blanks(16) + "\r\n" +
                     blanks(18) + "12345" + blanks(15) + "123456" + blanks(14)},
        TextCase{"OddNineCharactersJoinsDirectly",
                 {{"", "", "", ""}, {"123456789", "X", "", ""}},
                 blanks(59) + "\r\n123456789X" + blanks(19) + blanks(20)},
        TextCase{"OddTenCharactersBreaksTheLine",
                 {{"", "", "", ""}, {"1234567890", "X", "", ""}},
                 blanks(59) + "\r\n1234567890\r\n" + blanks(8) + "X" + blanks(19) + blanks(20)},
        TextCase{"EvenNineteenCharactersJoinsDirectly",
                 {{"1234567890123456789", "X", "", "Z"}},
                 "1234567890123456789X" + blanks(19) + blanks(20) + "Z"},
        TextCase{"ColumnsBeyondThreeNeverReachTheFile",
                 {{"a", "b", "c", "d", "e", "f", "g"}},
                 "a" + blanks(18) + "b" + blanks(19) + "c" + blanks(19) + "d"},
        TextCase{"OmegaCountsAsOneColumn",
                 {{"", "", "", ""}, {"", "1.5k\u03A9", "OLk\u03A9", ""}},
                 blanks(59) + "\r\n" + blanks(18) + "1.5k\u03A9" + blanks(15) + "OLk\u03A9" +
                     blanks(16)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RealtimeText, TwoLinesWithFiveBlankGaps) {
    const RealtimeCaptions captions{{"AC I:", "R: "}, {"0mA", "1.228k\u03A9"}};
    EXPECT_EQ(realtimeText(captions), "     AC I:     0mA\r\n     R:      1.228k\xCE\xA9\r\n");
}

// The record table as a workbook, chosen by its name as the Record view's save chooses it.
bool saveWorkbook(const RecordTable& table, const std::string& path, std::string& error) {
    SaveData data;
    data.table = &table;
    return writeDataFile(chooseFileType(SaveView::Record, 2, path), data, path, error);
}

TEST(FileTypes, EachViewChoosesByItsDialogAndTheName) {
    struct Case {
        SaveView view;
        int selected;
        const char* path;
        const char* extension;
    };
    for (const Case& c : {
             Case{SaveView::Realtime, 1, "a.txt", "jpg"}, // the picture type keeps any name
             Case{SaveView::Realtime, 1, "a.PNG", "png"}, // ... and the name picks its encoding
             Case{SaveView::Realtime, 0, "a.bmp", "bmp"},
             Case{SaveView::Realtime, 1, "a.pic", "jpg"},
             Case{SaveView::Realtime, 2, "a.png", "txt"},
             Case{SaveView::Record, 1, "a.xls", "txt"},
             Case{SaveView::Record, 2, "a.xlsx", "xlsx"},
             Case{SaveView::Record, 2, "a.txt", "xls"},
             Case{SaveView::Trend, 1, "a.csv", "csv"}, // the name decides in the Trend view
             Case{SaveView::Trend, 5, "a", "xlsx"},
             Case{SaveView::Trend, 2, "a.SVG", "svg"},
             Case{SaveView::Download, 0, "r.csv", "csv"},
             Case{SaveView::Download, 0, "r.XLS", "xls"},
             Case{SaveView::Download, 0, "r.xlsx", "xlsx"},
             Case{SaveView::Download, 0, "r.data", "txt"},
         }) {
        EXPECT_EQ(chooseFileType(c.view, c.selected, c.path).extension, c.extension) << c.path;
    }
    EXPECT_EQ(preselectedType(SaveView::Realtime, 0).extension, "jpg");
    EXPECT_EQ(preselectedType(SaveView::Realtime, 2).extension, "txt");
    EXPECT_EQ(preselectedType(SaveView::Record, 0).extension, "txt");
    EXPECT_EQ(preselectedType(SaveView::Record, 2).extension, "xls");
    EXPECT_EQ(preselectedType(SaveView::Trend, 3).extension, "svg");
    EXPECT_EQ(dialogFilter(SaveView::Trend),
              "PNG picture (*.png)|*.png|PDF document (*.pdf)|*.pdf|SVG drawing (*.svg)|*.svg|"
              "CSV log (*.csv)|*.csv|Excel workbook (*.xlsx)|*.xlsx|");
    EXPECT_EQ(dialogFilter(SaveView::Log), "CSV log (*.csv)|*.csv|");
    EXPECT_EQ(dialogFilter(SaveView::Download), "");
    for (SaveView view :
         {SaveView::Realtime, SaveView::Record, SaveView::Trend, SaveView::Download}) {
        for (const FileType& type : fileTypes(view)) {
            EXPECT_EQ(type.view, view);
            EXPECT_NE(type.picture(), type.writer != nullptr) << type.extension;
        }
    }
}

class TempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("talviren-export-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        fs::permissions(folder_, fs::perms::owner_all);
        fs::remove_all(folder_);
    }
    static std::string readFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    fs::path folder_;
};

TEST_F(TempFolder, AtomicWriteReplacesAndLeavesNoTemporaryFile) {
    const fs::path target = folder_ / "a.txt";
    std::string error;
    ASSERT_TRUE(writeFileAtomically(target, "old", error)) << error;
    ASSERT_TRUE(writeFileAtomically(target, "new content", error)) << error;
    EXPECT_EQ(readFile(target), "new content");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(TempFolder, FailedWriteKeepsTheOldFileAndSaysWhy) {
    const fs::path target = folder_ / "a.txt";
    std::string error;
    ASSERT_TRUE(writeFileAtomically(target, "old", error));
    fs::permissions(folder_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                 fs::perms::group_exec | fs::perms::others_read |
                                 fs::perms::others_exec);
    fs::permissions(folder_.parent_path(), fs::perms::others_exec, fs::perm_options::add);
    // Root writes into read-only folders: try as an unprivileged user in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        std::string childError;
        const bool written = writeFileAtomically(target, "new", childError);
        const bool named = childError.find("a.txt") != std::string::npos;
        ::_exit(written ? 1 : named ? 0 : 2);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: written anyway, 2: error without the file's name";
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(TempFolder, MissingFolderFailsWithAReason) {
    std::string error;
    EXPECT_FALSE(writeFileAtomically(folder_ / "none" / "a.txt", "x", error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    RecordTable table;
    EXPECT_FALSE(saveWorkbook(table, folder_ / "none" / "a.xls", error));
    EXPECT_FALSE(saveWorkbook(table, folder_ / "none" / "a.xlsx", error));
}

std::vector<std::string> readBack(const fs::path& path) {
    return talviren::testing::readWorkbookBack(path.string());
}

std::vector<std::string> expectedCells(const RecordTable& table) {
    return talviren::testing::expectedWorkbookCells(table);
}

RecordTable downloadedTable(int readings) {
    RecordTable table;
    talviren::testing::showBlock(table, sim::MeterSimulator::makeStoredBlock(readings, 3), readings,
                                 ".");
    return table;
}

TEST_F(TempFolder, WorkbooksReadBackCellForCellCentred) {
    const RecordTable table = downloadedTable(40);
    for (const char* name : {"t.xls", "t.xlsx"}) {
        const fs::path path = folder_ / name;
        std::string error;
        ASSERT_TRUE(saveWorkbook(table, path, error)) << error;
        EXPECT_EQ(readBack(path), expectedCells(table)) << name;
    }
}

TEST_F(TempFolder, XlsIsACompoundFileNotZip) {
    std::string error;
    ASSERT_TRUE(saveWorkbook(RecordTable(), folder_ / "x.xls", error));
    ASSERT_TRUE(saveWorkbook(RecordTable(), folder_ / "x.XLSX", error));
    EXPECT_EQ(readFile(folder_ / "x.xls").substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
    EXPECT_EQ(readFile(folder_ / "x.XLSX").substr(0, 2), "PK");
}

TEST_F(TempFolder, LongAndWideStringsCrossContinueRecords) {
    // Strings longer than a record, wide characters among them, and many unique strings.
    RecordTable table;
    table.setRows(3000);
    std::string longText;
    for (int i = 0; i < 9000; ++i) {
        longText += static_cast<char>('a' + i % 26);
    }
    std::string wideText;
    for (int i = 0; i < 5000; ++i) {
        wideText += "\u03A9";
    }
    table.setCell(0, 0, longText);
    table.setCell(0, 1, wideText);
    for (int r = 1; r < 3000; ++r) {
        table.setCell(r, r % 7, "NO:" + std::to_string(r) + "k\u03A9");
    }
    const fs::path path = folder_ / "long.xls";
    std::string error;
    ASSERT_TRUE(saveWorkbook(table, path, error)) << error;
    EXPECT_EQ(readBack(path), expectedCells(table));
}

TEST_F(TempFolder, LargestTableRoundTripsInBothFormats) {
    const RecordTable table = downloadedTable(25755);
    for (const char* name : {"big.xls", "big.xlsx"}) {
        const fs::path path = folder_ / name;
        std::string error;
        ASSERT_TRUE(saveWorkbook(table, path, error)) << error;
        const auto lines = readBack(path);
        const auto expected = expectedCells(table);
        ASSERT_EQ(lines.size(), expected.size()) << name;
        EXPECT_TRUE(lines == expected) << name;
    }
}

// A study's workbook: a sheet per meter under a name Excel takes, and one for the total, read
// back by openpyxl; a meter called "total" fails the save and leaves no file.
TEST_F(TempFolder, StudyWorkbookHasASheetPerMeterAndTheTotal) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    study::StudyResult result;
    const std::int64_t start = 1'767'622'500'000; // 2026-01-05 14:15 UTC
    for (const char* name : {"L1", "cellar/north?"}) {
        study::MeterStudy meter;
        meter.name = name;
        study::Interval measured;
        measured.startMs = start;
        measured.measuredS = 900;
        measured.coverage = 1;
        measured.current = 12.5;
        study::Interval empty; // nothing measured: its means stay empty cells
        empty.startMs = start + 900'000;
        empty.overloads = 2;
        meter.intervals = {measured, empty};
        result.meters.push_back(meter);
    }
    result.total = study::TotalStudy{};
    result.total->intervals = {{start, 5750.5, 5463}};
    const std::string path = (folder_ / "study.xlsx").string();
    std::string error;
    ASSERT_TRUE(writeStudyWorkbook(result, path, error)) << error;
    const std::vector<std::string> cells = talviren::testing::commandLines(
        "/usr/bin/python3 -c \"import openpyxl,sys\n"
        "for s in openpyxl.load_workbook(sys.argv[1]).worksheets:\n"
        "  for r in s.iter_rows(values_only=True): print(s.title, *['' if v is None else v for v "
        "in r], sep='|')\" '" +
        path + "'");
    const std::vector<std::string> expected = {
        "L1|start|measured_s|coverage|current_a|max_current_a|apparent_power_va|power_w|"
        "power_coverage|energy_vah|energy_wh|overloads",
        "L1|2026-01-05 14:15:00|900|1|12.5||||0|||0",
        "L1|2026-01-05 14:30:00|0|0|||||0|||2",
        "cellar_north_|start|measured_s|coverage|current_a|max_current_a|apparent_power_va|"
        "power_w|power_coverage|energy_vah|energy_wh|overloads",
        "cellar_north_|2026-01-05 14:15:00|900|1|12.5||||0|||0",
        "cellar_north_|2026-01-05 14:30:00|0|0|||||0|||2",
        "total|start|apparent_power_va|power_w",
        "total|2026-01-05 14:15:00|5750.5|5463"};
    EXPECT_EQ(cells, expected);

    result.meters[1].name = "total";
    EXPECT_FALSE(writeStudyWorkbook(result, (folder_ / "taken.xlsx").string(), error));
    EXPECT_NE(error.find("taken.xlsx"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(folder_ / "taken.xlsx"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), {}), 1) << "no temporary file left";
    ::unsetenv("TZ");
    ::tzset();
}

} // namespace
