#pragma once

#include "meters/FleetCore.h"
#include "meters/MeterSource.h"
#include "session/MeterSession.h"
#include "session/RemoteSession.h"

#include <memory>
#include <string>
#include <vector>

namespace talviren {

// The meters of one window: its own meter first (as the scan finds it, with the Realtime and
// Record views exactly as they are), then local ports each pinned to its own engine, and remote
// loggers, all one kind of meter (meters/Meter.h) in the fleet's plain part, which holds their
// sum and applies the run's settings. Qt: it makes and owns the sessions.
class MeterFleet {
public:
    // `own` is the window's session; it stays the first meter whatever is configured.
    MeterFleet(MeterSession& own, RunSettings& settings);
    ~MeterFleet();
    MeterFleet(const MeterFleet&) = delete;
    MeterFleet& operator=(const MeterFleet&) = delete;

    // Replaces the meters (the window's own one is kept under the name of the scan line, or
    // "local"); the new ones start at once. `decimalSeparator` for the remotes' texts.
    void configure(const std::vector<MeterSource>& sources, const std::string& decimalSeparator);

    FleetCore& core() { return core_; }
    const FleetCore& core() const { return core_; }
    const std::vector<Meter*>& meters() const { return core_.meters(); }
    // The meter of that name; none when there is none.
    Meter* meter(const std::string& name) const { return core_.meter(name); }
    PhaseSum& sum() { return core_.sum(); }
    AlarmEngine& totalAlarms() { return core_.totalAlarms(); }

private:
    MeterSession& own_;
    FleetCore core_;
    std::vector<std::unique_ptr<MeterSession>> sessions_;
    std::vector<std::unique_ptr<RemoteSession>> remotes_;
};

} // namespace talviren
