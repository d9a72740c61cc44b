#pragma once

#include "link/LinkEvents.h"
#include "link/SerialPort.h"
#include "measure/Reading.h"

#include <cstdint>
#include <string>
#include <vector>

namespace talviren {

// The four timers the link runs on, each ticking every 500 ms.
struct LinkTimers {
    Timer& Findcomtim; // port scan, one port per tick
    Timer& comtim;     // polling: live reading or keep-alive
    Timer& comcontim;  // watchdog
    Timer& readtim;    // one-shot block request after the count reply
};

// The link engine: finds the meter on ports 1 to 16, polls it, watches the link and downloads
// the stored readings. Runs on one thread, driven by port data and timer ticks, and tells what
// happens as events (link/LinkEvents.h); it knows nothing of windows or their texts.
class MeterLink {
public:
    static constexpr int kWatchdogTicks = 4; // the fifth silent tick declares the loss

    MeterLink(SerialPort& port, LinkTimers timers);
    MeterLink(const MeterLink&) = delete;
    MeterLink& operator=(const MeterLink&) = delete;

    // Where the events go (none: nowhere).
    void setEvents(LinkEvents* events) { events_ = events; }
    // Where live readings take their times from (the system's clocks unless set).
    void setClock(const ReadingClock* clock) { clock_ = clock ? clock : &systemClock(); }
    // Separator of the quotient texts, from the user's locale.
    void setDecimalSeparator(std::string separator) { decimalSeparator_ = std::move(separator); }
    // Limits the scan to one port (0: all ports 1 to 16).
    void setOnlyPort(int port) { onlyPort_ = static_cast<std::int16_t>(port); }
    // Ports the scan passes over: other meters hold them.
    void setSkippedPorts(std::vector<int> ports) { skippedPorts_ = std::move(ports); }
    // Unattended use: the first port is tried at start-up, and polling takes over the moment
    // the meter answers instead of at the next scan tick.
    void setPromptStart(bool prompt) { promptStart_ = prompt; }

    // Start-up: link down, scan from port 1, block timer off, scan timer on.
    void startUp();
    // Closes the port and stops every timer: the program is ending.
    void shutDown();
    // What polling asks for while the link is up.
    void setPolling(Polling polling) { polling_ = polling; }
    Polling polling() const { return polling_; }
    // Asks the meter for its stored readings. Ignored while a download runs; with no port open
    // nothing happens. True when a download is under way afterwards.
    bool requestDownload();
    // "Read": a download, while keep-alives are polled (the view of the record table).
    void Button_read_Click();

    LinkState state() const { return state_; }

    // Port data handler: reports a receive event once the threshold is reached.
    void MSComm1_OnComm();

private:
    // Puts a command (5, 15, 25 or 35) on the line, arming what its reply needs.
    void SendCommand(std::int16_t code);
    // Opens port n and tells how it went.
    void comopen(std::int16_t port);
    void Findcomtim_Timer();
    void comtim_Timer();
    void comcontim_Timer();
    void readtim_Timer();

    void onReceive();
    void OnRealtimeReply();
    void onCountReply();
    void onRecordBlock();
    void handOver();
    void sendCountRequest();
    void enter(LinkState state);
    void endDownload(DownloadResult result);
    void progress(int bytesReceived);

    SerialPort& port_;
    LinkTimers timers_;
    LinkEvents* events_ = nullptr;
    const ReadingClock* clock_ = &systemClock();
    std::string decimalSeparator_ = ".";
    std::int16_t onlyPort_ = 0;
    std::vector<int> skippedPorts_;
    bool promptStart_ = false;
    Polling polling_ = Polling::Live;

    LinkState state_ = LinkState::Stopped;
    std::vector<std::uint8_t> rxBuffer_;
    std::int16_t lastCommand_ = 0;
    std::int16_t rxIdleTicks_ = 0;
    std::int16_t scanPort_ = 1;
    std::int16_t openedPort_ = 0; // the port the last successful open opened
    int recordCount_ = 0;         // up to 25755, so 32-bit
    int receiveThreshold_ = 0;    // 0 switches receive events off
    bool awaitingReply_ = false;  // a command went out and nothing came back yet
    std::size_t blockBytesSeen_ = 0;
};

} // namespace talviren
