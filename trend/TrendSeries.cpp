#include "trend/TrendSeries.h"

#include "measure/ValueText.h"
#include "power/ApparentPower.h"

#include <algorithm>

namespace talviren {

TrendSeries TrendSeries::power(const TrendHistory& history, std::optional<PowerFactor> factor) {
    TrendSeries series(history, QuantityKind::AcVoltage);
    series.power_ = true;
    series.powerFactor_ = factor ? factor->value() : 1.0;
    return series;
}

TrendSeries TrendSeries::sum(const std::vector<SumPoint>& points, bool real) {
    TrendSeries series(nullptr, QuantityKind::AcVoltage);
    series.power_ = true;
    series.sum_ = &points;
    series.sumReal_ = real;
    return series;
}

TrendSeries::Sample TrendSeries::sample(std::size_t i) const {
    if (sum_) {
        const SumPoint& point = (*sum_)[i];
        if (sumReal_) {
            return point.realPower ? Sample{Sample::Value, *point.watts()} : Sample{};
        }
        return {Sample::Value, point.va()};
    }
    // Decoded by the one scale table, as counts: nothing to allocate.
    const MeterReading reading = (*history_)[i].reading();
    if (power_) {
        const ApparentPower s = apparentPower(reading);
        switch (s.state) {
        case ApparentPower::Value:
            return {Sample::Value, s.va() * powerFactor_};
        case ApparentPower::Overload:
            return {Sample::Overload, 0};
        case ApparentPower::None:
            break;
        }
        return {};
    }
    const auto q = current_ ? currentNumber(reading) : secondNumber(reading);
    if (!q || q->kind != kind_) {
        return {};
    }
    if (q->overload) {
        return {Sample::Overload, 0};
    }
    return {Sample::Value, q->value() / basePerShown_};
}

std::size_t TrendSeries::lowerBound(double key) const {
    std::size_t low = 0;
    std::size_t high = size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (this->key(middle) < key) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

const TrendSeries::Block& TrendSeries::block(std::size_t b) const {
    // Full blocks never change: the history only grows at its end.
    while (blocks_.size() <= b) {
        const std::size_t start = blocks_.size() * kBlock;
        Block summary;
        summary.clean = true;
        for (std::size_t i = start; i < start + kBlock; ++i) {
            const Sample s = sample(i);
            if (s.state == Sample::Overload) {
                summary.overload = true;
            }
            if (s.state != Sample::Value || (i > start && breakBefore(i))) {
                summary.clean = false;
            }
            if (s.state != Sample::Value) {
                continue;
            }
            if (!summary.hasValue) {
                summary.hasValue = true;
                summary.low = summary.high = summary.first = s.value;
            }
            summary.low = std::min(summary.low, s.value);
            summary.high = std::max(summary.high, s.value);
            summary.last = s.value;
        }
        blocks_.push_back(summary);
    }
    return blocks_[b];
}

bool TrendSeries::valueRange(std::size_t begin, std::size_t end, double& low, double& high) const {
    bool found = false;
    const auto take = [&](double lo, double hi) {
        low = found ? std::min(low, lo) : lo;
        high = found ? std::max(high, hi) : hi;
        found = true;
    };
    std::size_t i = begin;
    while (i < end) {
        if (i % kBlock == 0 && i + kBlock <= end) {
            const Block& b = block(i / kBlock);
            if (b.hasValue) {
                take(b.low, b.high);
            }
            i += kBlock;
            continue;
        }
        const Sample s = sample(i++);
        if (s.state == Sample::Value) {
            take(s.value, s.value);
        }
    }
    return found;
}

} // namespace talviren
