#pragma once

#include "records/RecordDecoder.h"

namespace talviren::testing {

// A downloaded block into the table, decoded as the engine decodes it.
inline RecordBlockResult showBlock(RecordTable& table, std::span<const std::uint8_t> block,
                                   int recordCount, std::string_view decimalSeparator) {
    return ShowRecordBlock(table, recordCount,
                           decodeStoredReadings(block, recordCount, decimalSeparator));
}

} // namespace talviren::testing
