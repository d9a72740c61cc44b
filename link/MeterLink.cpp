#include "link/MeterLink.h"

#include "link/Protocol.h"
#include "records/RecordDecoder.h"

namespace talviren {

using namespace protocol;

MeterLink::MeterLink(SerialPort& port, LinkTimers timers, RecordTable& table)
    : port_(port), timers_(timers), table_(table) {
    port_.setDataHandler([this] { MSComm1_OnComm(); });
    timers_.Findcomtim.setTickHandler([this] { Findcomtim_Timer(); });
    timers_.comtim.setTickHandler([this] { comtim_Timer(); });
    timers_.comcontim.setTickHandler([this] { comcontim_Timer(); });
    timers_.readtim.setTickHandler([this] { readtim_Timer(); });
}

void MeterLink::startUp() {
    linkUp_ = false;
    scanPort_ = onlyPort_ > 0 ? onlyPort_ : 1;
    timers_.readtim.setEnabled(false);
    timers_.Findcomtim.setEnabled(true);
}

void MeterLink::shutDown() {
    if (port_.isOpen()) {
        port_.close();
    }
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
    // Any other command while a download is under way means the download was given up
    // (the scan's handshake after "Read" during the search, for instance).
    if (downloadActive_ && code != kBlockRequest) {
        endDownload(false);
    }
    if (code == kCountRequest) {
        downloadActive_ = true;
    }
    lastCommand_ = code;
    replyOutstanding_ = true;
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
    if (lastCommand_ == kBlockRequest && downloadActive_ && waiting > blockBytesSeen_) {
        blockBytesSeen_ = waiting;
        rxIdleTicks_ = 0;
        if (observer_) {
            observer_->downloadProgress(static_cast<int>(waiting), receiveThreshold_);
        }
    }
}

void MeterLink::onReceive() {
    replyOutstanding_ = false;
    rxBuffer_ = port_.readAll();
    port_.discardInput();
    port_.discardOutput();
    rxIdleTicks_ = 0;

    if (!linkUp_ && lastCommand_ == kHandshake) {
        if (isHandshakeReply(rxBuffer_)) {
            setLinkStatus(kLinkStatusConnected);
            linkUp_ = true;
            if (observer_) {
                observer_->linkCameUp(openedPort_, port_.lastOpenDetail().devicePath);
            }
        }
    } else if (lastCommand_ == kCountRequest) {
        onCountReply();
    } else if (lastCommand_ == kBlockRequest) {
        onRecordBlock();
        receiveThreshold_ = kHandshakeReplySize;
    } else if (lastCommand_ == kRealtimeRequest) {
        OnRealtimeReply();
    }
    sendPendingRead();
}

void MeterLink::sendPendingRead() {
    if (readRequested_) {
        readRequested_ = false;
        if (viewMode_ == kRecordView) {
            SendCommand(kCountRequest);
        }
    }
}

void MeterLink::onCountReply() {
    const auto count = decodeCountReply(rxBuffer_);
    if (!count) {
        // Wrong markers: the download stalls until the watchdog gives the link up.
        timers_.readtim.setEnabled(false);
        receiveThreshold_ = kCountReplySize;
        endDownload(false);
        return;
    }
    recordCount_ = *count;
    if (recordCount_ == 0) {
        // An empty meter: there is no block to ask for, so lay the table out empty and
        // go back to polling with the link kept up.
        table_.ResetRecordTable();
        receiveThreshold_ = kHandshakeReplySize;
        timers_.readtim.setEnabled(false);
        timers_.comtim.setEnabled(true);
        endDownload(true);
        return;
    }
    receiveThreshold_ = recordCount_ * static_cast<int>(kReadingSize);
    timers_.readtim.setEnabled(true);
    if (observer_) {
        observer_->downloadProgress(0, receiveThreshold_);
    }
}

void MeterLink::onRecordBlock() {
    // Decoded once: the table shows the texts, the observers get texts and numbers.
    std::vector<DecodedReading> readings =
        decodeStoredReadings(rxBuffer_, recordCount_, decimalSeparator_);
    const auto result = fillRecordTable(table_, recordCount_, readings);
    if (result.lastFunction) {
        measureFunction_ = *result.lastFunction;
    }
    timers_.comtim.setEnabled(true);
    if (downloadActive_ && observer_) {
        observer_->downloadProgress(receiveThreshold_, receiveThreshold_);
    }
    endDownload(true, std::move(readings));
}

void MeterLink::OnRealtimeReply() {
    // A reply shorter than a reading is ignored whole, function code included.
    if (rxBuffer_.size() < kReadingSize) {
        return;
    }
    TimedReading reading;
    static_cast<DecodedReading&>(reading) =
        decodeReading(*MeterReading::fromBytes(rxBuffer_), decimalSeparator_);
    reading.wallMs = clock_->wallMs();
    reading.steadyNs = clock_->steadyNs();
    lastReading_ = reading.raw;
    measureFunction_ = lastReading_.function;
    if (display_.ShowRealtimeReading(reading) && observer_) {
        observer_->realtimeChanged();
    }
    if (observer_) {
        observer_->liveReading(reading);
    }
}

void MeterLink::comopen(std::int16_t port) {
    readRequested_ = false;
    replyOutstanding_ = false;
    if (port_.isOpen()) {
        port_.close();
    }
    const OpenResult result = port_.open(port);
    const bool opened = result == OpenResult::Opened;
    openedPort_ = opened ? port : 0;
    // Every failed open reads "Unviable": a port that did not open cannot be "Open".
    setPortStatus("COM" + std::to_string(port) + (opened ? " Open" : "Unviable"));
    if (observer_) {
        observer_->portTried(port, opened, port_.lastOpenDetail());
    }
}

void MeterLink::Findcomtim_Timer() {
    if (linkUp_) {
        timers_.Findcomtim.setEnabled(false);
        // A download started right after the meter answered must not be cut short by a
        // keep-alive: polling then resumes when the block is in, or at the next hand-over.
        if (!downloadActive_) {
            timers_.comtim.setEnabled(true);
        }
        return;
    }
    comopen(scanPort_);
    SendCommand(kHandshake);
    if (onlyPort_ > 0) {
        scanPort_ = onlyPort_;
    } else {
        scanPort_ = scanPort_ >= kPortCount ? 1 : static_cast<std::int16_t>(scanPort_ + 1);
    }
}

void MeterLink::comtim_Timer() {
    if (readRequested_) {
        sendPendingRead(); // the reply "Read" waited for never came: ask for the count now
        return;
    }
    if (linkUp_ && viewMode_ == kRecordView) {
        SendCommand(kHandshake);
    } else if (linkUp_ && pollsLiveReadings()) {
        SendCommand(kRealtimeRequest);
    }
}

void MeterLink::comcontim_Timer() {
    if (rxIdleTicks_ < kWatchdogTicks) {
        ++rxIdleTicks_;
        return;
    }
    rxIdleTicks_ = 0;
    readRequested_ = false;
    const bool wasUp = linkUp_;
    setLinkStatus(kLinkStatusLost);
    linkUp_ = false;
    timers_.Findcomtim.setEnabled(true);
    if (downloadActive_) {
        endDownload(false);
    }
    if (wasUp && observer_) {
        observer_->linkLost();
    }
}

void MeterLink::readtim_Timer() {
    SendCommand(kBlockRequest);
    timers_.readtim.setEnabled(false);
    if (observer_ && downloadActive_ && lastCommand_ == kBlockRequest) {
        observer_->downloadProgress(0, receiveThreshold_);
    }
}

void MeterLink::Button_read_Click() {
    if (viewMode_ != kRecordView) {
        return;
    }
    // A download takes up to three minutes; a second "Read" meanwhile would throw away the
    // bytes received so far and read the rest of the block as the next count reply.
    if (downloadActive_) {
        return;
    }
    // A reply to the last poll may still be on the wire; were the count request sent now,
    // those bytes would be taken for the count reply and the download would stall. Wait for
    // that reply (at most until the next poll tick) and ask then.
    if (linkUp_ && port_.isOpen() && replyOutstanding_ &&
        (lastCommand_ == kHandshake || lastCommand_ == kRealtimeRequest)) {
        readRequested_ = true;
        return;
    }
    SendCommand(kCountRequest);
}

void MeterLink::endDownload(bool completed, std::vector<DecodedReading> readings) {
    if (!downloadActive_) {
        return;
    }
    downloadActive_ = false;
    if (observer_) {
        observer_->downloadEnded(DownloadResult{completed, std::move(readings)});
    }
}

void MeterLink::setPortStatus(std::string caption) {
    portStatus_ = std::move(caption);
    if (observer_) {
        observer_->portStatusChanged(portStatus_, port_.lastOpenDetail());
    }
}

void MeterLink::setLinkStatus(std::string caption) {
    linkStatus_ = std::move(caption);
    if (observer_) {
        observer_->linkStatusChanged(linkStatus_);
    }
}

} // namespace talviren
