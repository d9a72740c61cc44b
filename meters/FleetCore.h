#pragma once

#include "alarm/AlarmEngine.h"
#include "base/Listeners.h"
#include "meters/Meter.h"
#include "meters/PhaseSum.h"
#include "meters/RunSettings.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace talviren {

// Hears the meters of a run.
class FleetListener {
public:
    virtual ~FleetListener() = default;
    // The meters were replaced.
    virtual void metersReplaced() {}
    // Meter `index` recorded a reading (after its own recording's listeners heard it).
    virtual void readingRecorded(std::size_t /*index*/, const TimedReading& /*reading*/) {}
    // Meter `index`'s link or power factor changed.
    virtual void meterChanged(std::size_t /*index*/) {}
    // Meter `index`'s log was opened or closed, fell behind or caught up.
    virtual void logChanged(std::size_t /*index*/) {}
    // The sum has a new point.
    virtual void sumAdded(const SumPoint& /*point*/) {}
    // A meter's log could not be started: no meter logs now.
    virtual void logRefused(const std::string& /*file*/, const std::string& /*error*/) {}
};

// The meters of one run and their sum, with the run's settings applied to them: each local
// meter takes the power factor, the alarms go to the meter they name (one on "total" to the
// sum, one that names none to the run's own meter), and while the run logs every meter writes
// a log of its own. The sum of S and P listens to them all, and the rules on "total" watch it.
// Plain C++; the window's MeterFleet makes the meters and hands them in.
class FleetCore : private RunSettingsListener, private PhaseSumListener {
public:
    explicit FleetCore(RunSettings& settings, const ReadingClock& clock = systemClock());
    ~FleetCore() override;
    FleetCore(const FleetCore&) = delete;
    FleetCore& operator=(const FleetCore&) = delete;

    // Takes these meters, the run's own first (each must stay until replaced): the settings
    // apply to them, the sum watches them, and while the run logs each one without a log
    // starts its own.
    void setMeters(std::vector<Meter*> meters);
    const std::vector<Meter*>& meters() const { return meters_; }
    // The meter of that name; none when there is none.
    Meter* meter(const std::string& name) const;
    // Whether there are several: then the sum, the Σ rows and a log each.
    bool several() const { return meters_.size() > 1; }

    RunSettings& settings() { return settings_; }
    const RunSettings& settings() const { return settings_; }
    PhaseSum& sum() { return sum_; }
    const PhaseSum& sum() const { return sum_; }
    AlarmEngine& totalAlarms() { return totalAlarms_; }
    const AlarmEngine& totalAlarms() const { return totalAlarms_; }
    // The usable rules that name no meter of the run, left out.
    const std::vector<AlarmRule>& unplacedAlarms() const { return unplaced_; }

    // Starts the run's log: every meter logs to logFile(); false, with the file and why, when
    // one cannot be opened (then none logs, and the settings say so).
    bool startLogs(const std::string& path, std::string& file, std::string& error);
    // Syncs and closes every meter's log.
    void stopLogs();
    // Where a meter's log goes for the run's log `path`: the path itself with one meter,
    // "run-L2.csv" for "run.csv" with several.
    std::string logFile(const std::string& path, const Meter& meter) const;

    // Every meter's statistics and energy, and the sum's, count again from now.
    void resetStatistics();

    void addListener(FleetListener* listener) { listeners_.add(listener); }
    void removeListener(FleetListener* listener) { listeners_.remove(listener); }

private:
    class Watch;
    void powerFactorChanged() override;
    void alarmsChanged() override;
    void loggingChanged() override;
    void sumAdded(const SumPoint& point) override;
    // The alarms of the settings, shared out among the meters and the sum.
    void shareAlarms();
    // Starts the log of every meter that has none; false as startLogs().
    bool startMissingLogs(const std::string& path, std::string& file, std::string& error);

    RunSettings& settings_;
    const ReadingClock& clock_;
    std::vector<Meter*> meters_;
    std::vector<std::unique_ptr<Watch>> watches_;
    PhaseSum sum_;
    AlarmEngine totalAlarms_;
    std::vector<AlarmRule> unplaced_;
    Listeners<FleetListener> listeners_;
};

} // namespace talviren
