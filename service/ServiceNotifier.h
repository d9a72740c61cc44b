#pragma once

#include <cstdint>
#include <string>

namespace talviren {

// Tells systemd how a service stands (sd_notify): ready, alive, what it is doing, stopping.
// Without NOTIFY_SOCKET (not started by systemd as Type=notify) every call does nothing.
// Plain C++ over libsystemd.
class ServiceNotifier {
public:
    // Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID from the environment.
    ServiceNotifier();

    // Whether systemd listens.
    bool active() const { return active_; }
    // How often to call alive(): half the watchdog's time; 0 when there is no watchdog.
    std::int64_t aliveIntervalNs() const { return aliveIntervalNs_; }

    // READY=1: the service does what it is for.
    void ready();
    // WATCHDOG=1: the event loop still turns.
    void alive();
    // STATUS=text, shown by systemctl status: sent when it changed, at most once a second
    // (nowNs on the steady clock); a change within the second goes out at a later call.
    void status(const std::string& text, std::int64_t nowNs);
    // STOPPING=1: the service is ending.
    void stopping();

private:
    void send(const std::string& message);

    bool active_ = false;
    std::int64_t aliveIntervalNs_ = 0;
    std::string sent_;    // the status systemd shows
    std::string pending_; // a newer one, waiting for its second
    std::int64_t sentNs_ = 0;
    bool everSent_ = false;
};

} // namespace talviren
