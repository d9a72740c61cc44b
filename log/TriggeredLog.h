#pragma once

#include "log/DurableLog.h"

#include <cstdint>
#include <deque>

namespace talviren {

// A CSV log that takes readings only around an event: while it is on, plus the readings of a
// stretch before it began (kept in memory until then) and of a stretch after it ended. Times on
// the readings' steady clock, within the tolerance of measure/Reading.h. Plain C++ over the log's
// writer, which the owner opens and syncs.
class TriggeredLog {
public:
    TriggeredLog(DurableLog& log, std::int64_t beforeNs, std::int64_t afterNs)
        : log_(log), beforeNs_(beforeNs), afterNs_(afterNs) {}

    // A live reading: logged, or kept for a later start.
    void reading(const TimedReading& reading);
    // The event began at `steadyNs`: the readings kept from the stretch before go out first, in
    // order.
    void start(std::int64_t steadyNs);
    // The event ended at `steadyNs`: readings go on for the stretch after it.
    void stop(std::int64_t steadyNs);

    // Readings kept in memory now.
    std::size_t kept() const { return kept_.size(); }

private:
    enum class State { Waiting, On, Ending };

    DurableLog& log_;
    std::int64_t beforeNs_;
    std::int64_t afterNs_;
    State state_ = State::Waiting;
    std::int64_t stoppedNs_ = 0; // when the event ended
    std::deque<TimedReading> kept_;
};

} // namespace talviren
