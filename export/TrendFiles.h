#pragma once

#include "measure/ReadingSequence.h"

#include <cstddef>
#include <string>

namespace talviren {

// Most readings one worksheet holds: 1,048,576 rows, less the header row.
inline constexpr std::size_t kReadingsPerSheet = 1'048'575;

// The readings as a CSV log (export/CsvLog.h), written whole or not at all.
bool writeReadingsCsv(const ReadingSequence& readings, const std::string& path, std::string& error,
                      const WriteProgress& progress = {});

// The readings as an Office Open XML workbook: a frozen header row, then a row per reading with
// the local time as a date-time cell, function, names and texts as text and both values as
// numbers in A, V or Ω. Past rowsPerSheet readings the rows continue on a further sheet, with
// the header again. Written whole or not at all.
bool writeReadingsWorkbook(const ReadingSequence& readings, const std::string& path,
                           std::string& error, const WriteProgress& progress = {},
                           std::size_t rowsPerSheet = kReadingsPerSheet);

} // namespace talviren
