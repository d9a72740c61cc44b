#pragma once

#include "measure/Quantity.h"
#include "measure/Reading.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace talviren {

// Count, minimum, maximum, mean and last value of every quantity kind seen, in memory that
// does not grow with the number of readings. Sums are kept as exact integers (thousandths of
// the base unit), so the mean does not drift over millions of readings. Overloaded readings
// are counted apart and never enter minimum, maximum or mean.
class ReadingStatistics {
public:
    // One reading that stands out: its value, its text as the window showed it, its time.
    struct Marked {
        std::int64_t milli = 0;  // value in thousandths of the base unit
        double value = 0;        // in the base unit; NaN for an overloaded last reading
        std::string text;        // "12.34A", "OLV"
        std::int64_t wallMs = 0; // when it arrived
    };

    // What is known of one kind.
    struct Kind {
        std::int64_t count = 0;     // readings that were not overloaded
        std::int64_t overloads = 0; // overloaded readings
        std::int64_t sumMilli = 0;  // sum of the counted values, in thousandths
        Marked minimum;             // valid when count > 0; the first of equal values
        Marked maximum;             // valid when count > 0; the first of equal values
        Marked last;                // the latest reading, overloaded or not

        bool seen() const { return count + overloads > 0; }
        // Mean of the counted values in the base unit; NaN when there are none.
        double mean() const;
    };

    // Takes both quantities of a reading.
    void add(const TimedReading& reading);
    // Takes one quantity that arrived at wallMs.
    void add(const Quantity& quantity, std::int64_t wallMs) {
        add(quantity, quantity.text, wallMs);
    }
    // Takes one quantity with the text it was shown with (as a log holds it).
    void add(const QuantityCount& quantity, std::string_view text, std::int64_t wallMs);
    // Forgets everything.
    void reset();

    // What is known of a kind (all zero when it was never seen).
    const Kind& of(QuantityKind kind) const { return kinds_[static_cast<std::size_t>(kind)]; }
    // The kinds seen so far, in the window's order (current, AC voltage, DC voltage, R).
    std::vector<QuantityKind> seenKinds() const;

private:
    std::array<Kind, kQuantityKindCount> kinds_{};
};

} // namespace talviren
