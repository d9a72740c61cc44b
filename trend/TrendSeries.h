#pragma once

#include "measure/Quantity.h"
#include "trend/TrendHistory.h"

#include <cstddef>

namespace talviren {

// One quantity of a history as a chart reads it: a key (seconds since 1970) and, per reading,
// a value in the unit the window shows the kind in (A, V, kΩ), an overload, or nothing (the
// reading carries another quantity, or none). Reads the history in place, copies nothing.
class TrendSeries {
public:
    struct Sample {
        enum State : std::uint8_t { Value, Overload, Missing };
        State state = Missing;
        double value = 0;
    };

    TrendSeries(const TrendHistory& history, QuantityKind kind) : history_(&history), kind_(kind) {}

    QuantityKind kind() const { return kind_; }
    const TrendHistory& history() const { return *history_; }
    std::size_t size() const { return history_->size(); }
    // Seconds since 1970 (UTC) of reading i.
    double key(std::size_t i) const { return static_cast<double>((*history_)[i].wallMs) / 1000.0; }
    // No line may join reading i to the one before.
    bool breakBefore(std::size_t i) const { return (*history_)[i].breakBefore; }
    Sample sample(std::size_t i) const;
    // The first reading at or after the key (size() when there is none); the history is in
    // time order.
    std::size_t lowerBound(double key) const;

private:
    const TrendHistory* history_;
    QuantityKind kind_;
};

} // namespace talviren
