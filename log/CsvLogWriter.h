#pragma once

#include "measure/Reading.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace talviren {

// Appends live readings to a CSV log (export/CsvLog.h) so that a crash or a power cut costs
// at most the last second: one write per line on an append-only descriptor, and the data
// forced to the disk at most once a second by syncIfDue, which the owner calls from a timer
// (every 100 ms, say) so that a slow disk never holds up the reading that is being logged.
// A failure (disk full, file removed, no permission) stops the writer with one error that
// names the file and the system's reason; the lines written before stay intact.
class CsvLogWriter {
public:
    static constexpr std::int64_t kSyncIntervalNs = 1'000'000'000;

    explicit CsvLogWriter(std::string path);
    ~CsvLogWriter(); // syncs and closes
    CsvLogWriter(const CsvLogWriter&) = delete;
    CsvLogWriter& operator=(const CsvLogWriter&) = delete;

    // Opens or creates the file for appending: the header when it is new or empty, a line
    // break first when it ends in a partial line. False with error() set.
    bool open();
    // Appends one reading's line; false (with error() set once) when the writer has failed.
    bool append(const TimedReading& reading);
    // Forces written lines to the disk unless the last sync is less than a second old (nowNs
    // on the steady clock); also notices a file that was removed. False once failed.
    bool syncIfDue(std::int64_t nowNs);
    // Syncs what is pending and closes the file.
    void close();

    bool isOpen() const { return fd_ >= 0; }
    // True once a write failed; nothing more is written.
    bool failed() const { return failed_; }
    // What went wrong, naming the file and the system's reason.
    const std::string& error() const { return error_; }
    const std::string& path() const { return path_; }
    // Reading lines written since open (the header and repairs not counted).
    std::int64_t linesWritten() const { return lines_; }

private:
    // Appends one whole line ending in "\n".
    bool appendLine(std::string_view line);
    bool fail(const std::string& what, int error);
    bool writeAll(std::string_view bytes);
    bool sync(std::int64_t nowNs);

    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
    bool pending_ = false; // written, not yet synced
    std::int64_t lastSyncNs_ = 0;
    bool everSynced_ = false;
    std::int64_t lines_ = 0;
    std::string error_;
};

} // namespace talviren
