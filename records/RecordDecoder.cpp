#include "records/RecordDecoder.h"

namespace talviren {

int decodableReadings(std::span<const std::uint8_t> block, int recordCount) {
    const std::size_t complete = block.size() / kReadingSize;
    if (recordCount <= 0) {
        return 0;
    }
    return static_cast<std::size_t>(recordCount) < complete ? recordCount
                                                            : static_cast<int>(complete);
}

MeterReading storedReading(std::span<const std::uint8_t> block, int n) {
    return *MeterReading::fromBytes(
        block.subspan(static_cast<std::size_t>(n - 1) * kReadingSize, kReadingSize));
}

std::vector<DecodedReading> decodeStoredReadings(std::span<const std::uint8_t> block,
                                                 int recordCount,
                                                 std::string_view decimalSeparator) {
    // The receive side reports the block only once all announced bytes are there, but a
    // short block must never be read past its end: only its complete readings count.
    const int readings = decodableReadings(block, recordCount);
    std::vector<DecodedReading> decoded;
    decoded.reserve(static_cast<std::size_t>(readings));
    for (int n = 1; n <= readings; ++n) {
        decoded.push_back(decodeReading(storedReading(block, n), decimalSeparator));
    }
    return decoded;
}

RecordBlockResult ShowRecordBlock(RecordTable& table, int recordCount,
                                  const std::vector<DecodedReading>& readings) {
    RecordBlockResult result;
    if (recordCount == 0) {
        table.ResetRecordTable();
        return result;
    }
    RecordTable::Batch batch(table);
    table.setRows(2 * (recordCount < 0 ? 0 : recordCount));
    int n = 0;
    for (const DecodedReading& reading : readings) {
        ++n;
        result.lastFunction = reading.raw.function;
        table.ShowRecordHeading(n, reading.raw.function);
        const int valueRow = 2 * n - 1;
        if (reading.current) {
            table.setCell(valueRow, 1, reading.current->text);
        }
        if (reading.second) {
            table.setCell(valueRow, 2, reading.second->text);
        }
    }
    result.decoded = n;
    return result;
}

} // namespace talviren
