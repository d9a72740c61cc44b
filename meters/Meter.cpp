#include "meters/Meter.h"

#include <algorithm>

namespace talviren {

Meter::Meter(MeterSource source, const ReadingClock& clock)
    : source_(std::move(source)), clock_(clock) {
    // First of the recording's listeners: the alarms judge a reading before anyone tells of it.
    recording_.addListener(this);
    alarms_.addListener(this);
}

Meter::~Meter() {
    alarms_.removeListener(this);
    recording_.removeListener(this);
}

void Meter::setFeed(const MeterFeed* feed) {
    feed_ = feed;
    feedChanged();
}

std::optional<PowerFactor> Meter::powerFactor() const {
    return feed_ && feed_->ownsPowerFactor() ? feed_->ownPowerFactor() : runFactor_;
}

void Meter::setPowerFactor(std::optional<PowerFactor> factor) {
    if (factor == runFactor_) {
        return;
    }
    runFactor_ = factor;
    alarms_.setPowerFactor(powerFactor());
    listeners_.notify([this](MeterListener& listener) { listener.meterChanged(*this); });
}

void Meter::setAlarms(std::vector<AlarmRule> rules) {
    alarms_.configure(std::move(rules), powerFactor(), readingClockNs());
}

LinkStatus Meter::linkStatus() const {
    return feed_ ? feed_->linkStatus() : LinkStatus{};
}

std::int64_t Meter::readingClockNs() const {
    const std::int64_t steadyNs = clock_.steadyNs();
    return feed_ ? feed_->readingClockNs(steadyNs, clock_.wallMs()) : steadyNs;
}

void Meter::tick() {
    recording_.tickLog(clock_.steadyNs());
    if (waitsForSilence_) {
        alarms_.tick(readingClockNs(), clock_.wallMs());
    }
}

void Meter::feedChanged() {
    // A remote tells its power factor with its readings: its P alarms follow it.
    alarms_.setPowerFactor(powerFactor());
    listeners_.notify([this](MeterListener& listener) { listener.meterChanged(*this); });
}

void Meter::readingRecorded(const TimedReading& reading) {
    latest_ = reading;
    alarms_.reading(reading);
}

void Meter::logChanged(bool) {
    updateTicks();
}

void Meter::alarmsConfigured() {
    const auto& rules = alarms_.rules();
    waitsForSilence_ = std::any_of(rules.begin(), rules.end(), [](const AlarmRule& rule) {
        return rule.condition == AlarmRule::Condition::NoReading;
    });
    updateTicks();
}

void Meter::updateTicks() {
    // Nothing to sync and nothing to wait for: the event loop sleeps.
    const bool wanted = recording_.log() != nullptr || waitsForSilence_;
    if (wanted != wantsTicks_) {
        wantsTicks_ = wanted;
        listeners_.notify([&](MeterListener& listener) { listener.ticksWanted(*this, wanted); });
    }
}

} // namespace talviren
