#pragma once

#include "measure/Reading.h"
#include "power/PowerFactor.h"
#include "json/JsonValue.h"

#include <cstdint>
#include <optional>
#include <string>

namespace talviren::remote {

// A reading as another talviren serves it (the JSON of /api/readings and of an event stream's
// reading events): its number in the remote's run, the reading with the remote's time (its
// counts read back from the texts the remote showed), and the power factor the remote has.
struct RemoteReading {
    std::uint64_t seq = 0;
    TimedReading reading;
    std::optional<PowerFactor> powerFactor;
};

// Reads one reading object; none, with `error`, when it is no reading of a talviren.
// `decimalSeparator` is this window's, for the texts it shows.
std::optional<RemoteReading> remoteReading(const json::JsonValue& object,
                                           std::string_view decimalSeparator, std::string& error);

} // namespace talviren::remote
