#include "power/PowerTally.h"

#include <limits>

namespace talviren {

void PowerTally::add(const MeterReading& reading, std::int64_t wallMs, std::int64_t keyMs,
                     bool breakBefore) {
    if (!since_) {
        since_ = wallMs;
    }
    const ApparentPower s = apparentPower(reading);
    if (s.state == ApparentPower::Overload) {
        ++overloads_;
        last_ = Marked{0, wallMs, true};
        previousHasValue_ = false;
        return;
    }
    if (!s.hasValue()) {
        previousHasValue_ = false;
        return;
    }
    if (previousHasValue_ && !breakBefore && keyMs >= previousKeyMs_) {
        energyArea_ += (previousUnits_ + s.units) * (keyMs - previousKeyMs_);
        energyUnits_ += energyArea_ / kAreaPerUnitHour;
        energyArea_ %= kAreaPerUnitHour;
    }
    previousHasValue_ = true;
    previousUnits_ = s.units;
    previousKeyMs_ = keyMs;

    const Marked now{s.units, wallMs};
    if (count_ == 0 || now.units < minimum_.units) {
        minimum_ = now;
    }
    if (count_ == 0 || now.units > maximum_.units) {
        maximum_ = now;
    }
    ++count_;
    sumUnits_ += s.units;
    last_ = now;
}

double PowerTally::meanVA() const {
    if (count_ == 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return static_cast<double>(sumUnits_) / kPowerUnitsPerVA / static_cast<double>(count_);
}

double PowerTally::apparentEnergyVAh() const {
    return (static_cast<double>(energyUnits_) +
            static_cast<double>(energyArea_) / kAreaPerUnitHour) /
           kPowerUnitsPerVA;
}

std::int64_t PowerTally::apparentEnergyUnits() const {
    return energyUnits_ + (2 * energyArea_ >= kAreaPerUnitHour ? 1 : 0);
}

} // namespace talviren
