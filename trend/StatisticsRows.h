#pragma once

#include "power/PowerFactor.h"
#include "trend/Recording.h"
#include "trend/SumPoint.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace talviren {

// One row of the statistics as the Trend view shows them: its name ("AC I", "L2 S", "Σ P")
// and its cells Last, Min, Max, Mean, Count and OL, as texts.
struct StatisticsRow {
    std::string name;
    std::array<std::string, 6> cells;

    friend bool operator==(const StatisticsRow&, const StatisticsRow&) = default;
};

// The column titles, in their order.
inline constexpr std::array<const char*, 6> kStatisticsColumns = {"Last", "Min",   "Max",
                                                                  "Mean", "Count", "OL"};

// The rows of a recording: one per kind of quantity it has seen, with the texts of the readings
// themselves, then S, and P at a power factor (P's figures are S's times PF, to the milliwatt).
// `prefix` goes before every name ("L2 "), `separator` into every number.
std::vector<StatisticsRow> statisticsRows(const Recording& recording,
                                          std::optional<PowerFactor> factor,
                                          const std::string& prefix, const std::string& separator);

// The rows of the sum of several meters: Σ S, and Σ P where it has P.
std::vector<StatisticsRow> sumStatisticsRows(const SumTally& tally, const std::string& separator);

} // namespace talviren
