#include "link/MeterLink.h"

#include "link/Protocol.h"
#include "records/RecordDecoder.h"

#include <algorithm>

namespace talviren {

using namespace protocol;

MeterLink::MeterLink(SerialPort& port, LinkTimers timers) : port_(port), timers_(timers) {
    port_.setDataHandler([this] { MSComm1_OnComm(); });
    timers_.Findcomtim.setTickHandler([this] { Findcomtim_Timer(); });
    timers_.comtim.setTickHandler([this] { comtim_Timer(); });
    timers_.comcontim.setTickHandler([this] { comcontim_Timer(); });
    timers_.readtim.setTickHandler([this] { readtim_Timer(); });
}

void MeterLink::enter(LinkState state) {
    if (state_ != state) {
        state_ = state;
        if (events_) {
            events_->stateChanged(state);
        }
    }
}

void MeterLink::startUp() {
    scanPort_ = onlyPort_ > 0 ? onlyPort_ : 1;
    timers_.readtim.setEnabled(false);
    timers_.Findcomtim.setEnabled(true);
    enter(LinkState::Scanning); // start-up: the search begins
    if (promptStart_) {
        Findcomtim_Timer();
    }
}

void MeterLink::shutDown() {
    for (Timer* timer :
         {&timers_.Findcomtim, &timers_.comtim, &timers_.comcontim, &timers_.readtim}) {
        timer->setEnabled(false);
    }
    if (port_.isOpen()) {
        port_.close();
    }
    enter(LinkState::Stopped); // the program is ending
}

void MeterLink::SendCommand(std::int16_t code) {
    if (!port_.isOpen()) {
        return;
    }
    switch (code) {
    case kHandshake:
        receiveThreshold_ = kHandshakeReplySize;
        break;
    case kCountRequest:
        timers_.comtim.setEnabled(false);
        // A new count request supersedes a block request still waiting for its tick: that
        // request would go out with the old count and read the new count reply as a block.
        timers_.readtim.setEnabled(false);
        receiveThreshold_ = kCountReplySize;
        break;
    case kRealtimeRequest:
        receiveThreshold_ = kRealtimeReplySize;
        break;
    default: // the block request keeps the threshold the count reply armed
        break;
    }
    lastCommand_ = code;
    awaitingReply_ = true;
    blockBytesSeen_ = 0;
    // Stale bytes of earlier replies go before the command does: a meter can answer within a
    // millisecond, and a reply emptied away after the write would be lost with the link.
    port_.discardInput();
    const std::uint8_t byte = static_cast<std::uint8_t>(code);
    port_.write(std::span(&byte, 1));
    port_.discardOutput();
}

void MeterLink::MSComm1_OnComm() {
    if (!port_.isOpen()) {
        return;
    }
    const std::size_t waiting = port_.bytesWaiting();
    if (receiveThreshold_ > 0 && waiting >= static_cast<std::size_t>(receiveThreshold_)) {
        onReceive();
        return;
    }
    // A long record block takes minutes at 9600 baud: while it streams in, every new byte
    // is link activity, so the watchdog only fires when the line really falls silent.
    if (state_ == LinkState::BlockPending && waiting > blockBytesSeen_) {
        blockBytesSeen_ = waiting;
        rxIdleTicks_ = 0;
        progress(static_cast<int>(waiting));
    }
}

void MeterLink::onReceive() {
    awaitingReply_ = false;
    rxBuffer_ = port_.readAll();
    port_.discardInput();
    port_.discardOutput();
    rxIdleTicks_ = 0;

    if (state_ == LinkState::Scanning && lastCommand_ == kHandshake) {
        if (isHandshakeReply(rxBuffer_)) {
            enter(LinkState::Answered); // the meter answered the handshake
            if (events_) {
                events_->linkCameUp({openedPort_, port_.lastOpenDetail().devicePath});
            }
            if (promptStart_) {
                handOver();
            }
        }
    } else if (lastCommand_ == kCountRequest) {
        // Only a download reads a count reply. A count request sent during the search (a
        // "Read" then) goes to a port that has not answered, and the next scan step handshakes
        // again; after a count of 0 the download is over and polling has taken over, so what
        // comes before the next poll answers nothing and only feeds the watchdog.
        if (downloading(state_)) {
            onCountReply();
        }
    } else if (lastCommand_ == kBlockRequest) {
        onRecordBlock();
        receiveThreshold_ = kHandshakeReplySize;
    } else if (lastCommand_ == kRealtimeRequest) {
        OnRealtimeReply();
    }
    if (state_ == LinkState::ReadWaiting) {
        sendCountRequest(); // the reply the download waited for is in
    }
}

void MeterLink::onCountReply() {
    const auto count = decodeCountReply(rxBuffer_);
    if (!count) {
        // Wrong markers: the download stalls until the watchdog gives the link up.
        timers_.readtim.setEnabled(false);
        receiveThreshold_ = kCountReplySize;
        if (state_ != LinkState::Stalled) {
            enter(LinkState::Stalled); // no count: nothing more is sent
            endDownload({});
        }
        return;
    }
    recordCount_ = *count;
    if (events_) {
        events_->recordCount(recordCount_);
    }
    if (recordCount_ == 0) {
        // An empty meter: there is no block to ask for, so go back to polling with the link
        // kept up.
        receiveThreshold_ = kHandshakeReplySize;
        timers_.readtim.setEnabled(false);
        timers_.comtim.setEnabled(true);
        enter(LinkState::Polling); // nothing stored: polling resumes
        endDownload({true, 0, {}});
        return;
    }
    receiveThreshold_ = recordCount_ * static_cast<int>(kReadingSize);
    timers_.readtim.setEnabled(true);
    enter(LinkState::BlockDelay); // the count is in; the block request follows a tick later
    progress(0);
}

void MeterLink::onRecordBlock() {
    // Decoded once: the consumers get texts and numbers alike.
    std::vector<DecodedReading> readings =
        decodeStoredReadings(rxBuffer_, recordCount_, decimalSeparator_);
    timers_.comtim.setEnabled(true);
    if (state_ == LinkState::BlockPending) {
        progress(receiveThreshold_);
    }
    if (linkIsUp(state_)) {
        enter(LinkState::Polling); // the block is in: polling resumes
    }
    // A block whose loss was declared a moment before it came whole is shown all the same.
    endDownload({true, recordCount_, std::move(readings)});
}

void MeterLink::OnRealtimeReply() {
    // A reply shorter than a reading is ignored whole, function code included.
    const auto raw = MeterReading::fromBytes(rxBuffer_);
    if (!raw) {
        return;
    }
    TimedReading reading;
    static_cast<DecodedReading&>(reading) = decodeReading(*raw, decimalSeparator_);
    reading.wallMs = clock_->wallMs();
    reading.steadyNs = clock_->steadyNs();
    if (events_) {
        events_->liveReading(reading);
    }
}

void MeterLink::comopen(std::int16_t port) {
    awaitingReply_ = false;
    if (port_.isOpen()) {
        port_.close();
    }
    PortAttempt attempt;
    attempt.port = port;
    attempt.result = port_.open(port);
    attempt.detail = port_.lastOpenDetail();
    openedPort_ = attempt.opened() ? port : 0;
    if (events_) {
        events_->portTried(attempt);
    }
}

void MeterLink::handOver() {
    timers_.Findcomtim.setEnabled(false);
    // A download started right after the meter answered must not be cut short by a
    // keep-alive: polling then resumes when the block is in.
    if (downloading(state_)) {
        return;
    }
    timers_.comtim.setEnabled(true);
    const bool first = state_ == LinkState::Answered;
    enter(LinkState::Polling); // the scan hands the link over to polling
    if (first && promptStart_) {
        comtim_Timer(); // unattended: the first poll now
    }
}

void MeterLink::Findcomtim_Timer() {
    if (linkIsUp(state_)) {
        handOver();
        return;
    }
    const auto next = [](std::int16_t port) {
        return port >= kPortCount ? std::int16_t(1) : static_cast<std::int16_t>(port + 1);
    };
    const auto skipped = [this](std::int16_t port) {
        return std::find(skippedPorts_.begin(), skippedPorts_.end(), port) != skippedPorts_.end();
    };
    // A port another meter holds is never opened: the next one is tried in its place.
    for (int tries = 0; onlyPort_ == 0 && skipped(scanPort_) && tries < kPortCount; ++tries) {
        scanPort_ = next(scanPort_);
    }
    if (onlyPort_ == 0 && skipped(scanPort_)) {
        return; // every port is another meter's
    }
    comopen(scanPort_);
    SendCommand(kHandshake);
    scanPort_ = onlyPort_ > 0 ? onlyPort_ : next(scanPort_);
}

void MeterLink::comtim_Timer() {
    switch (state_) {
    case LinkState::ReadWaiting:
        sendCountRequest(); // the reply the download waited for never came: ask now
        break;
    case LinkState::Answered:
    case LinkState::Polling:
        SendCommand(polling_ == Polling::KeepAlive ? kHandshake : kRealtimeRequest);
        break;
    default: // idle while the link is down; off during a download
        break;
    }
}

void MeterLink::comcontim_Timer() {
    if (rxIdleTicks_ < kWatchdogTicks) {
        ++rxIdleTicks_;
        return;
    }
    rxIdleTicks_ = 0;
    const LinkState before = state_;
    timers_.Findcomtim.setEnabled(true);
    enter(LinkState::Scanning); // five silent ticks: the search starts again
    if (downloading(before) && before != LinkState::Stalled) {
        endDownload({}); // a stalled download was told of when it stalled
    }
    if (events_) {
        events_->linkLost({linkIsUp(before)});
    }
}

void MeterLink::readtim_Timer() {
    timers_.readtim.setEnabled(false);
    if (state_ != LinkState::BlockDelay || !port_.isOpen()) {
        return; // the download it belonged to is over, or the port went with the cable
    }
    SendCommand(kBlockRequest);
    enter(LinkState::BlockPending); // the block request is out
    progress(0);
}

void MeterLink::sendCountRequest() {
    if (!port_.isOpen()) {
        return;
    }
    enter(LinkState::CountPending); // the download begins with the count request
    SendCommand(kCountRequest);
}

bool MeterLink::requestDownload() {
    // A download takes up to three minutes; a second request meanwhile would throw away the
    // bytes received so far and read the rest of the block as the next count reply.
    if (downloading(state_)) {
        return true;
    }
    if (!port_.isOpen()) {
        return false;
    }
    if (state_ == LinkState::Scanning) {
        SendCommand(kCountRequest); // to the port being tried, which has not answered yet
        return false;
    }
    // A reply to the last poll may still be on the wire; were the count request sent now,
    // those bytes would be taken for the count reply and the download would stall. Wait for
    // that reply (at most until the next poll tick) and ask then.
    if (awaitingReply_ && (lastCommand_ == kHandshake || lastCommand_ == kRealtimeRequest)) {
        enter(LinkState::ReadWaiting); // the download waits for the reply in flight
        return true;
    }
    sendCountRequest();
    return true;
}

void MeterLink::Button_read_Click() {
    if (polling_ == Polling::KeepAlive) {
        requestDownload();
    }
}

void MeterLink::endDownload(DownloadResult result) {
    if (events_) {
        events_->downloadEnded(result);
    }
}

void MeterLink::progress(int bytesReceived) {
    if (events_) {
        events_->downloadProgress({bytesReceived, receiveThreshold_});
    }
}

} // namespace talviren
