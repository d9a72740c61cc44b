#pragma once

#include "link/SerialPort.h"
#include "measure/Reading.h"

#include <string>
#include <vector>

namespace talviren {

// How a record download ended, with the readings it brought.
struct DownloadResult {
    bool completed = false;
    std::vector<DecodedReading> readings; // in block order; empty unless completed
};

// What the link tells the program: the status captions it sets, and the same events as
// structured values. Every call has an empty default, so a consumer takes only what it needs.
class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    // The port status caption changed; detail names the device and why an open failed.
    virtual void portStatusChanged(const std::string& /*caption*/, const PortDetail& /*detail*/) {}
    // The scan tried port n: whether it opened, the device and the system's reason if not.
    virtual void portTried(int /*port*/, bool /*opened*/, const PortDetail& /*detail*/) {}
    // The link status caption changed.
    virtual void linkStatusChanged(const std::string& /*caption*/) {}
    // The meter answered the handshake on port n (its device path beside it).
    virtual void linkCameUp(int /*port*/, const std::string& /*devicePath*/) {}
    // The watchdog declared the link lost.
    virtual void linkLost() {}
    // A live reading changed the realtime captions.
    virtual void realtimeChanged() {}
    // A live reading arrived, whether or not it changed a caption.
    virtual void liveReading(const TimedReading& /*reading*/) {}
    // A record download is under way: bytes of the block received so far of those expected.
    virtual void downloadProgress(int /*bytesReceived*/, int /*bytesExpected*/) {}
    // The record download ended, complete or not.
    virtual void downloadEnded(const DownloadResult& /*result*/) {}
};

// Hands every event on to any number of consumers, in the order they were added. A consumer
// may add or remove consumers (itself included) while an event is handed out.
class LinkEventFanOut : public LinkObserver {
public:
    // Adds a consumer; adding one twice has no effect.
    void addConsumer(LinkObserver* consumer);
    // Removes a consumer; it hears nothing more, not even the rest of the current event.
    void removeConsumer(LinkObserver* consumer);
    // Number of consumers.
    std::size_t consumerCount() const { return consumers_.size(); }

    void portStatusChanged(const std::string& caption, const PortDetail& detail) override;
    void portTried(int port, bool opened, const PortDetail& detail) override;
    void linkStatusChanged(const std::string& caption) override;
    void linkCameUp(int port, const std::string& devicePath) override;
    void linkLost() override;
    void realtimeChanged() override;
    void liveReading(const TimedReading& reading) override;
    void downloadProgress(int bytesReceived, int bytesExpected) override;
    void downloadEnded(const DownloadResult& result) override;

private:
    template <typename Call> void each(Call call);

    std::vector<LinkObserver*> consumers_;
};

} // namespace talviren
