#pragma once

#include "power/PowerFactor.h"
#include "trend/Recording.h"

#include <optional>
#include <string>

namespace talviren::cli {

// The line watch ends with on standard error: readings, the time they cover, the energy and
// S at its minimum, mean and maximum, e.g.
// "summary: 7200 readings over 1:00:00.0, energy 2854.2420 VAh (2711.5299 Wh at PF 0.95),
//  S min 19.5585 VA mean 1427.1210 VA max 2854.242 VA". No line break.
std::string runSummary(const Recording& recording, std::optional<PowerFactor> powerFactor);

} // namespace talviren::cli
