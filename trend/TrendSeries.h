#pragma once

#include "measure/Quantity.h"
#include "power/PowerFactor.h"
#include "trend/SumPoint.h"
#include "trend/TrendHistory.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace talviren {

// One quantity of a history as a chart reads it: a key (seconds since 1970) and, per reading,
// a value in the unit the window shows the kind in (A, V, kΩ), an overload, or nothing (the
// reading carries another quantity, or none). Apparent power (VA), or real power (W) at a
// power factor, is read the same way: an overload where AC voltage or current is over range. Reads
// the history in place and copies nothing but a summary of every block of readings, so that a week
// is searched in microseconds.
class TrendSeries {
public:
    struct Sample {
        enum State : std::uint8_t { Value, Overload, Missing };
        State state = Missing;
        double value = 0;
    };

    // What a block of kBlock readings holds, summed up.
    struct Block {
        bool hasValue = false;
        bool clean = false;    // every reading a value, no break inside (the first may break)
        bool overload = false; // an overload among them
        double low = 0, high = 0, first = 0, last = 0;
    };
    static constexpr std::size_t kBlock = 64;

    // Quantity `kind` of the history.
    TrendSeries(const TrendHistory& history, QuantityKind kind) : TrendSeries(&history, kind) {}

    // Apparent power S of the history, or real power P = S × PF with a power factor.
    static TrendSeries power(const TrendHistory& history, std::optional<PowerFactor> factor);
    // The sum of several meters as it came (`points` grows at its end only): S, or P where
    // `real` (missing where a point has no P).
    static TrendSeries sum(const std::vector<SumPoint>& points, bool real);

    QuantityKind kind() const { return kind_; }
    // Whether it reads power rather than a quantity.
    bool isPower() const { return power_; }
    std::size_t size() const { return sum_ ? sum_->size() : history_->size(); }
    // The chart's time of reading i, seconds since 1970 (UTC); never less than the one before.
    double key(std::size_t i) const {
        return static_cast<double>(sum_ ? (*sum_)[i].wallMs : history_->keyMs(i)) / 1000.0;
    }
    // No line may join reading i to the one before.
    bool breakBefore(std::size_t i) const {
        return sum_ ? (*sum_)[i].breakBefore : (*history_)[i].breakBefore;
    }
    Sample sample(std::size_t i) const;
    // The first reading at or after the key (size() when there is none).
    std::size_t lowerBound(double key) const;
    // Summary of the full block that starts at reading b * kBlock (b below size() / kBlock).
    const Block& block(std::size_t b) const;
    // Lowest and highest value from reading begin up to end; false when there is none.
    bool valueRange(std::size_t begin, std::size_t end, double& low, double& high) const;

private:
    // `history` is none for a sum, whose rows are read instead.
    TrendSeries(const TrendHistory* history, QuantityKind kind)
        : history_(history), kind_(kind), current_(kind == QuantityKind::AcCurrent),
          basePerShown_(quantityKindInfo(kind).basePerShown) {}

    const TrendHistory* history_; // none for a sum
    QuantityKind kind_;
    bool current_;       // the current, else the second quantity of the kind
    int basePerShown_;   // base units in the unit the window shows
    bool power_ = false; // S, or P when powerFactor_ is not 1
    double powerFactor_ = 1;
    const std::vector<SumPoint>* sum_ = nullptr; // the sum's points, read instead of the history
    bool sumReal_ = false;
    mutable std::vector<Block> blocks_; // of the full blocks, filled as they are asked for
};

} // namespace talviren
