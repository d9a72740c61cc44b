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

void ReadingStatistics::add(const QuantityCount& quantity, std::string_view text,
                            std::int64_t wallMs) {
    Kind& kind = kinds_[static_cast<std::size_t>(quantity.kind)];
    // Marked in place: a text assigned keeps its buffer, so a month of readings copies no
    // string it does not have to.
    const auto mark = [&](Marked& marked, std::int64_t milli) {
        marked.milli = milli;
        marked.value = quantity.value();
        marked.text.assign(text);
        marked.wallMs = wallMs;
    };
    if (quantity.overload) {
        ++kind.overloads;
        mark(kind.last, 0);
        return;
    }
    const std::int64_t milli = quantity.milli();
    if (kind.count == 0 || milli < kind.minimum.milli) {
        mark(kind.minimum, milli);
    }
    if (kind.count == 0 || milli > kind.maximum.milli) {
        mark(kind.maximum, milli);
    }
    ++kind.count;
    kind.sumMilli += milli;
    mark(kind.last, milli);
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
