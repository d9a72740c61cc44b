#pragma once

#include "log/CsvLogWriter.h"

#include <cstdint>
#include <deque>

namespace talviren {

// A CSV log that takes readings only around an event: while it is on, plus the readings of a
// stretch before it began (kept in memory until then) and of a stretch after it ended. Times on
// the readings' steady clock, within the tolerance of measure/Reading.h. Plain C++ over the log's
// writer, which the owner opens and syncs.
class TriggeredLog {
public:
    TriggeredLog(CsvLogWriter& writer, std::int64_t beforeNs, std::int64_t afterNs)
        : writer_(writer), beforeNs_(beforeNs), afterNs_(afterNs) {}

    // A live reading: written, or kept for a later start. False when the writer failed.
    bool reading(const TimedReading& reading);
    // The event began at `steadyNs`: the readings kept from the stretch before go out first, in
    // order.
    bool start(std::int64_t steadyNs);
    // The event ended at `steadyNs`: readings go on for the stretch after it.
    void stop(std::int64_t steadyNs);

    // Readings kept in memory now.
    std::size_t kept() const { return kept_.size(); }

private:
    enum class State { Waiting, On, Ending };

    CsvLogWriter& writer_;
    std::int64_t beforeNs_;
    std::int64_t afterNs_;
    State state_ = State::Waiting;
    std::int64_t stoppedNs_ = 0; // when the event ended
    std::deque<TimedReading> kept_;
};

} // namespace talviren
