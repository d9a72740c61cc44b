#pragma once

#include "base/Listeners.h"
#include "log/CsvLogReader.h"
#include "log/DurableLog.h"
#include "power/PowerTally.h"
#include "trend/ReadingStatistics.h"
#include "trend/TrendHistory.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace talviren {

// Hears what a recording takes in.
class RecordingListener {
public:
    virtual ~RecordingListener() = default;
    // A live reading is in the history, the statistics and the log.
    virtual void readingRecorded(const TimedReading& /*reading*/) {}
    // A log was opened, or closed.
    virtual void logChanged(bool /*open*/) {}
    // The log fell behind (readings wait in memory), or caught up again: log()->behind() says
    // which, log()->error() why. The lines written stay as they are.
    virtual void logBehind(bool /*behind*/) {}
    // What the log has to say beside: a new file, readings dropped, catching up ("log caught
    // up: 12 readings written late").
    virtual void logNews(const std::string& /*line*/) {}
};

// The data of one run (or of one log read back): every reading in a history, the statistics,
// apparent power and energy, and the CSV log the live readings go to, with the breaks where the
// link was lost or live readings paused. Plain C++: the window's Trend view shows it,
// talviren-cli logs through it, and whatever else wants the run's readings listens to it.
class Recording {
public:
    // A live reading: into the history, the statistics, the power tally and the log, then to
    // the listeners.
    void add(const TimedReading& reading);
    // A reading of a log read back, with the texts it was logged with.
    void addLogged(std::int64_t wallMs, const MeterReading& reading, std::string_view currentText,
                   std::string_view secondText);
    // Reads a log into this recording (an empty one): every line that can be read.
    LogReadResult load(const std::string& path);
    // Reads several logs into it as one, in time order (a month of daily files).
    LogReadResult load(const std::vector<std::string>& paths);
    // The next reading starts a new line.
    void markBreak() { history_.markBreak(); }

    // The live readings taken so far: while listeners hear of one, its number in the run,
    // counting from 1 (the seq every consumer gives it).
    std::uint64_t liveCount() const { return liveCount_; }

    const TrendHistory& history() const { return history_; }
    const ReadingStatistics& statistics() const { return statistics_; }
    // S over the readings since the start or the last reset, and their energy.
    const PowerTally& power() const { return power_; }
    // Clears the statistics and the energy; the history stays.
    void resetStatistics() {
        statistics_.reset();
        power_.reset();
    }

    // Appends every live reading to the CSV log at `path` (which may hold %Y, %m, %d, %H) from
    // now on; false with `error` when the file cannot be opened. Past that the log never ends
    // by itself: it falls behind and catches up (log/DurableLog.h).
    bool startLog(const std::string& path, std::string& error, std::uint64_t minFreeBytes = 0);
    bool startLog(const std::string& path, std::string& error, std::uint64_t minFreeBytes,
                  std::int64_t wallMs);
    // Syncs and closes the log.
    void stopLog();
    // The log being written, or none.
    const DurableLog* log() const { return log_.get(); }
    DurableLog* log() { return log_.get(); }
    // Whether every live reading goes to the log (the default), or only what its owner
    // appends (a log around an alarm).
    void setLogEveryReading(bool every) { logEveryReading_ = every; }
    // The log's timer (nowNs on the steady clock): syncs once a second, tries again while
    // behind; the owner calls it every 100 ms, so that a slow disk never holds up a reading.
    void tickLog(std::int64_t nowNs);
    // Closes the log's file and opens its name anew (after a rotation moved it).
    void reopenLog(std::int64_t nowNs);

    // Keeps only the newest reading in the history (a run that draws no chart: its memory
    // does not grow); the statistics, power and energy are tallies and count every one.
    void keepLatestOnly() { history_.keepLatestOnly(); }

    // Registers a listener; it must stay until removed.
    void addListener(RecordingListener* listener);
    void removeListener(RecordingListener* listener);

private:
    // The log's events as the listeners hear them.
    DurableLogEvents logEvents();
    // The power tally takes the reading the history took last.
    void tallyPower(const MeterReading& reading);
    template <typename Call> void tell(Call call);

    TrendHistory history_;
    ReadingStatistics statistics_;
    PowerTally power_;
    std::unique_ptr<DurableLog> log_;
    Listeners<RecordingListener> listeners_;
    std::uint64_t liveCount_ = 0;
    bool logEveryReading_ = true;
};

} // namespace talviren
