#pragma once

#include "measure/MeterReading.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace talviren {

// Takes the readings of a log as they are read.
class LogReadingSink {
public:
    virtual ~LogReadingSink() = default;
    // One reading: its time, the meter's counts that give its texts, and the texts as logged.
    virtual void reading(std::int64_t wallMs, const MeterReading& reading,
                         std::string_view currentText, std::string_view secondText) = 0;
};

// How reading a log went.
struct LogReadResult {
    bool isLog = false;          // false: the file cannot be read, or is no log (see error)
    std::string error;           // why, naming the file
    std::int64_t readings = 0;   // readings read (and handed on)
    std::int64_t skipped = 0;    // lines that could not be read
    std::int64_t duplicates = 0; // readings that stood twice, handed on once
    bool cancelled = false;      // given up when asked
};

// Reads a CSV log as talviren-cli watch and the window write it (export/CsvLog.h). Every line
// is checked whole: its time, the function code, names and texts that the meter could have
// shown, and numbers that agree with the texts; a line that fails is skipped and counted.
// A file whose first line is not the log's header is no log at all. The power columns a
// Trend save adds after the log's (apparent_power_va, power_w) are allowed and not read: power
// always comes from the quantities.
// A power cut can leave a log with a torn last line and a tail of NUL bytes: the NUL bytes are
// no lines, the torn line is skipped and counted.
LogReadResult readCsvLog(const std::string& path, LogReadingSink& sink);

// Several logs as one (a month of daily files, plain or gzip-compressed: log/LogFile.h): their
// readings in time order, whatever order the files are given in and however they overlap; a
// reading that stands twice (the same time and fields, as when a day is given both plain and
// compressed) is handed on once and counted. No log at all when one of them is none, or cannot
// be read whole (the error names it): the caller drops what it was handed.
// `fileRead` hears of each file read (its number in time order); false gives up (the result is
// then no log, and cancelled).
LogReadResult readCsvLogs(const std::vector<std::string>& paths, LogReadingSink& sink,
                          const std::function<bool(std::size_t)>& fileRead = {});

// Of several logs, those that may hold readings from `fromMs` to `toMs`, judged by their first
// readings alone (read from their first lines): the last one that begins before the span and
// every one that begins within it. A file that cannot be read is kept, to be refused later.
std::vector<std::string> logsCovering(const std::vector<std::string>& paths, std::int64_t fromMs,
                                      std::int64_t toMs);

// The same over text already in memory (for tests and benchmarks).
LogReadResult readCsvLogText(std::string_view text, LogReadingSink& sink);

} // namespace talviren
