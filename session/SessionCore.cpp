#include "session/SessionCore.h"

#include "records/RecordDecoder.h"

namespace talviren {

SessionCore::SessionCore(MeterLink& link) : link_(link) {
    link_.setEvents(this);
}

SessionCore::~SessionCore() {
    link_.setEvents(nullptr);
}

void SessionCore::setPolling(Polling polling) {
    if (polling != Polling::Live && link_.polling() == Polling::Live) {
        recording_.markBreak(); // no line across a pause in live readings
    }
    link_.setPolling(polling);
}

void SessionCore::stateChanged(LinkState state) {
    consumers_.stateChanged(state);
}

void SessionCore::portTried(const PortAttempt& attempt) {
    consumers_.portTried(attempt);
}

void SessionCore::linkCameUp(const LinkUp& up) {
    consumers_.linkCameUp(up);
}

void SessionCore::linkLost(const LinkLoss& loss) {
    if (loss.wasUp) {
        recording_.markBreak();
    }
    consumers_.linkLost(loss);
}

void SessionCore::liveReading(const TimedReading& reading) {
    recording_.add(reading);
    consumers_.liveReading(reading);
}

void SessionCore::recordCount(int count) {
    consumers_.recordCount(count);
}

void SessionCore::downloadProgress(const DownloadProgress& progress) {
    consumers_.downloadProgress(progress);
}

void SessionCore::downloadEnded(const DownloadResult& result) {
    if (result.completed) {
        ShowRecordBlock(table_, result.recordCount, result.readings);
    }
    consumers_.downloadEnded(result);
}

} // namespace talviren
