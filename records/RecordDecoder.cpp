#include "records/RecordDecoder.h"

#include "measure/ValueText.h"

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

RecordBlockResult ShowRecordBlock(RecordTable& table, std::span<const std::uint8_t> block,
                                  int recordCount, std::string_view decimalSeparator) {
    RecordBlockResult result;
    RecordTable::Batch batch(table);
    if (recordCount < 0) {
        recordCount = 0;
    }
    table.setRows(2 * recordCount);
    // The receive side reports the block only once all announced bytes are there, but a
    // short block must never be read past its end: decode the complete readings it holds and
    // leave the rows of the missing ones as the table has them.
    const int readings = decodableReadings(block, recordCount);
    for (int n = 1; n <= readings; ++n) {
        const MeterReading reading = storedReading(block, n);
        result.lastFunction = reading.function;
        table.ShowRecordHeading(n, reading.function);
        const int valueRow = 2 * n - 1;
        if (auto text = currentText(reading, decimalSeparator)) {
            table.setCell(valueRow, 1, std::move(*text));
        }
        if (auto text = secondText(reading, decimalSeparator)) {
            table.setCell(valueRow, 2, std::move(*text));
        }
    }
    result.decoded = readings;
    return result;
}

} // namespace talviren
