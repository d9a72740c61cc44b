#pragma once

#include "alarm/AlarmEngine.h"
#include "meters/MeterSource.h"
#include "meters/PhaseSum.h"
#include "session/MeterSession.h"
#include "session/RemoteSession.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talviren {

// One meter of the window, whichever way it comes: the window's own session, another local
// port's session, or a remote logger.
struct FleetMeter {
    MeterSource source;
    MeterSession* session = nullptr; // a local meter (the window's own one first)
    RemoteSession* remote = nullptr; // a remote logger
    // How the link stands, as the tile says it.
    struct Link {
        bool up = false;
        int port = 0;                            // local: the port it is on, while up
        std::optional<std::int64_t> downSinceMs; // when it was lost (or first sought)
    } link;
    std::optional<TimedReading> latest; // its newest reading, as the tile shows it

    Recording& recording() const { return remote ? remote->recording() : session->recording(); }
    AlarmEngine& alarms() const { return remote ? remote->alarms() : session->alarms(); }
    const std::string& name() const { return source.name; }
};

// The meters of one window and their sum: the window's own meter first (as the scan finds it,
// with the Realtime and Record views exactly as they are), then local ports each pinned to
// its own engine, and remote loggers; the sum of S and P listens to them all, and the rules on
// "total" watch it. One recording per meter. Qt: it owns the sessions.
class MeterFleet : public QObject, private PhaseSumListener {
    Q_OBJECT

public:
    // `own` is the window's session; it stays the first meter whatever is configured.
    explicit MeterFleet(MeterSession& own, QObject* parent = nullptr);
    ~MeterFleet() override;

    // Replaces the meters (the window's own one is kept under the name of the scan line, or
    // "local"); the new ones start at once. `decimalSeparator` for the remotes' texts.
    void configure(const std::vector<MeterSource>& sources, const std::string& decimalSeparator);

    const std::vector<FleetMeter>& meters() const { return meters_; }
    // The meter of that name; none when there is none.
    const FleetMeter* meter(const std::string& name) const;
    PhaseSum& sum() { return sum_; }
    AlarmEngine& totalAlarms() { return totalAlarms_; }

    // The power factor of the local meters (the Trend view's PF); a remote has its own.
    void setPowerFactor(std::optional<PowerFactor> factor) { powerFactor_ = factor; }
    std::optional<PowerFactor> powerFactorOf(const FleetMeter& meter) const;
    // The link as a tile says it: "connected on COM5", "connected to cellar.local:8080",
    // "offline since 12:03:11", "wrong token", or why a remote is refused.
    std::string linkText(const FleetMeter& meter) const;

    // Shares the alarms out: a rule that names a meter goes to that meter, one on "total" to
    // the sum, one that names none to the window's own meter. Rules naming no meter of the
    // window are left out and returned.
    std::vector<AlarmRule> setAlarms(std::vector<AlarmRule> rules,
                                     std::optional<PowerFactor> factor);

signals:
    // The meters were replaced.
    void metersChanged();
    // A meter's link, a reading or the sum changed: tiles refresh (at most as often as the
    // event loop turns).
    void meterChanged(int index);

private:
    class LinkWatch;
    void sumAdded(const PhaseSumPoint& point) override;
    void sumAbsent(std::int64_t wallMs) override;
    void rebuildSum();

    MeterSession& own_;
    std::vector<FleetMeter> meters_;
    std::vector<std::unique_ptr<MeterSession>> sessions_;
    std::vector<std::unique_ptr<RemoteSession>> remotes_;
    std::vector<std::unique_ptr<LinkWatch>> watches_;
    PhaseSum sum_;
    AlarmEngine totalAlarms_;
    std::optional<PowerFactor> powerFactor_;
};

} // namespace talviren
