#include "cli/PortReport.h"

namespace talviren::cli {

namespace {

const char* const kNoAnswer = "no answer to the handshake";

std::string portName(int port) {
    return "COM" + std::to_string(port);
}

} // namespace

void PortReport::portTried(const PortAttempt& attempt) {
    attempts_[attempt.port] = {attempt.detail.devicePath,
                               attempt.opened() ? kNoAnswer : attempt.detail.failureReason};
    if (++steps_ >= kCycleSteps) {
        steps_ = 0;
        if (onCycle_) {
            onCycle_(lines());
        }
    }
}

void PortReport::linkCameUp(const LinkUp&) {
    attempts_.clear();
    steps_ = 0;
}

std::string PortReport::lines() const {
    std::string out;
    for (auto it = attempts_.begin(); it != attempts_.end(); ++it) {
        const auto& [port, attempt] = *it;
        if (!attempt.device.empty()) {
            out += "  " + portName(port) + " " + attempt.device + ": " + attempt.reason + "\n";
            continue;
        }
        // A run of numbers that no device stands for reads as one line.
        auto last = it;
        while (std::next(last) != attempts_.end() && std::next(last)->first == last->first + 1 &&
               std::next(last)->second.device.empty() &&
               std::next(last)->second.reason == attempt.reason) {
            ++last;
        }
        out += "  " + portName(port);
        if (last != it) {
            out += " to " + portName(last->first);
        }
        out += ": " + (attempt.reason.empty() ? std::string("no device") : attempt.reason) + "\n";
        it = last;
    }
    return out;
}

} // namespace talviren::cli
