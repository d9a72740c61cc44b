#pragma once

#include "base/Listeners.h"
#include "trend/SumPoint.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace talviren {

class Meter;

// Hears the sum.
class PhaseSumListener {
public:
    virtual ~PhaseSumListener() = default;
    // A sum, at the time of a reading of the sum's first meter.
    virtual void sumAdded(const SumPoint& /*point*/) {}
    // No sum at this time: a meter of the sum has no reading in the last 1.25 s, or one of
    // them is over range. A gap, never a partial sum.
    virtual void sumAbsent(std::int64_t /*wallMs*/) {}
};

// The sum of three phases (or of any meters): at time t it counts only where every meter in the
// sum has a reading no more than 1.25 s before t; the meters in it are those whose latest reading
// measures AC voltage. P is each meter's S times its own power factor, exactly. The sum owns
// its points and their statistics, as each meter's recording owns its history; its energy is
// the sum of each meter's own exact energy, so it needs no alignment. Plain C++: it listens to
// the meters' recordings, one stream each.
class PhaseSum {
public:
    static constexpr std::int64_t kAlignMs = 1250;

    PhaseSum();
    ~PhaseSum();
    PhaseSum(const PhaseSum&) = delete;
    PhaseSum& operator=(const PhaseSum&) = delete;

    // Sums these meters from now on (each must stay until replaced); the points and the
    // statistics start again. With one meter there are no points: its sum is the meter itself.
    void setMeters(const std::vector<Meter*>& meters);

    // The latest sum, none while it is absent.
    const std::optional<SumPoint>& latest() const { return latest_; }
    // Every sum so far, in time order (grows at its end only).
    const std::vector<SumPoint>& points() const { return points_; }
    // S and P over the points since the start or the last reset.
    const SumTally& tally() const { return tally_; }
    void resetStatistics() { tally_ = {}; }
    // The energy of every meter since the start or its Reset, in ten-thousandths of a VA h,
    // and in W h where every meter that has energy has a power factor.
    std::int64_t apparentEnergyUnits() const;
    std::optional<double> energyWh() const;

    void addListener(PhaseSumListener* listener) { listeners_.add(listener); }
    void removeListener(PhaseSumListener* listener) { listeners_.remove(listener); }

private:
    struct Member;
    void readingOf(Member& member);

    std::vector<std::unique_ptr<Member>> members_;
    std::optional<SumPoint> latest_;
    bool absent_ = true;
    std::vector<SumPoint> points_;
    SumTally tally_;
    Listeners<PhaseSumListener> listeners_;
};

} // namespace talviren
