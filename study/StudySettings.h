#pragma once

#include "power/PowerFactor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talviren::study {

// Which 15-minute demand the 220.87 check takes: the highest of windows stepping by a minute
// (the cautious reading of "a 15-minute period"), or of the clock's quarter hours.
enum class Demand { Sliding, Block };

// What a load study is asked: how long its intervals are, how much of one must be measured for
// it to count, the power factor its P is taken at, the period it keeps to, and the service the
// 220.87 check sizes.
struct StudySettings {
    int intervalS = 900;                    // 60, 300, 600, 900, 1800 or 3600
    double minCoverage = 0.9;               // of an interval, for its mean to count
    std::optional<PowerFactor> powerFactor; // none: no P
    std::optional<std::int64_t> fromDay;    // the first local day kept (days since 1970)
    std::optional<std::int64_t> toDay;      // the last one, included
    std::optional<double> ratingA;          // the service's rating: with it, the check
    double newLoadA = 0;                    // the load to be added
    Demand demand = Demand::Sliding;
};

// One meter's logs: its name, and its files (plain or gzip-compressed, in any order).
struct MeterFiles {
    std::string name;
    std::vector<std::string> files;
};

// "15m", "1h", "5m": the intervals a study takes (1m, 5m, 10m, 15m, 30m, 1h); none for others.
std::optional<int> parseInterval(std::string_view text);
// "90%", "90", "12.5%": a coverage above 0 and at most 100 %, as a fraction; none for others.
std::optional<double> parseCoverage(std::string_view text);
// "200A", "48", "12.5A": amperes, not negative; none for others.
std::optional<double> parseAmperes(std::string_view text);
// "2026-01-12": the day, as days since 1970-01-01; none for what is no date.
std::optional<std::int64_t> parseDay(std::string_view text);
// The interval as the summary names it: "15 min", "1 h".
std::string intervalName(int intervalS);

} // namespace talviren::study
