#pragma once

#include "link/LinkEvents.h"
#include "link/MeterLink.h"
#include "meters/Meter.h"
#include "records/RecordTable.h"

namespace talviren {

// A local meter without its Qt parts: the engine's events go into the meter's recording (live
// readings, breaks at link losses and pauses) and its record table (downloads), then on to
// every consumer; the engine is the meter's feed, and the link's state is kept for its tile.
// Plain C++, so that the tests run it on a fake port and hand-driven timers.
class SessionCore : public LinkEvents, private MeterFeed {
public:
    // Takes the engine's events from now on.
    explicit SessionCore(MeterLink& link, const ReadingClock& clock = systemClock());
    ~SessionCore() override;
    SessionCore(const SessionCore&) = delete;
    SessionCore& operator=(const SessionCore&) = delete;

    MeterLink& link() { return link_; }
    Meter& meter() { return meter_; }
    const Meter& meter() const { return meter_; }
    RecordTable& table() { return table_; }
    const RecordTable& table() const { return table_; }
    Recording& recording() { return meter_.recording(); }

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
    LinkStatus linkStatus() const override { return status_; }

    MeterLink& link_;
    const ReadingClock& clock_;
    Meter meter_;
    RecordTable table_;
    LinkEventFanOut consumers_;
    LinkStatus status_; // offline since the search began, until the meter answers
};

} // namespace talviren
