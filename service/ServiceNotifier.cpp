#include "service/ServiceNotifier.h"

#include <systemd/sd-daemon.h>

#include <cstdlib>

namespace talviren {

ServiceNotifier::ServiceNotifier() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    active_ = socket && *socket;
    std::uint64_t usec = 0;
    // Only when the watchdog is meant for this process (WATCHDOG_PID, if set, is ours).
    if (active_ && sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        aliveIntervalNs_ = static_cast<std::int64_t>(usec) * 1000 / 2;
    }
}

void ServiceNotifier::send(const std::string& message) {
    if (active_) {
        sd_notify(0, message.c_str());
    }
}

void ServiceNotifier::ready() {
    send("READY=1");
}

void ServiceNotifier::alive() {
    if (aliveIntervalNs_ > 0) {
        send("WATCHDOG=1");
    }
}

void ServiceNotifier::status(const std::string& text, std::int64_t nowNs) {
    if (!active_) {
        return;
    }
    pending_ = text;
    if (pending_ == sent_ || (everSent_ && nowNs - sentNs_ < 1'000'000'000)) {
        return;
    }
    send("STATUS=" + pending_);
    sent_ = pending_;
    sentNs_ = nowNs;
    everSent_ = true;
}

void ServiceNotifier::stopping() {
    send("STOPPING=1");
}

} // namespace talviren
