#include "log/TriggeredLog.h"

namespace talviren {

bool TriggeredLog::reading(const TimedReading& reading) {
    if (state_ == State::Ending && !withinDuration(reading.steadyNs - stoppedNs_, afterNs_)) {
        state_ = State::Waiting;
    }
    if (state_ != State::Waiting) {
        return writer_.append(reading);
    }
    kept_.push_back(reading);
    while (!withinDuration(reading.steadyNs - kept_.front().steadyNs, beforeNs_)) {
        kept_.pop_front();
    }
    return true;
}

bool TriggeredLog::start(std::int64_t steadyNs) {
    bool ok = true;
    if (state_ == State::Waiting) {
        for (const TimedReading& kept : kept_) {
            if (withinDuration(steadyNs - kept.steadyNs, beforeNs_)) {
                ok = ok && writer_.append(kept);
            }
        }
        kept_.clear();
    }
    state_ = State::On;
    return ok;
}

void TriggeredLog::stop(std::int64_t steadyNs) {
    if (state_ == State::On) {
        state_ = State::Ending;
        stoppedNs_ = steadyNs;
    }
}

} // namespace talviren
