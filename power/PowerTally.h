#pragma once

#include "power/ApparentPower.h"
#include "power/PowerFactor.h"

#include <cstdint>
#include <optional>

namespace talviren {

// Apparent power over a run (or a log read back): the statistics of S and the energy, the
// trapezoid integral of S over time. Real power and energy follow by the power factor, which
// is one constant, so the tally itself never needs one: P = S × PF, E(W·h) = E(VA·h) × PF.
//
// An interval adds energy only when both readings carry S and the second follows the first on
// one line of the chart (at most 1.25 s later, no lost link or pause between): across a gap,
// an overload or another function nothing is added, since nobody knows what flowed there.
//
// Everything is counted in integers: S in ten-thousandths of a VA, twice the trapezoid area in
// those units times milliseconds, carried into whole ten-thousandths of a VA·h. A month of
// readings adds up without a rounding, so the energy is exact to 0.0001 VA·h however long the
// run; a floating-point sum of millions of small terms would drift.
class PowerTally {
public:
    // One reading that stands out: S and when it arrived.
    struct Marked {
        std::int64_t units = 0; // ten-thousandths of a VA
        std::int64_t wallMs = 0;
        bool overload = false; // the last reading only: over range, no S
    };

    // Takes a reading: its wall-clock time, its key on the chart's time axis (never running
    // backwards) and whether the chart breaks its line before it.
    void add(const MeterReading& reading, std::int64_t wallMs, std::int64_t keyMs,
             bool breakBefore);
    // Forgets everything: energy counts again from the next reading.
    void reset() { *this = PowerTally(); }

    std::int64_t count() const { return count_; }         // readings with S
    std::int64_t overloads() const { return overloads_; } // AC voltage readings over range
    bool seen() const { return count_ + overloads_ > 0; }
    const Marked& minimum() const { return minimum_; } // valid when count() > 0
    const Marked& maximum() const { return maximum_; } // valid when count() > 0
    // The latest reading with AC voltage (none before the first).
    const std::optional<Marked>& last() const { return last_; }
    // Mean of S in VA; NaN when there is none.
    double meanVA() const;
    // Sum of S, ten-thousandths of a VA (for exact means elsewhere).
    std::int64_t sumUnits() const { return sumUnits_; }

    // The apparent energy, in VA·h.
    double apparentEnergyVAh() const;
    // The same rounded to whole ten-thousandths of a VA·h.
    std::int64_t apparentEnergyUnits() const;
    // The real energy at a power factor, in W·h.
    double energyWh(PowerFactor pf) const { return apparentEnergyVAh() * pf.value(); }
    // When the readings counted began (the first one taken since the start or a reset).
    std::optional<std::int64_t> sinceWallMs() const { return since_; }

private:
    // Twice a trapezoid in ten-thousandths of a VA times ms, in one ten-thousandth of a VA·h.
    static constexpr std::int64_t kAreaPerUnitHour = 2 * 3'600'000;

    std::int64_t count_ = 0;
    std::int64_t overloads_ = 0;
    std::int64_t sumUnits_ = 0;
    Marked minimum_, maximum_;
    std::optional<Marked> last_;
    std::int64_t energyUnits_ = 0; // whole ten-thousandths of a VA·h
    std::int64_t energyArea_ = 0;  // the rest, below kAreaPerUnitHour
    std::optional<std::int64_t> since_;
    // The reading before, when it carried S.
    bool previousHasValue_ = false;
    std::int64_t previousUnits_ = 0;
    std::int64_t previousKeyMs_ = 0;
};

} // namespace talviren
