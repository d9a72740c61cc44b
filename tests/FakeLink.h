#pragma once

#include "link/LinkAssembly.h"
#include "link/MeterLink.h"
#include "link/SerialPort.h"
#include "session/SessionCore.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace talviren::testing {

// A scripted serial port: tests decide which numbers open and hand it reply bytes.
class FakePort : public SerialPort {
public:
    OpenResult open(int portNumber) override {
        ++openCalls;
        lastTried = portNumber;
        const auto it = outcomes.find(portNumber);
        const OpenResult result = it == outcomes.end() ? OpenResult::NoSuchPort : it->second;
        if (result == OpenResult::Opened) {
            if (openPort != 0) {
                ++doubleOpens; // the engine must close before opening another
            }
            openPort = portNumber;
        }
        return result;
    }
    bool isOpen() const override { return openPort != 0; }
    void close() override {
        openPort = 0;
        inbox.clear();
    }
    void write(std::span<const std::uint8_t> bytes) override {
        for (auto b : bytes) {
            sent.push_back({openPort, b});
            if (answer) {
                // The earliest a reply can come: while the command is being written. The port
                // has it before the write returns; the event loop announces it afterwards.
                const std::vector<std::uint8_t> reply = answer(b);
                inbox.insert(inbox.end(), reply.begin(), reply.end());
                announcementDue = announcementDue || !reply.empty();
            }
        }
    }
    std::size_t bytesWaiting() const override { return inbox.size(); }
    std::vector<std::uint8_t> readAll() override {
        // Bytes that vanish between the notification and the read (set by a test).
        inbox.resize(inbox.size() > lostOnRead ? inbox.size() - lostOnRead : 0);
        return std::exchange(inbox, {});
    }
    void discardInput() override { inbox.clear(); }
    void discardOutput() override {}
    PortDetail lastOpenDetail() const override {
        const auto it = details.find(lastTried);
        return it == details.end() ? PortDetail{"/dev/fake", ""} : it->second;
    }

    // The event loop tells the link of bytes that arrived meanwhile.
    void announce() {
        if (std::exchange(announcementDue, false) && isOpen()) {
            notifyData();
        }
    }

    // Bytes from the meter arrive on the open port.
    void deliver(std::vector<std::uint8_t> bytes) {
        if (!isOpen()) {
            return;
        }
        inbox.insert(inbox.end(), bytes.begin(), bytes.end());
        notifyData();
    }

    struct Sent {
        int port;
        std::uint8_t byte;
    };
    std::map<int, OpenResult> outcomes;
    // A meter that replies inside write(); the reply is announced by announce().
    std::function<std::vector<std::uint8_t>(std::uint8_t)> answer;
    bool announcementDue = false;
    std::map<int, PortDetail> details; // what an open of port n reports (default /dev/fake)
    std::size_t lostOnRead = 0;
    int lastTried = 0;
    std::vector<std::uint8_t> inbox;
    std::vector<Sent> sent;
    int openPort = 0;
    int openCalls = 0;
    int doubleOpens = 0;
};

// A timer ticked by hand.
class FakeTimer : public Timer {
public:
    void setEnabled(bool enabled) override { enabled_ = enabled; }
    bool isEnabled() const override { return enabled_; }
    // One tick, delivered only while the timer runs.
    void tick() {
        if (enabled_) {
            notifyTick();
        }
    }

private:
    bool enabled_ = true; // every timer runs from creation, as the window's do
};

// Everything the engine told, in order.
class EventLog : public LinkEvents {
public:
    void stateChanged(LinkState state) override { states.push_back(state); }
    void portTried(const PortAttempt& attempt) override {
        tried.push_back({attempt.port, attempt.opened()});
    }
    void linkCameUp(const LinkUp& up) override { ups.push_back({up.port, up.devicePath}); }
    void linkLost(const LinkLoss& loss) override { losses.push_back(loss.wasUp); }
    void liveReading(const TimedReading& reading) override { readings.push_back(reading); }
    void recordCount(int count) override { counts.push_back(count); }
    void downloadProgress(const DownloadProgress& p) override {
        progress.push_back({p.bytesReceived, p.bytesExpected});
    }
    void downloadEnded(const DownloadResult& result) override {
        ended.push_back(result.completed);
        downloaded = result.readings;
    }

    std::vector<LinkState> states;
    std::vector<std::pair<int, bool>> tried; // port, opened
    std::vector<std::pair<int, std::string>> ups;
    std::vector<bool> losses; // whether the link was up
    std::vector<TimedReading> readings;
    std::vector<int> counts;
    std::vector<std::pair<int, int>> progress;
    std::vector<bool> ended;
    std::vector<DecodedReading> downloaded; // of the last download
};

// The engine and the session's plain part on fakes, started up as the window does.
struct LinkRig : LinkAssembly<FakePort, FakeTimer> {
    FakeTimer& scan = Findcomtim;
    FakeTimer& poll = comtim;
    FakeTimer& watchdog = comcontim;
    FakeTimer& blockDelay = readtim;
    SessionCore session{link};
    RecordTable& table = session.table();
    EventLog events;

    LinkRig() {
        session.addConsumer(&events);
        link.startUp();
    }
    // The command bytes sent so far.
    std::vector<std::uint8_t> sentBytes() const {
        std::vector<std::uint8_t> bytes;
        for (const auto& s : port.sent) {
            bytes.push_back(s.byte);
        }
        return bytes;
    }
};

} // namespace talviren::testing
