#include "trend/ReadingStatistics.h"

#include <limits>

namespace talviren {

double ReadingStatistics::Kind::mean() const {
    if (count == 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    // One rounding, at the end: the sum itself is exact.
    return static_cast<double>(sumMilli) / 1000.0 / static_cast<double>(count);
}

void ReadingStatistics::add(const TimedReading& reading) {
    if (reading.current) {
        add(*reading.current, reading.wallMs);
    }
    if (reading.second) {
        add(*reading.second, reading.wallMs);
    }
}

void ReadingStatistics::add(const Quantity& quantity, std::int64_t wallMs) {
    Kind& kind = kinds_[static_cast<std::size_t>(quantity.kind)];
    Marked now{quantity.overload ? 0 : quantity.milli(), quantity.value(), quantity.text, wallMs};
    if (quantity.overload) {
        ++kind.overloads;
        kind.last = std::move(now);
        return;
    }
    if (kind.count == 0 || now.milli < kind.minimum.milli) {
        kind.minimum = now;
    }
    if (kind.count == 0 || now.milli > kind.maximum.milli) {
        kind.maximum = now;
    }
    ++kind.count;
    kind.sumMilli += now.milli;
    kind.last = std::move(now);
}

void ReadingStatistics::reset() {
    kinds_ = {};
}

std::vector<QuantityKind> ReadingStatistics::seenKinds() const {
    std::vector<QuantityKind> seen;
    for (QuantityKind kind : kAllQuantityKinds) {
        if (of(kind).seen()) {
            seen.push_back(kind);
        }
    }
    return seen;
}

} // namespace talviren
