#pragma once

#include "link/LinkEvents.h"

#include <functional>
#include <map>
#include <string>

namespace talviren::cli {

// While no meter answers: what became of each port the scan tried, told once per scan cycle
// (16 steps, 8 s) so that a user can see why ("COM1 /dev/ttyUSB0: Permission denied ...").
class PortReport : public LinkEvents {
public:
    static constexpr int kCycleSteps = 16;

    // Called with the report after every full cycle without the meter.
    void setCycleHandler(std::function<void(const std::string&)> handler) {
        onCycle_ = std::move(handler);
    }

    void portTried(const PortAttempt& attempt) override;
    void linkCameUp(const LinkUp& up) override;

    // The ports tried since the meter last answered, one line each ("  COM1 ...: reason"),
    // consecutive ports without a device on one line; empty when none was tried.
    std::string lines() const;

private:
    struct Attempt {
        std::string device;
        std::string reason;
    };
    std::map<int, Attempt> attempts_;
    int steps_ = 0;
    std::function<void(const std::string&)> onCycle_;
};

} // namespace talviren::cli
