#pragma once

#include "measure/Reading.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

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

    // Opens or creates the file for appending: the header when it is new or empty. A file
    // that a power cut left with a tail of NUL bytes loses them, and one that ends in a partial
    // line gets a line break first. False with error() set.
    bool open();
    // Appends one reading's line; false (with error() set once) when the writer has failed.
    bool append(const TimedReading& reading);
    // Appends `count` whole lines ("...\n" each) in one write; none of them when it fails.
    bool appendLines(std::string_view lines, std::int64_t count);
    // Forces written lines to the disk unless the last sync is less than a second old (nowNs
    // on the steady clock); also notices a file that was removed. False once failed.
    bool syncIfDue(std::int64_t nowNs);
    // Forces written lines to the disk now. A failed sync cuts the file back to where the last
    // good one left it: the lines since may never have reached the disk, and are written again
    // by whoever kept them.
    bool sync(std::int64_t nowNs);
    // The file was removed (or its folder) while it was written: the writes went nowhere.
    bool removed() const { return removed_; }
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
    // Cuts a tail of NUL bytes, as a power cut leaves where the file's size reached the disk
    // and its data did not. The size left.
    off_t cutNulTail(off_t size);

    std::string path_;
    int fd_ = -1;
    bool failed_ = false;
    bool pending_ = false; // written, not yet synced
    bool removed_ = false;
    off_t syncedSize_ = 0; // the file's size at the last good sync
    std::int64_t lastSyncNs_ = 0;
    bool everSynced_ = false;
    std::int64_t lines_ = 0;
    std::string error_;
};

} // namespace talviren
