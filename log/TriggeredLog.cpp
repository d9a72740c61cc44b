#include "log/TriggeredLog.h"

namespace talviren {

void TriggeredLog::reading(const TimedReading& reading) {
    if (state_ == State::Ending && !withinDuration(reading.steadyNs - stoppedNs_, afterNs_)) {
        state_ = State::Waiting;
    }
    if (state_ != State::Waiting) {
        log_.append(reading);
        return;
    }
    kept_.push_back(reading);
    while (!withinDuration(reading.steadyNs - kept_.front().steadyNs, beforeNs_)) {
        kept_.pop_front();
    }
}

void TriggeredLog::start(std::int64_t steadyNs) {
    if (state_ == State::Waiting) {
        for (const TimedReading& kept : kept_) {
            if (withinDuration(steadyNs - kept.steadyNs, beforeNs_)) {
                log_.append(kept);
            }
        }
        kept_.clear();
    }
    state_ = State::On;
}

void TriggeredLog::stop(std::int64_t steadyNs) {
    if (state_ == State::On) {
        state_ = State::Ending;
        stoppedNs_ = steadyNs;
    }
}

} // namespace talviren
