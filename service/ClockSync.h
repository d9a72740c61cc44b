#pragma once

#include <functional>
#include <optional>
#include <string>

namespace talviren {

// Watches whether the kernel says the system clock is synchronised (adjtimex: STA_UNSYNC), as
// it is not on a small computer without a real-time clock until NTP has set it after boot. The
// readings' times are only as good as the clock. Plain C++; the source can be replaced.
class ClockSync {
public:
    // Whether the clock is synchronised now; none when the kernel cannot tell.
    using Source = std::function<std::optional<bool>()>;

    explicit ClockSync(Source source = kernelSource());

    // Looks again: a line to tell when the state is first seen unsynchronised, or when it
    // changed since (empty when there is nothing to tell).
    std::string check();
    // The state last seen.
    std::optional<bool> synchronised() const { return state_; }

    // adjtimex(2) of this machine.
    static Source kernelSource();

private:
    Source source_;
    std::optional<bool> state_;
    bool checked_ = false;
};

} // namespace talviren
