#pragma once

#include "measure/ReadingSequence.h"
#include "power/PowerFactor.h"
#include "trend/SumPoint.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talviren {

// Most readings one worksheet holds: 1,048,576 rows, less the header row.
inline constexpr std::size_t kReadingsPerSheet = 1'048'575;

// The readings as a CSV log (log/CsvLog.h) with one more column, apparent_power_va (S in VA,
// empty where there is none), and power_w (P = S × PF) when a power factor is given; written
// whole or not at all. The log's reader reads it back.
bool writeReadingsCsv(const ReadingSequence& readings, const std::string& path, std::string& error,
                      const WriteProgress& progress = {},
                      std::optional<PowerFactor> powerFactor = std::nullopt);

// The readings as an Office Open XML workbook: a frozen header row, then a row per reading with
// the local time as a date-time cell, function, names and texts as text and both values as
// numbers in A, V or Ω, then S in VA and, with a power factor, P in W, both as numbers. Past
// rowsPerSheet readings the rows continue on a further sheet, with the header again. Written
// whole or not at all.
bool writeReadingsWorkbook(const ReadingSequence& readings, const std::string& path,
                           std::string& error, const WriteProgress& progress = {},
                           std::optional<PowerFactor> powerFactor = std::nullopt,
                           std::size_t rowsPerSheet = kReadingsPerSheet);

// One meter's readings, for a workbook of several meters.
struct MeterReadings {
    std::string name; // the sheet's name
    const ReadingSequence* readings = nullptr;
    std::optional<PowerFactor> powerFactor;
};

// Several meters in one workbook: a sheet per meter (named by it, as writeReadingsWorkbook
// writes its readings) and, when given, a sheet "total" of the sum over time (time, S, P).
bool writeMetersWorkbook(const std::vector<MeterReadings>& meters,
                         const std::vector<SumPoint>* total, const std::string& path,
                         std::string& error, const WriteProgress& progress = {},
                         std::size_t rowsPerSheet = kReadingsPerSheet);

} // namespace talviren
