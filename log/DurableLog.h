#pragma once

#include "log/CsvLogWriter.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace talviren {

// What a durable log tells as it goes.
struct DurableLogEvents {
    // The log fell behind: readings wait in memory. `reason` names the file and the system's
    // reason ("cannot write /var/log/x.csv: No space left on device").
    std::function<void(const std::string& reason)> fellBehind;
    // Every reading that waited is written, `late` of them; `dropped` did not wait long enough.
    std::function<void(std::uint64_t late, std::uint64_t dropped)> caughtUp;
    // More readings wait than are kept: from now on the oldest go (told once while behind).
    std::function<void(std::size_t kept)> dropping;
    // A file was started: a new name, a rotation, or the file removed under us.
    std::function<void(const std::string& path, const std::string& why)> fileStarted;
};

// The CSV log of a long unattended run, which falls behind instead of ending. Every line goes
// to its file once and whole, in order:
// - A write that fails (a full disk, a removed folder, an I/O error), or too little free space
//   on the file's file system, makes the log fall behind: the lines wait in memory, up to a day
//   of them, past which the oldest go and are counted. The write is tried again every 5 s, and
//   when it works the lines that waited go out first.
// - Lines are counted as written only once they are synced (at most a second after the
//   write): what a failed sync may have lost is cut off the file and written again.
// - A file removed while the log runs is created again with its header.
// - reopen() (SIGHUP, after logrotate moved the file) closes the file and opens its name anew.
// - The name may hold %Y, %m, %d and %H of the local time: each reading goes to the file of its
//   own time, and a new file starts with its header when the name changes.
// Plain C++: the owner calls tick() from a timer and appends from the reading's path, which
// never waits for the disk beyond one write.
class DurableLog {
public:
    struct Settings {
        std::string path;               // may hold %Y, %m, %d, %H
        std::uint64_t minFreeBytes = 0; // below this much free space, writing pauses
        std::size_t maxWaiting = 172'800;
        std::int64_t retryNs = 5'000'000'000;
    };

    explicit DurableLog(Settings settings, DurableLogEvents events = {});
    ~DurableLog(); // syncs and closes
    DurableLog(const DurableLog&) = delete;
    DurableLog& operator=(const DurableLog&) = delete;

    // Opens the file of `wallMs` (a name without fields: the one file). False, with `error`,
    // when it cannot be opened: a wrong path rather than a fault.
    bool open(std::int64_t wallMs, std::string& error);
    // A reading's line: written, or waiting.
    void append(const TimedReading& reading);
    // From a timer (every 100 ms, say), on the steady clock: syncs at most once a second, and
    // while behind tries again every retryNs.
    void tick(std::int64_t nowNs);
    // Closes the file and opens its name anew (a rotation moved it); what waits goes there.
    void reopen(std::int64_t nowNs);
    // Syncs and closes; what still waits is lost (and counted in waiting()).
    void close();

    const std::string& pathTemplate() const { return settings_.path; }
    // The file written now (the last one opened).
    const std::string& path() const { return path_; }
    bool behind() const { return behind_; }
    // Readings waiting in memory, and those dropped since the start.
    std::size_t waiting() const { return waiting_.size(); }
    std::uint64_t dropped() const { return dropped_; }
    // Why the log is behind; empty while it is not.
    const std::string& error() const { return error_; }
    // Lines on the disk since the start (across files): written and synced.
    std::int64_t linesSynced() const { return linesWritten_; }
    // Lines written since the start (across files), the last second's among them.
    std::int64_t linesWritten() const {
        return linesWritten_ + static_cast<std::int64_t>(unsynced_.size());
    }

private:
    struct Line {
        std::int64_t wallMs;
        std::string text;
    };

    // The file name for a reading of `wallMs`.
    const std::string& nameFor(std::int64_t wallMs);
    // Makes the writer the one of file `name`, the old file synced first.
    bool writerFor(const std::string& name);
    bool openFile(const std::string& name, const char* why);
    // Writes lines of one file in one go; they are unsynced until the next sync.
    bool write(std::vector<Line>& lines);
    // Syncs what is written: counted once on the disk, else waiting again.
    bool sync();
    // Writes a batch of what waits, oldest first.
    void catchUp();
    // Whether the file system has the space the settings want; falls behind if not.
    bool enoughSpace();
    void fallBehind(const std::string& reason);
    void wait(Line line);
    // Lines back to the front of the queue, in their order.
    void waitAgain(std::vector<Line>& lines);

    Settings settings_;
    DurableLogEvents events_;
    bool fields_ = false; // the name holds time fields
    std::int64_t nameMinute_ = -1;
    std::string name_; // the name of nameMinute_
    std::string path_;
    std::unique_ptr<CsvLogWriter> writer_;
    std::vector<Line> unsynced_; // written since the last sync: written again if it fails
    std::deque<Line> waiting_;
    bool open_ = false;
    bool behind_ = false;
    bool catchingUp_ = false; // the last try worked: a batch every tick until nothing waits
    std::uint64_t dropped_ = 0;
    std::uint64_t droppedBehind_ = 0; // while behind this time
    std::uint64_t late_ = 0;          // written late this time
    std::string error_;
    std::int64_t linesWritten_ = 0;
    std::int64_t lastSyncNs_ = 0;
    std::int64_t lastTryNs_ = 0;
    std::int64_t lastWallMs_ = 0; // of the latest line
    std::int64_t nowNs_ = 0;      // the latest tick's time
};

} // namespace talviren
