#pragma once

#include "web/LiveFeed.h"

#include <string>
#include <string_view>

namespace talviren::web {

// The Content-Type of the metrics: the Prometheus text exposition format 0.0.4.
inline constexpr std::string_view kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// The run as Prometheus metrics, every series labelled meter="ID", in base units (A, V, Ω, VA,
// W, VA·s, J). The gauge of a quantity the meter is not measuring now, or that is over range,
// is left out rather than written as 0; the counters count from the start.
std::string metricsText(const LiveFeed& feed, std::string_view meterId);

} // namespace talviren::web
