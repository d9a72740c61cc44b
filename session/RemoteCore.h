#pragma once

#include "meters/Meter.h"
#include "remote/RemoteFollower.h"

#include <optional>
#include <string>

namespace talviren {

// A remote logger as a meter, without its Qt parts: the follower brings the logger's readings
// into the meter's recording, each with the time the remote gave it, and the power factor the
// remote publishes P at. Plain C++ over an HTTP stream and two countdowns.
class RemoteCore : private remote::RemoteListener, private MeterFeed {
public:
    RemoteCore(MeterSource source, remote::HttpStream& http, remote::Countdown& retry,
               remote::Countdown& silence, std::string decimalSeparator,
               const ReadingClock& clock = systemClock());
    ~RemoteCore() override;
    RemoteCore(const RemoteCore&) = delete;
    RemoteCore& operator=(const RemoteCore&) = delete;

    void start() { follower_.start(); }
    void stop() { follower_.stop(); }
    Meter& meter() { return meter_; }
    const remote::RemoteFollower& follower() const { return follower_; }

private:
    void remoteReading(const remote::RemoteReading& reading, bool breakBefore) override;
    void remoteChanged() override { meter_.feedChanged(); }

    LinkStatus linkStatus() const override;
    // Its readings' steady clock is the remote's wall clock.
    std::int64_t readingClockNs(std::int64_t, std::int64_t wallMs) const override {
        return wallMs * 1'000'000;
    }
    bool ownsPowerFactor() const override { return true; }
    std::optional<PowerFactor> ownPowerFactor() const override { return powerFactor_; }
    std::uint64_t missedReadings() const override { return follower_.missed(); }

    Meter meter_;
    remote::RemoteFollower follower_;
    std::optional<PowerFactor> powerFactor_; // none before the remote said, or without one
};

} // namespace talviren
