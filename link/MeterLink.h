#pragma once

#include "link/LinkObserver.h"
#include "link/SerialPort.h"
#include "measure/MeterReading.h"
#include "measure/Reading.h"
#include "measure/RealtimeDisplay.h"
#include "records/RecordTable.h"

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

// The link engine: finds the meter on ports 1 to 16, polls it, watches the link and
// downloads the stored readings. Runs on one thread, driven by port data and timer ticks.
class MeterLink {
public:
    static constexpr int kWatchdogTicks = 4; // the fifth silent tick declares the loss
    // kTrendView polls live readings as the Realtime view does.
    enum ViewMode : std::int16_t { kRealtimeView = 1, kRecordView = 2, kTrendView = 3 };

    // Captions of the two status labels.
    static constexpr const char* kPortStatusInitial = "COM status";
    static constexpr const char* kLinkStatusInitial = "unconnected";
    static constexpr const char* kLinkStatusConnected = "Connected";
    static constexpr const char* kLinkStatusLost =
        "\u901A\u4FE1\u5931\u8D25"; // communication failed

    MeterLink(SerialPort& port, LinkTimers timers, RecordTable& table);
    MeterLink(const MeterLink&) = delete;
    MeterLink& operator=(const MeterLink&) = delete;

    void setObserver(LinkObserver* observer) { observer_ = observer; }
    // Where live readings take their times from (the system's clocks unless set).
    void setClock(const ReadingClock* clock) { clock_ = clock ? clock : &systemClock(); }
    // Separator of the quotient texts, from the user's locale.
    void setDecimalSeparator(std::string separator) { decimalSeparator_ = std::move(separator); }
    void setViewMode(std::int16_t mode) { viewMode_ = mode; }
    // Limits the scan to one port (0: all ports 1 to 16).
    void setOnlyPort(std::int16_t port) { onlyPort_ = port; }

    // Start-up: link down, scan from port 1, block timer off, scan timer on.
    void startUp();
    // Closes the port if it is open (the program is ending).
    void shutDown();

    // Puts a command (5, 15, 25 or 35) on the line, arming what its reply needs.
    void SendCommand(std::int16_t code);
    // Port data handler: reports a receive event once the threshold is reached.
    void MSComm1_OnComm();
    // Opens port n and shows the outcome in the port status.
    void comopen(std::int16_t port);
    void Findcomtim_Timer();
    void comtim_Timer();
    void comcontim_Timer();
    void readtim_Timer();
    // "Read": asks for the record count in the Record view.
    void Button_read_Click();

    const std::vector<std::uint8_t>& rxBuffer() const { return rxBuffer_; }
    std::int16_t lastCommand() const { return lastCommand_; }
    bool linkUp() const { return linkUp_; }
    std::int16_t rxIdleTicks() const { return rxIdleTicks_; }
    std::int16_t scanPort() const { return scanPort_; }
    int recordCount() const { return recordCount_; }
    std::uint8_t measureFunction() const { return measureFunction_; }
    std::int16_t viewMode() const { return viewMode_; }
    int receiveThreshold() const { return receiveThreshold_; }
    bool downloadActive() const { return downloadActive_; }
    bool readRequested() const { return readRequested_; }
    const std::string& portStatus() const { return portStatus_; }
    const std::string& linkStatus() const { return linkStatus_; }
    const RealtimeDisplay& display() const { return display_; }
    // The last live reading received.
    const MeterReading& lastReading() const { return lastReading_; }
    // Whether the polling tick asks for live readings in the present view.
    bool pollsLiveReadings() const { return viewMode_ != kRecordView; }

private:
    void onReceive();
    void OnRealtimeReply();
    void onCountReply();
    void onRecordBlock();
    void endDownload(bool completed, std::vector<DecodedReading> readings = {});
    void sendPendingRead();
    void setPortStatus(std::string caption);
    void setLinkStatus(std::string caption);

    SerialPort& port_;
    LinkTimers timers_;
    RecordTable& table_;
    RealtimeDisplay display_;
    MeterReading lastReading_;
    std::int16_t onlyPort_ = 0;
    LinkObserver* observer_ = nullptr;
    const ReadingClock* clock_ = &systemClock();
    std::string decimalSeparator_ = ".";

    std::vector<std::uint8_t> rxBuffer_;
    std::int16_t lastCommand_ = 0;
    bool linkUp_ = false;
    std::int16_t rxIdleTicks_ = 0;
    std::int16_t scanPort_ = 1;
    std::int16_t openedPort_ = 0; // the port the last successful open opened
    int recordCount_ = 0;         // up to 25755, so 32-bit
    std::uint8_t measureFunction_ = 0;
    std::int16_t viewMode_ = kRealtimeView;
    int receiveThreshold_ = 0; // 0 switches receive events off
    bool downloadActive_ = false;
    bool replyOutstanding_ = false; // a command went out and nothing came back yet
    bool readRequested_ = false;    // "Read" waits for the reply in flight
    std::size_t blockBytesSeen_ = 0;
    std::string portStatus_ = kPortStatusInitial;
    std::string linkStatus_ = kLinkStatusInitial;
};

} // namespace talviren
