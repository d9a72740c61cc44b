#pragma once

#include "base/Listeners.h"
#include "link/SerialPort.h"
#include "measure/Reading.h"

#include <cstdint>
#include <string>
#include <vector>

namespace talviren {

// Where the link stands: the one state of the engine.
enum class LinkState : std::uint8_t {
    Stopped,      // before start-up and after shut-down
    Scanning,     // one port tried a tick; no meter has answered the handshake
    Answered,     // the meter answered; polling takes over at the next scan tick
    Polling,      // a live reading or a keep-alive every tick
    ReadWaiting,  // a download waits for the reply to the last poll
    CountPending, // the count request is out
    Stalled,      // the count reply had wrong markers: nothing goes out until the watchdog fires
    BlockDelay,   // the count is in; the block request goes out at the block timer's tick
    BlockPending, // the block request is out and the block streams in
};

// Whether the meter has answered and has not been given up since.
constexpr bool linkIsUp(LinkState state) {
    return state != LinkState::Stopped && state != LinkState::Scanning;
}

// Whether a download has been asked for and has not ended.
constexpr bool downloading(LinkState state) {
    return state == LinkState::ReadWaiting || state == LinkState::CountPending ||
           state == LinkState::Stalled || state == LinkState::BlockDelay ||
           state == LinkState::BlockPending;
}

// What the polling timer asks the meter for while the link is up.
enum class Polling : std::uint8_t {
    Live,      // the present reading
    KeepAlive, // the handshake again, which only keeps the watchdog fed
};

// The scan tried a port.
struct PortAttempt {
    int port = 0;
    OpenResult result = OpenResult::NoSuchPort;
    PortDetail detail; // the device, and the system's reason when it did not open

    bool opened() const { return result == OpenResult::Opened; }
};

// The meter answered the handshake.
struct LinkUp {
    int port = 0;
    std::string devicePath;
};

// The watchdog heard nothing for five ticks and the scan starts again.
struct LinkLoss {
    bool wasUp = false; // false: it fired again while the scan was searching
};

// How far a download has come, in bytes of the record block.
struct DownloadProgress {
    int bytesReceived = 0;
    int bytesExpected = 0;

    int readingsReceived() const { return bytesReceived / static_cast<int>(kReadingSize); }
    int readingsExpected() const { return bytesExpected / static_cast<int>(kReadingSize); }
};

// How a download ended, with the readings it brought.
struct DownloadResult {
    bool completed = false;
    int recordCount = 0;                  // as the meter announced it; 0 for an empty meter
    std::vector<DecodedReading> readings; // in block order; empty unless completed
};

// What the engine tells the program, as values. Every call has an empty default, so a consumer
// takes only what it needs.
class LinkEvents {
public:
    virtual ~LinkEvents() = default;
    // The engine entered a new state.
    virtual void stateChanged(LinkState /*state*/) {}
    // The scan tried a port, whether or not it opened.
    virtual void portTried(const PortAttempt& /*attempt*/) {}
    // The meter answered the handshake.
    virtual void linkCameUp(const LinkUp& /*up*/) {}
    // The watchdog declared the link lost (again, while scanning).
    virtual void linkLost(const LinkLoss& /*loss*/) {}
    // A live reading arrived.
    virtual void liveReading(const TimedReading& /*reading*/) {}
    // The meter announced how many readings it stores.
    virtual void recordCount(int /*count*/) {}
    // Part of the record block is in.
    virtual void downloadProgress(const DownloadProgress& /*progress*/) {}
    // A download ended, complete or not.
    virtual void downloadEnded(const DownloadResult& /*result*/) {}
};

// Hands every event on to any number of consumers, in the order they were added. A consumer
// may add or remove consumers (itself included) while an event is handed out.
class LinkEventFanOut : public LinkEvents {
public:
    // Adds a consumer; adding one twice has no effect.
    void addConsumer(LinkEvents* consumer);
    // Removes a consumer; it hears nothing more, not even the rest of the current event.
    void removeConsumer(LinkEvents* consumer);

    void stateChanged(LinkState state) override;
    void portTried(const PortAttempt& attempt) override;
    void linkCameUp(const LinkUp& up) override;
    void linkLost(const LinkLoss& loss) override;
    void liveReading(const TimedReading& reading) override;
    void recordCount(int count) override;
    void downloadProgress(const DownloadProgress& progress) override;
    void downloadEnded(const DownloadResult& result) override;

private:
    template <typename Call> void each(Call call);

    Listeners<LinkEvents> consumers_;
};

} // namespace talviren
