#include "RecordBlocks.h"
#include "link/Protocol.h"
#include "measure/Reading.h"
#include "records/RecordDecoder.h"
#include "sim/MeterSimulator.h"

#include <gtest/gtest.h>

#include <set>

using namespace talviren;
using namespace talviren::sim;

namespace {

TEST(MeterSimulator, AnswersEachCommandWithItsReplyLayout) {
    MeterSimulator meter({.function = 2, .records = 123});
    EXPECT_EQ(meter.answer(5, 0), (std::vector<std::uint8_t>{0xD5, 0x55, 0x55}));
    EXPECT_EQ(meter.answer(15, 0), (std::vector<std::uint8_t>{0x05, 0x05, 1, 23}));
    EXPECT_EQ(meter.answer(25, 0).size(), 123u * 7);
    const auto live = meter.answer(35, 3.0);
    ASSERT_EQ(live.size(), 7u);
    EXPECT_EQ(live[0], 2);
    EXPECT_TRUE(meter.answer(99, 0).empty());
}

TEST(MeterSimulator, LiveReadingsDecodeAndCycleFunctions) {
    MeterSimulator meter({});
    std::set<int> functions;
    for (double t = 0; t < 30; t += 0.5) {
        const auto reply = meter.answer(35, t);
        const auto raw = MeterReading::fromBytes(reply);
        ASSERT_TRUE(raw);
        const DecodedReading reading = decodeReading(*raw, ".");
        ASSERT_TRUE(reading.current && reading.second);
        EXPECT_NE(reading.current->text.find('A'), std::string::npos);
        functions.insert(reply[0]);
    }
    EXPECT_EQ(functions, (std::set<int>{1, 2, 3}));
}

TEST(MeterSimulator, StoredReadingsAreRepeatableAndCoverEveryCase) {
    const auto block = MeterSimulator::makeStoredBlock(210, 7);
    EXPECT_EQ(block, MeterSimulator::makeStoredBlock(210, 7));
    EXPECT_NE(block, MeterSimulator::makeStoredBlock(210, 8));
    RecordTable table;
    talviren::testing::showBlock(table, block, 210, ".");
    std::set<std::string> overloads;
    std::set<int> ranges;
    for (int n = 0; n < 210; ++n) {
        ranges.insert(block[static_cast<std::size_t>(n) * 7 + 3]);
        for (int c = 1; c <= 2; ++c) {
            const std::string& text = table.cell(2 * n + 1, c);
            ASSERT_FALSE(text.empty());
            if (text.starts_with("OL")) {
                overloads.insert(text);
            }
        }
    }
    EXPECT_EQ(ranges, (std::set<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(overloads, (std::set<std::string>{"OLA", "OLV", "OLk\u03A9"}));
}

TEST(MeterSimulator, FaultModes) {
    MeterSimulator silent({.silentAfter = 2});
    EXPECT_FALSE(silent.answer(5, 1.9).empty());
    EXPECT_TRUE(silent.answer(5, 2.0).empty());

    MeterSimulator badCount({.records = 3, .badCount = true});
    EXPECT_FALSE(protocol::decodeCountReply(badCount.answer(15, 0)).has_value());

    MeterSimulator cut({.records = 10, .cutBlock = true});
    EXPECT_EQ(cut.answer(25, 0).size(), 35u);

    MeterSimulator garbage({.garbage = true});
    EXPECT_EQ(garbage.answer(35, 0).size(), 7u);
    EXPECT_FALSE(protocol::isHandshakeReply(garbage.answer(5, 0)));

    MeterSimulator toggled({});
    toggled.setSilent(true);
    EXPECT_TRUE(toggled.answer(5, 0).empty());
    toggled.setSilent(false);
    EXPECT_FALSE(toggled.answer(5, 0).empty());
}

} // namespace
