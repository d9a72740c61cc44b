#include "trend/TrendSeries.h"

#include "measure/ValueText.h"

namespace talviren {

TrendSeries::Sample TrendSeries::sample(std::size_t i) const {
    const MeterReading reading = (*history_)[i].reading();
    std::optional<Quantity> q;
    if (kind_ == QuantityKind::AcCurrent) {
        q = currentNumber(reading);
    } else if (secondKind(reading.function) == kind_) {
        q = secondNumber(reading);
    }
    if (!q) {
        return {};
    }
    if (q->overload) {
        return {Sample::Overload, 0};
    }
    return {Sample::Value, q->value / quantityKindInfo(kind_).basePerShown};
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

} // namespace talviren
