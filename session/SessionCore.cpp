#include "session/SessionCore.h"

#include "records/RecordDecoder.h"

namespace talviren {

SessionCore::SessionCore(MeterLink& link, const ReadingClock& clock)
    : link_(link), clock_(clock), meter_(defaultMeters().front(), clock) {
    status_.problem = LinkStatus::Problem::Offline;
    status_.sinceMs = clock_.wallMs();
    meter_.setFeed(this);
    link_.setEvents(this);
}

SessionCore::~SessionCore() {
    link_.setEvents(nullptr);
    meter_.setFeed(nullptr);
}

void SessionCore::setPolling(Polling polling) {
    if (polling != Polling::Live && link_.polling() == Polling::Live) {
        recording().markBreak(); // no line across a pause in live readings
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
    status_ = {};
    status_.problem = LinkStatus::Problem::None;
    status_.port = up.port;
    meter_.feedChanged();
    consumers_.linkCameUp(up);
}

void SessionCore::linkLost(const LinkLoss& loss) {
    if (loss.wasUp) {
        recording().markBreak();
        status_ = {};
        status_.problem = LinkStatus::Problem::Offline;
        status_.sinceMs = clock_.wallMs();
        meter_.feedChanged();
    }
    consumers_.linkLost(loss);
}

void SessionCore::liveReading(const TimedReading& reading) {
    recording().add(reading);
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
