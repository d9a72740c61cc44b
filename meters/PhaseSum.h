#pragma once

#include "power/PowerFactor.h"
#include "trend/Recording.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace talviren {

// The sum at one time: S over the meters that measure AC voltage now, and P where every one of
// them has a power factor.
struct PhaseSumPoint {
    std::int64_t wallMs = 0;
    std::int64_t units = 0;      // S in ten-thousandths of a VA, exact
    std::optional<double> watts; // P, where every meter in the sum has P
    std::size_t meters = 0;      // how many are in it
    bool breakBefore = false;    // the sum was absent before it
    double va() const { return static_cast<double>(units) / 10'000.0; }
};

// Hears the sum.
class PhaseSumListener {
public:
    virtual ~PhaseSumListener() = default;
    // A sum, at the time of a reading of the sum's first meter.
    virtual void sumAdded(const PhaseSumPoint& /*point*/) {}
    // No sum at this time: a meter of the sum has no reading in the last 1.25 s, or one of
    // them is over range. A gap, never a partial sum.
    virtual void sumAbsent(std::int64_t /*wallMs*/) {}
};

// The sum of three phases (or of any meters): at time t it counts only where every meter in the
// sum has a reading no more than 1.25 s before t; the meters in it are those whose latest reading
// measures AC voltage. Its energy is the sum of each meter's own exact energy, so it needs no
// alignment. Plain C++: it listens to the meters' recordings, one stream each.
class PhaseSum {
public:
    static constexpr std::int64_t kAlignMs = 1250;

    // What P a meter has: its power factor, or none.
    using FactorOf = std::function<std::optional<PowerFactor>()>;

    PhaseSum();
    ~PhaseSum();
    PhaseSum(const PhaseSum&) = delete;
    PhaseSum& operator=(const PhaseSum&) = delete;

    // Adds a meter; `recording` must stay until clear().
    void addMeter(const std::string& name, Recording& recording, FactorOf factor);
    // Forgets every meter.
    void clear();

    // The latest sum, none while it is absent.
    const std::optional<PhaseSumPoint>& latest() const { return latest_; }
    // The energy of every meter since the start or its Reset, in ten-thousandths of a VA h,
    // and in W h where every meter that has energy has a power factor.
    std::int64_t apparentEnergyUnits() const;
    std::optional<double> energyWh() const;

    void addListener(PhaseSumListener* listener);
    void removeListener(PhaseSumListener* listener);

private:
    struct Meter;
    void readingOf(Meter& meter, const TimedReading& reading);

    std::vector<std::unique_ptr<Meter>> meters_;
    std::optional<PhaseSumPoint> latest_;
    bool absent_ = true;
    std::vector<PhaseSumListener*> listeners_;
};

} // namespace talviren
