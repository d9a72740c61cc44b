#pragma once

#include <cstdint>
#include <optional>

namespace talviren {

// The sum of several meters at one time: S over the meters that measure AC voltage then, and
// P where every one of them has a power factor. Both exact, as each meter's own are.
struct SumPoint {
    std::int64_t wallMs = 0;
    std::int64_t units = 0;                // S in ten-thousandths of a VA
    std::optional<std::int64_t> realPower; // P in ten-billionths of a W (S × PF of each meter)
    std::uint32_t meters = 0;              // how many are in it
    bool breakBefore = false;              // the sum was absent before it

    double va() const { return static_cast<double>(units) / 10'000.0; }
    std::optional<double> watts() const {
        return realPower ? std::optional(static_cast<double>(*realPower) / 1e10) : std::nullopt;
    }
};

// One figure of the sum over a run, in its exact integer unit: the last, the lowest, the
// highest, how many and their mean. A wide sum, so that a year of P adds up without a rounding.
class ExactTally {
public:
    void add(std::int64_t value) {
        if (count_ == 0 || value < minimum_) {
            minimum_ = value;
        }
        if (count_ == 0 || value > maximum_) {
            maximum_ = value;
        }
        last_ = value;
        sum_ += value;
        ++count_;
    }
    std::int64_t count() const { return count_; }
    std::int64_t last() const { return last_; }       // valid when count() > 0
    std::int64_t minimum() const { return minimum_; } // valid when count() > 0
    std::int64_t maximum() const { return maximum_; } // valid when count() > 0
    // The mean in units of `perUnit` of the integers (10,000 for VA from S's units).
    double mean(double perUnit) const {
        return static_cast<double>(sum_ / count_) / perUnit +
               static_cast<double>(sum_ % count_) / static_cast<double>(count_) / perUnit;
    }

private:
    __extension__ typedef __int128 Wide;
    std::int64_t count_ = 0;
    std::int64_t last_ = 0, minimum_ = 0, maximum_ = 0;
    Wide sum_ = 0;
};

// The statistics of the sum over a run (or since a reset): S at every point, P at those that
// have it, and whether the newest point has P.
struct SumTally {
    ExactTally apparent; // ten-thousandths of a VA
    ExactTally real;     // ten-billionths of a W
    bool lastHasReal = false;

    void add(const SumPoint& point) {
        apparent.add(point.units);
        lastHasReal = point.realPower.has_value();
        if (point.realPower) {
            real.add(*point.realPower);
        }
    }
};

} // namespace talviren
