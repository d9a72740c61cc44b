#pragma once

#include <cstdint>
#include <optional>

namespace talviren {

// One point of the sum of several meters over time: S, and P where every meter in the sum
// has P.
struct SumRow {
    std::int64_t wallMs = 0;
    std::int64_t units = 0; // S in ten-thousandths of a VA
    std::optional<double> watts;
    bool breakBefore = false; // the sum was absent before it
};

} // namespace talviren
