#include "service/ClockSync.h"

#include <sys/timex.h>

namespace talviren {

ClockSync::ClockSync(Source source) : source_(std::move(source)) {}

ClockSync::Source ClockSync::kernelSource() {
    return []() -> std::optional<bool> {
        timex state{};
        const int result = ::adjtimex(&state);
        if (result < 0) {
            return std::nullopt;
        }
        return result != TIME_ERROR && !(state.status & STA_UNSYNC);
    };
}

std::string ClockSync::check() {
    const std::optional<bool> now = source_();
    const bool first = !checked_;
    const bool changed = now != state_;
    checked_ = true;
    state_ = now;
    if (!now || (!first && !changed) || (first && *now)) {
        return {};
    }
    return *now ? "the system clock is synchronised now"
                : "the system clock is not synchronised (no NTP yet?): reading times may be "
                  "wrong until it is";
}

} // namespace talviren
