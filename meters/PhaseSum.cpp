#include "meters/PhaseSum.h"

#include "meters/Meter.h"
#include "power/ApparentPower.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace talviren {

// One meter of the sum: its latest reading, heard from its recording.
struct PhaseSum::Member : RecordingListener {
    PhaseSum& sum;
    Meter& meter;
    bool seen = false;
    std::int64_t wallMs = 0;
    bool acVoltage = false; // the latest reading measures AC voltage
    ApparentPower power;

    Member(PhaseSum& s, Meter& m) : sum(s), meter(m) { meter.recording().addListener(this); }
    ~Member() override { meter.recording().removeListener(this); }
    void readingRecorded(const TimedReading& reading) override {
        seen = true;
        wallMs = reading.wallMs;
        acVoltage = reading.raw.function == kAcCurrentAcVoltage;
        power = apparentPower(reading.raw);
        sum.readingOf(*this);
    }
};

PhaseSum::PhaseSum() = default;

PhaseSum::~PhaseSum() = default;

void PhaseSum::setMeters(const std::vector<Meter*>& meters) {
    members_.clear();
    for (Meter* meter : meters) {
        members_.push_back(std::make_unique<Member>(*this, *meter));
    }
    latest_.reset();
    absent_ = true;
    points_ = {};
    tally_ = {};
}

void PhaseSum::readingOf(Member& member) {
    // The sum is taken at each reading of its first meter, two a second.
    const auto first = std::find_if(members_.begin(), members_.end(),
                                    [](const auto& m) { return m->seen && m->acVoltage; });
    if (first == members_.end() || first->get() != &member) {
        return;
    }
    const std::int64_t t = member.wallMs;
    SumPoint point;
    point.wallMs = t;
    bool complete = true;
    std::int64_t real = 0;
    bool allHaveReal = true;
    for (const auto& m : members_) {
        if (!m->seen || !m->acVoltage) {
            continue;
        }
        // Within 1.25 s of t, either way: a remote's clock may run a little ahead of ours.
        if (std::abs(t - m->wallMs) > kAlignMs || !m->power.hasValue()) {
            complete = false;
            break;
        }
        ++point.meters;
        point.units += m->power.units;
        if (const auto pf = m->meter.powerFactor()) {
            real += realPowerTenBillionths(m->power.units, *pf);
        } else {
            allHaveReal = false;
        }
    }
    if (!complete) {
        latest_.reset();
        absent_ = true;
        listeners_.notify([t](PhaseSumListener& listener) { listener.sumAbsent(t); });
        return;
    }
    if (allHaveReal) {
        point.realPower = real;
    }
    point.breakBefore = std::exchange(absent_, false);
    latest_ = point;
    if (members_.size() > 1) {
        points_.push_back(point);
        tally_.add(point);
    }
    listeners_.notify([&](PhaseSumListener& listener) { listener.sumAdded(point); });
}

std::int64_t PhaseSum::apparentEnergyUnits() const {
    std::int64_t units = 0;
    for (const auto& m : members_) {
        units += m->meter.recording().power().apparentEnergyUnits();
    }
    return units;
}

std::optional<double> PhaseSum::energyWh() const {
    double wh = 0;
    for (const auto& m : members_) {
        const PowerTally& tally = m->meter.recording().power();
        if (tally.apparentEnergyUnits() == 0) {
            continue;
        }
        const auto pf = m->meter.powerFactor();
        if (!pf) {
            return std::nullopt;
        }
        wh += tally.energyWh(*pf);
    }
    return wh;
}

} // namespace talviren
