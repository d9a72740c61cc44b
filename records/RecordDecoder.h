#pragma once

#include "measure/MeterReading.h"
#include "measure/Reading.h"
#include "records/RecordTable.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace talviren {

// What decoding a record block did.
struct RecordBlockResult {
    int decoded = 0;                          // complete readings written to the table
    std::optional<std::uint8_t> lastFunction; // function code of the last reading decoded
};

// How many readings of a block announced with recordCount can be decoded: the complete ones it
// holds, at most recordCount. A short block is never read past its end.
int decodableReadings(std::span<const std::uint8_t> block, int recordCount);

// Reading n (counted from 1) of a block; n within decodableReadings.
MeterReading storedReading(std::span<const std::uint8_t> block, int n);

// The complete readings of a block, each decoded once into texts and numbers.
std::vector<DecodedReading> decodeStoredReadings(std::span<const std::uint8_t> block,
                                                 int recordCount,
                                                 std::string_view decimalSeparator);

// Fills the table from the decoded readings of a block that announced recordCount:
// 2 * recordCount rows, a heading row and a value row per reading. Cells that a reading's codes
// do not cover keep what they held; rows of readings the block did not hold stay as they are.
// A meter that stores nothing (recordCount 0) leaves the table laid out empty.
RecordBlockResult ShowRecordBlock(RecordTable& table, int recordCount,
                                  const std::vector<DecodedReading>& readings);

} // namespace talviren
