#include "session/RemoteSession.h"

#include <algorithm>

namespace talviren {

RemoteSession::RemoteSession(remote::RemoteTarget target, std::string decimalSeparator,
                             QObject* parent)
    : QObject(parent),
      follower_(std::move(target), http_, retry_, silence_, *this, std::move(decimalSeparator)) {
    recording_.addListener(this);
    alarmClock_.setInterval(100);
    connect(&alarmClock_, &QTimer::timeout, this, [this] {
        const std::int64_t wallMs = systemClock().wallMs();
        alarms_.tick(wallMs * 1'000'000, wallMs);
    });
}

RemoteSession::~RemoteSession() {
    follower_.stop();
    recording_.removeListener(this);
}

void RemoteSession::setAlarms(std::vector<AlarmRule> rules) {
    const bool waitsForSilence = std::any_of(rules.begin(), rules.end(), [](const AlarmRule& r) {
        return r.condition == AlarmRule::Condition::NoReading;
    });
    alarms_.configure(std::move(rules), powerFactor_, systemClock().wallMs() * 1'000'000);
    if (waitsForSilence) {
        alarmClock_.start();
    } else {
        alarmClock_.stop();
    }
}

void RemoteSession::remoteReading(const remote::RemoteReading& reading, bool breakBefore) {
    if (reading.powerFactor) {
        powerFactor_ = reading.powerFactor;
    }
    if (breakBefore) {
        recording_.markBreak();
    }
    recording_.add(reading.reading);
}

} // namespace talviren
