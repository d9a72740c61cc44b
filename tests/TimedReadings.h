#pragma once

#include "measure/Reading.h"

namespace talviren::testing {

// Live reading number `tick` of a run at 2 Hz, decoded with "." as the separator.
inline TimedReading timedReading(const MeterReading& raw, int tick) {
    TimedReading r;
    static_cast<DecodedReading&>(r) = decodeReading(raw, ".");
    r.wallMs = 1'765'000'000'000 + tick * 500LL;
    r.steadyNs = tick * 500'000'000LL;
    return r;
}

} // namespace talviren::testing
