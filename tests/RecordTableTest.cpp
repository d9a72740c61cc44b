#include "records/RecordTable.h"
#include "RecordBlocks.h"
#include "records/RecordDecoder.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

using namespace talviren;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Row = std::array<const char*, 7>;

void expectRow(const RecordTable& table, int row, const Row& cells) {
    for (int c = 0; c < RecordTable::kColumns; ++c) {
        EXPECT_EQ(table.cell(row, c), cells[static_cast<std::size_t>(c)])
            << "row " << row << " column " << c;
    }
}

TEST(RecordTable, ResetLeavesTwoRowsWithOnlyTheHeading) {
    RecordTable table;
    EXPECT_EQ(table.rows(), 2);
    EXPECT_EQ(table.columns(), 7);
    expectRow(table, 0, {"NO.", "", "", "", "", "", ""});
    expectRow(table, 1, {"", "", "", "", "", "", ""});
    table.setRows(10);
    table.setCell(5, 6, "x");
    table.ResetRecordTable();
    table.ResetRecordTable();
    EXPECT_EQ(table.rows(), 2);
    expectRow(table, 0, {"NO.", "", "", "", "", "", ""});
    expectRow(table, 1, {"", "", "", "", "", "", ""});
}

TEST(RecordTable, HeadingRowsByFunctionCode) {
    RecordTable table;
    table.setRows(24);
    table.setCell(2, 1, "keep1");
    table.setCell(2, 2, "keep2");
    table.ShowRecordHeading(1, 1);
    table.ShowRecordHeading(3, 2);
    table.ShowRecordHeading(12, 3);
    table.ShowRecordHeading(2, 0);
    expectRow(table, 0, {"NO:1", "AC I", "AC U", "", "", "", ""});
    expectRow(table, 4, {"NO:3", "AC I", "DC U", "", "", "", ""});
    expectRow(table, 22, {"NO:12", "AC I", "R", "", "", "", ""});
    expectRow(table, 2, {"NO:2", "keep1", "keep2", "", "", "", ""});
}

TEST(RecordTable, SetRowsKeepsDropsAndAdds) {
    RecordTable table;
    table.setRows(4);
    table.setCell(3, 3, "d");
    table.setRows(3);
    EXPECT_EQ(table.rows(), 3);
    table.setRows(4);
    EXPECT_EQ(table.cell(3, 3), "");
    EXPECT_EQ(table.cell(0, 0), "NO.");
    // outside the table: nothing written, empty text read
    table.setCell(9, 0, "x");
    table.setCell(0, 7, "x");
    EXPECT_EQ(table.cell(9, 0), "");
    EXPECT_EQ(table.cell(-1, 0), "");
}

class CountingListener : public RecordTable::Listener {
public:
    void tableAboutToChange() override { ++begins; }
    void tableChanged() override { ++ends; }
    int begins = 0;
    int ends = 0;
};

TEST(RecordTable, ListenerHearsOncePerBatch) {
    RecordTable table;
    CountingListener listener;
    table.setListener(&listener);
    const Bytes block = {1, 1, 23, 1, 23, 5, 0, 2, 0, 50, 0, 1, 25, 1};
    talviren::testing::showBlock(table, block, 2, ".");
    EXPECT_EQ(listener.begins, 1);
    EXPECT_EQ(listener.ends, 1);
    table.ResetRecordTable();
    EXPECT_EQ(listener.begins, 2);
    EXPECT_EQ(listener.ends, 2);
}

struct BlockCase {
    const char* name;
    Bytes reading;
    int number; // position of the reading in the block
    Row heading;
    Row values;
};

void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.name;
}

class RecordBlockReadings : public ::testing::TestWithParam<BlockCase> {};

TEST_P(RecordBlockReadings, DecodeIntoHeadingAndValueRows) {
    const BlockCase& c = GetParam();
    // Place the reading at its number; the readings before it are of function 1.
    Bytes block;
    for (int n = 1; n < c.number; ++n) {
        block.insert(block.end(), {1, 0, 1, 0, 0, 1, 0});
    }
    block.insert(block.end(), c.reading.begin(), c.reading.end());
    RecordTable table;
    const auto result = talviren::testing::showBlock(table, block, c.number, ".");
    EXPECT_EQ(result.decoded, c.number);
    EXPECT_EQ(result.lastFunction, c.reading[0]);
    ASSERT_EQ(table.rows(), 2 * c.number);
    expectRow(table, 2 * c.number - 2, c.heading);
    expectRow(table, 2 * c.number - 1, c.values);
}

INSTANTIATE_TEST_SUITE_P(StoredReadings, RecordBlockReadings,
                         ::testing::Values(BlockCase{"AcVoltage",
                                                     {0x01, 0x01, 0x17, 0x01, 0x17, 0x05, 0x00},
                                                     1,
                                                     {"NO:1", "AC I", "AC U", "", "", "", ""},
                                                     {"", "1.23A", "230.5V", "", "", "", ""}},
                                           BlockCase{"NegativeDc",
                                                     {0x02, 0x00, 0x32, 0x00, 0x01, 0x19, 0x01},
                                                     3,
                                                     {"NO:3", "AC I", "DC U", "", "", "", ""},
                                                     {"", "50mA", "-12.5V", "", "", "", ""}},
                                           BlockCase{"NegativeZero",
                                                     {0x02, 0x00, 0x00, 0x03, 0x00, 0x00, 0x01},
                                                     1,
                                                     {"NO:1", "AC I", "DC U", "", "", "", ""},
                                                     {"", "0A", "-0V", "", "", "", ""}},
                                           BlockCase{"DcOverloadHasNoSign",
                                                     {0x02, 0x00, 0x05, 0x03, 0x64, 0x01, 0x01},
                                                     1,
                                                     {"NO:1", "AC I", "DC U", "", "", "", ""},
                                                     {"", "5A", "OLV", "", "", "", ""}},
                                           BlockCase{"BothOverloads",
                                                     {0x03, 0x64, 0x01, 0x05, 0x14, 0x01, 0x00},
                                                     2,
                                                     {"NO:2", "AC I", "R", "", "", "", ""},
                                                     {"", "OLA", "OLk\u03A9", "", "", "", ""}},
                                           BlockCase{"ResistanceLimit",
                                                     {0x03, 0x64, 0x00, 0x05, 0x14, 0x00, 0x00},
                                                     1,
                                                     {"NO:1", "AC I", "R", "", "", "", ""},
                                                     {"", "10000A", "2k\u03A9", "", "", "", ""}},
                                           BlockCase{"AcLimitPlusOne",
                                                     {0x01, 0xFF, 0xFF, 0x00, 75, 0x01, 0x00},
                                                     1,
                                                     {"NO:1", "AC I", "AC U", "", "", "", ""},
                                                     {"", "25755mA", "OLV", "", "", "", ""}},
                                           BlockCase{"UnknownFunction",
                                                     {0x04, 0x00, 0x07, 0x04, 0x01, 0x01, 0x00},
                                                     2,
                                                     {"NO:2", "", "", "", "", "", ""},
                                                     {"", "7A", "", "", "", "", ""}},
                                           BlockCase{"RangeSix",
                                                     {0x01, 0x00, 0x07, 0x06, 0x01, 0x01, 0x00},
                                                     1,
                                                     {"NO:1", "AC I", "AC U", "", "", "", ""},
                                                     {"", "", "10.1V", "", "", "", ""}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RecordBlock, SecondDownloadWithoutClearKeepsUnwrittenCells) {
    RecordTable table;
    const Bytes first = {1, 0, 1, 0, 0, 1, 0, 2, 0, 2, 0, 0, 2, 0, 3, 0, 3, 0, 0, 3, 0};
    talviren::testing::showBlock(table, first, 3, ".");
    ASSERT_EQ(table.rows(), 6);
    EXPECT_EQ(table.cell(3, 1), "2mA");
    // The second download has two readings, one with codes that write nothing.
    const Bytes second = {1, 0, 9, 0, 0, 9, 0, 0, 0, 8, 6, 0, 8, 0};
    talviren::testing::showBlock(table, second, 2, ".");
    ASSERT_EQ(table.rows(), 4);
    expectRow(table, 0, {"NO:1", "AC I", "AC U", "", "", "", ""});
    expectRow(table, 1, {"", "9mA", "0.9V", "", "", "", ""});
    expectRow(table, 2, {"NO:2", "AC I", "DC U", "", "", "", ""});
    expectRow(table, 3, {"", "2mA", "0.2V", "", "", "", ""});
    // and grows again, the new rows empty
    talviren::testing::showBlock(table, Bytes{}, 3, ".");
    EXPECT_EQ(table.rows(), 6);
    expectRow(table, 5, {"", "", "", "", "", "", ""});
}

TEST(RecordBlock, ShortBlockDecodesOnlyCompleteReadings) {
    RecordTable table;
    // Three announced, one and a half delivered.
    const Bytes block = {1, 0, 5, 0, 0, 5, 0, 2, 0, 6, 0};
    const auto result = talviren::testing::showBlock(table, block, 3, ".");
    EXPECT_EQ(result.decoded, 1);
    EXPECT_EQ(result.lastFunction, 1);
    EXPECT_EQ(table.rows(), 6);
    expectRow(table, 0, {"NO:1", "AC I", "AC U", "", "", "", ""});
    expectRow(table, 2, {"", "", "", "", "", "", ""});
    expectRow(table, 3, {"", "", "", "", "", "", ""});
}

TEST(RecordBlock, BytesBeyondTheCountAreIgnored) {
    RecordTable table;
    const Bytes block = {1, 0, 5, 0, 0, 5, 0, 2, 0, 6, 0, 0, 6, 0};
    const auto result = talviren::testing::showBlock(table, block, 1, ".");
    EXPECT_EQ(result.decoded, 1);
    EXPECT_EQ(table.rows(), 2);
}

TEST(RecordBlock, LargestCountDecodesEveryReading) {
    constexpr int kCount = 25755;
    Bytes block;
    block.reserve(kCount * 7);
    for (int n = 1; n <= kCount; ++n) {
        block.insert(block.end(), {static_cast<std::uint8_t>(1 + n % 3),
                                   static_cast<std::uint8_t>(n / 100 % 256),
                                   static_cast<std::uint8_t>(n % 100), 0, 0, 1, 0});
    }
    RecordTable table;
    const auto result = talviren::testing::showBlock(table, block, kCount, ",");
    EXPECT_EQ(result.decoded, kCount);
    ASSERT_EQ(table.rows(), 2 * kCount);
    EXPECT_EQ(table.cell(2 * 4682 - 2, 0), "NO:4682"); // beyond any 16-bit offset
    EXPECT_EQ(table.cell(2 * kCount - 2, 0), "NO:25755");
    EXPECT_EQ(table.cell(2 * kCount - 1, 1), std::to_string(25755 / 100 % 256 * 100 + 55) + "mA");
}

} // namespace
