#pragma once

#include "link/LinkEvents.h"
#include "link/MeterLink.h"
#include "records/RecordTable.h"
#include "trend/Recording.h"

namespace talviren {

// A session without its Qt parts: the engine's events go into the run's recording (live
// readings, breaks at link losses and pauses) and its record table (downloads), then on to
// every consumer. Plain C++, so that the tests run it on a fake port and hand-driven timers.
class SessionCore : public LinkEvents {
public:
    // Takes the engine's events from now on.
    explicit SessionCore(MeterLink& link);
    ~SessionCore() override;
    SessionCore(const SessionCore&) = delete;
    SessionCore& operator=(const SessionCore&) = delete;

    MeterLink& link() { return link_; }
    RecordTable& table() { return table_; }
    const RecordTable& table() const { return table_; }
    Recording& recording() { return recording_; }

    // What polling asks for; leaving live readings breaks the recording's line.
    void setPolling(Polling polling);

    // Registers a consumer of the engine's events; it must stay until removed. It hears of a
    // reading after the recording has it, and of a download after the table shows it.
    void addConsumer(LinkEvents* consumer) { consumers_.addConsumer(consumer); }
    void removeConsumer(LinkEvents* consumer) { consumers_.removeConsumer(consumer); }

    void stateChanged(LinkState state) override;
    void portTried(const PortAttempt& attempt) override;
    void linkCameUp(const LinkUp& up) override;
    void linkLost(const LinkLoss& loss) override;
    void liveReading(const TimedReading& reading) override;
    void recordCount(int count) override;
    void downloadProgress(const DownloadProgress& progress) override;
    void downloadEnded(const DownloadResult& result) override;

private:
    MeterLink& link_;
    RecordTable table_;
    Recording recording_;
    LinkEventFanOut consumers_;
};

} // namespace talviren
