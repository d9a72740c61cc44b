#pragma once

#include "alarm/AlarmEngine.h"
#include "base/Listeners.h"
#include "meters/LinkStatus.h"
#include "meters/MeterSource.h"
#include "power/PowerFactor.h"
#include "trend/Recording.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talviren {

class Meter;

// What brings a meter its readings, and what only that kind of meter knows: a link engine on
// a serial port, or a follower of a remote logger. It puts the readings into the meter's
// recording and calls Meter::feedChanged() when what it tells here changes.
class MeterFeed {
public:
    virtual ~MeterFeed() = default;
    // How its link stands now.
    virtual LinkStatus linkStatus() const = 0;
    // Now on the clock its readings' steadyNs count on: the steady clock, or for a remote the
    // wall clock its times come in.
    virtual std::int64_t readingClockNs(std::int64_t steadyNs, std::int64_t /*wallMs*/) const {
        return steadyNs;
    }
    // Whether its readings come with a power factor of their own (a remote's), which counts
    // instead of the run's, and which one that is now (none before the remote told it).
    virtual bool ownsPowerFactor() const { return false; }
    virtual std::optional<PowerFactor> ownPowerFactor() const { return std::nullopt; }
    // Readings lost at the source before they could reach us.
    virtual std::uint64_t missedReadings() const { return 0; }
};

// Hears a meter besides its readings, which its recording tells.
class MeterListener {
public:
    virtual ~MeterListener() = default;
    // Its link changed, or its power factor.
    virtual void meterChanged(const Meter& /*meter*/) {}
    // It wants the clock, or no longer does (wantsTicks()).
    virtual void ticksWanted(const Meter& /*meter*/, bool /*wanted*/) {}
};

// One meter of a run, whichever way its readings come: the recording (history, statistics,
// power and energy, its log), the alarms that watch every reading, the power factor, and one
// clock for the log and the alarms. What differs between a local port and a remote logger is
// its feed. Plain C++: the sessions give it a feed and a timer, the tests drive it by hand.
class Meter : private RecordingListener, private AlarmListener {
public:
    // How often the clock ticks a meter that wants it.
    static constexpr int kTickMs = 100;

    explicit Meter(MeterSource source, const ReadingClock& clock = systemClock());
    ~Meter() override;
    Meter(const Meter&) = delete;
    Meter& operator=(const Meter&) = delete;

    // What brings its readings (it must stay until replaced); none reads as searching.
    void setFeed(const MeterFeed* feed);
    const MeterSource& source() const { return source_; }
    // The window's own meter goes by the name of the scan line the settings give it.
    void setSource(MeterSource source) { source_ = std::move(source); }
    const std::string& name() const { return source_.name; }

    Recording& recording() { return recording_; }
    const Recording& recording() const { return recording_; }
    AlarmEngine& alarms() { return alarms_; }
    const AlarmEngine& alarms() const { return alarms_; }

    // The power factor its P is taken at: a remote's own, else the run's; none: no P.
    std::optional<PowerFactor> powerFactor() const;
    // The run's power factor, for readings that come without one.
    void setPowerFactor(std::optional<PowerFactor> factor);
    // Replaces its alarms, at its power factor; no-reading ones count from now.
    void setAlarms(std::vector<AlarmRule> rules);

    // Its newest reading, as its tile shows it.
    const std::optional<TimedReading>& latest() const { return latest_; }
    LinkStatus linkStatus() const;
    std::uint64_t missedReadings() const { return feed_ ? feed_->missedReadings() : 0; }

    // Whether it needs its clock now: a log to sync and catch up, an alarm waiting for silence.
    bool wantsTicks() const { return wantsTicks_; }
    // The clock, every kTickMs while it wants it.
    void tick();
    // The feed's link or power factor changed.
    void feedChanged();

    // Registers a listener; it must stay until removed.
    void addListener(MeterListener* listener) { listeners_.add(listener); }
    void removeListener(MeterListener* listener) { listeners_.remove(listener); }

private:
    void readingRecorded(const TimedReading& reading) override;
    void logChanged(bool open) override;
    void alarmsConfigured() override;
    // Now on its readings' clock.
    std::int64_t readingClockNs() const;
    void updateTicks();

    MeterSource source_;
    const ReadingClock& clock_;
    const MeterFeed* feed_ = nullptr;
    Recording recording_;
    AlarmEngine alarms_;
    std::optional<PowerFactor> runFactor_;
    std::optional<TimedReading> latest_;
    bool waitsForSilence_ = false;
    bool wantsTicks_ = false;
    Listeners<MeterListener> listeners_;
};

} // namespace talviren
