#pragma once

#include "log/CsvLogReader.h"
#include "log/CsvLogWriter.h"
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
    // The log stopped after a failure; `error` names the file and the system's reason. The
    // lines written before stay as they are.
    virtual void logFailed(const std::string& /*error*/) {}
    // A log was opened, or closed (also after a failure).
    virtual void logChanged(bool /*open*/) {}
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

    // Appends every live reading to the CSV log at `path` from now on; false with `error` when
    // the file cannot be opened.
    bool startLog(const std::string& path, std::string& error);
    // Syncs and closes the log.
    void stopLog();
    // The log being written, or none.
    const CsvLogWriter* log() const { return log_.get(); }
    // Forces the log to the disk unless the last sync is less than a second old (nowNs on the
    // steady clock); the owner calls it from a timer, so that a slow disk never holds up a
    // reading.
    void syncLog(std::int64_t nowNs);

    // Registers a listener; it must stay until removed.
    void addListener(RecordingListener* listener);
    void removeListener(RecordingListener* listener);

private:
    void logFailed();
    // The power tally takes the reading the history took last.
    void tallyPower(const MeterReading& reading);
    template <typename Call> void tell(Call call);

    TrendHistory history_;
    ReadingStatistics statistics_;
    PowerTally power_;
    std::unique_ptr<CsvLogWriter> log_;
    std::vector<RecordingListener*> listeners_;
    std::uint64_t liveCount_ = 0;
};

} // namespace talviren
