#pragma once

// Drives the link engine on fakes with a stream of events decoded from bytes, and checks the
// engine's invariants after each one. Shared by the seeded random test and the fuzz target.

#include "FakeLink.h"

#include <cstdint>
#include <span>
#include <string>

namespace talviren::testing {

class LinkEventDriver {
public:
    LinkEventDriver() {
        rig_.link.setDecimalSeparator(",");
        for (int p = 1; p <= 16; ++p) {
            rig_.port.outcomes[p] = OpenResult::NoSuchPort;
        }
    }

    // Applies one event taken from the front of `input`; false when the input is used up.
    bool step(std::span<const std::uint8_t>& input) {
        if (input.empty()) {
            return false;
        }
        const std::uint8_t op = take(input);
        const std::size_t completedBefore = completed();
        switch (op % 12) {
        case 0:
            rig_.scan.tick();
            break;
        case 1:
            rig_.poll.tick();
            break;
        case 2:
            rig_.watchdog.tick();
            break;
        case 3:
            rig_.blockDelay.tick();
            break;
        case 4:
            rig_.link.Button_read_Click();
            break;
        case 5:
            rig_.table.ResetRecordTable();
            break;
        case 6:
            rig_.session.setPolling(op / 12 % 2 ? Polling::KeepAlive : Polling::Live);
            break;
        case 7: // how port n opens from now on
            rig_.port.outcomes[1 + op / 12 % 16] = static_cast<OpenResult>(take(input) % 4);
            break;
        case 8:
            rig_.port.deliver({0xD5, 0x55, 0x55});
            break;
        case 9: // a count reply, good or not
            rig_.port.deliver({take(input) % 2 ? std::uint8_t(5) : take(input), 5,
                               static_cast<std::uint8_t>(take(input) % 3), take(input)});
            break;
        default: { // a block of any length and content
            std::vector<std::uint8_t> bytes(take(input) % 40);
            for (auto& b : bytes) {
                b = take(input);
            }
            rig_.port.deliver(bytes);
        }
        }
        if (completed() > completedBefore && rig_.events.ended.back()) {
            const int count = rig_.events.counts.empty() ? 0 : rig_.events.counts.back();
            lastCompletedRows_ = rig_.table.rows();
            expectedCompletedRows_ = count == 0 ? 2 : 2 * count;
        }
        return true;
    }

    // The first broken invariant, or empty.
    std::string violation() const {
        const auto& tried = rig_.events.tried;
        for (std::size_t i = 1; i < tried.size(); ++i) {
            const int next = tried[i - 1].first % 16 + 1;
            if (tried[i].first != next) {
                return "port " + std::to_string(tried[i].first) + " tried after " +
                       std::to_string(tried[i - 1].first);
            }
        }
        const LinkState state = rig_.link.state();
        if (downloading(state) && state != LinkState::ReadWaiting && rig_.poll.isEnabled()) {
            return "polling during a download";
        }
        if (rig_.port.doubleOpens != 0) {
            return "a port opened while another was open";
        }
        if (lastCompletedRows_ != expectedCompletedRows_) {
            return "download completed with " + std::to_string(lastCompletedRows_) + " rows for " +
                   std::to_string(expectedCompletedRows_);
        }
        return {};
    }

    // Silence: five watchdog ticks must bring the engine back to scanning.
    std::string silenceViolation() {
        for (int i = 0; i < 5; ++i) {
            rig_.watchdog.tick();
        }
        if (rig_.link.state() != LinkState::Scanning || !rig_.scan.isEnabled()) {
            return "still linked after five silent watchdog ticks";
        }
        return {};
    }

    LinkRig& rig() { return rig_; }

    // Runs a whole input, checking after every event and then the silence: the first broken
    // invariant, or empty.
    static std::string replay(std::span<const std::uint8_t> input) {
        LinkEventDriver driver;
        while (driver.step(input)) {
            if (std::string broken = driver.violation(); !broken.empty()) {
                return broken;
            }
        }
        return driver.silenceViolation();
    }

private:
    static std::uint8_t take(std::span<const std::uint8_t>& input) {
        if (input.empty()) {
            return 0;
        }
        const std::uint8_t byte = input.front();
        input = input.subspan(1);
        return byte;
    }
    std::size_t completed() const { return rig_.events.ended.size(); }

    LinkRig rig_;
    int lastCompletedRows_ = 0;
    int expectedCompletedRows_ = 0;
};

} // namespace talviren::testing
