#pragma once

#include "web/LiveFeed.h"

#include <string>
#include <string_view>

namespace talviren::web {

// What the page shows beside the readings, as one JSON object: the meter's name, the power
// factor, the link, every alarm with its state, and the statistics and energy since the start
// with their texts as the Trend view writes them.
std::string runStateJson(const LiveFeed& feed, std::string_view meterId,
                         std::string_view decimalSeparator);

} // namespace talviren::web
