#include "meters/PhaseSum.h"

#include "power/ApparentPower.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace talviren {

// One meter of the sum: its latest reading, heard from its recording.
struct PhaseSum::Meter : RecordingListener {
    PhaseSum& sum;
    std::string name;
    Recording& recording;
    FactorOf factor;
    bool seen = false;
    std::int64_t wallMs = 0;
    bool acVoltage = false; // the latest reading measures AC voltage
    ApparentPower power;

    Meter(PhaseSum& s, std::string n, Recording& r, FactorOf f)
        : sum(s), name(std::move(n)), recording(r), factor(std::move(f)) {}
    void readingRecorded(const TimedReading& reading) override { sum.readingOf(*this, reading); }
};

PhaseSum::PhaseSum() = default;

PhaseSum::~PhaseSum() {
    clear();
}

void PhaseSum::addMeter(const std::string& name, Recording& recording, FactorOf factor) {
    meters_.push_back(std::make_unique<Meter>(*this, name, recording, std::move(factor)));
    recording.addListener(meters_.back().get());
}

void PhaseSum::clear() {
    for (const auto& meter : meters_) {
        meter->recording.removeListener(meter.get());
    }
    meters_.clear();
    latest_.reset();
    absent_ = true;
}

void PhaseSum::readingOf(Meter& meter, const TimedReading& reading) {
    meter.seen = true;
    meter.wallMs = reading.wallMs;
    meter.acVoltage = reading.raw.function == kAcCurrentAcVoltage;
    meter.power = apparentPower(reading.raw);
    // The sum is taken at each reading of its first meter, two a second.
    const auto first = std::find_if(meters_.begin(), meters_.end(),
                                    [](const auto& m) { return m->seen && m->acVoltage; });
    if (first == meters_.end() || first->get() != &meter) {
        return;
    }
    const std::int64_t t = reading.wallMs;
    PhaseSumPoint point;
    point.wallMs = t;
    bool complete = true;
    bool allHaveP = true;
    double watts = 0;
    for (const auto& m : meters_) {
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
        const auto pf = m->factor ? m->factor() : std::nullopt;
        allHaveP = allHaveP && pf.has_value();
        if (pf) {
            watts += m->power.va() * pf->value();
        }
    }
    const std::vector<PhaseSumListener*> now = listeners_;
    if (!complete) {
        latest_.reset();
        absent_ = true;
        for (PhaseSumListener* listener : now) {
            listener->sumAbsent(t);
        }
        return;
    }
    if (allHaveP) {
        point.watts = watts;
    }
    point.breakBefore = std::exchange(absent_, false);
    latest_ = point;
    for (PhaseSumListener* listener : now) {
        listener->sumAdded(point);
    }
}

std::int64_t PhaseSum::apparentEnergyUnits() const {
    std::int64_t units = 0;
    for (const auto& m : meters_) {
        units += m->recording.power().apparentEnergyUnits();
    }
    return units;
}

std::optional<double> PhaseSum::energyWh() const {
    double wh = 0;
    for (const auto& m : meters_) {
        const PowerTally& tally = m->recording.power();
        if (tally.apparentEnergyUnits() == 0) {
            continue;
        }
        const auto pf = m->factor ? m->factor() : std::nullopt;
        if (!pf) {
            return std::nullopt;
        }
        wh += tally.energyWh(*pf);
    }
    return wh;
}

void PhaseSum::addListener(PhaseSumListener* listener) {
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
        listeners_.push_back(listener);
    }
}

void PhaseSum::removeListener(PhaseSumListener* listener) {
    std::erase(listeners_, listener);
}

} // namespace talviren
