#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace talviren {

// How a meter's link stands, as a tile tells it: whether it is up, and if not, what is wrong
// with the detail that belongs to it. The words are the window's (ui/LinkTexts).
struct LinkStatus {
    enum class Problem : std::uint8_t {
        None,        // up: a local meter polled on `port`, a remote followed at `where`
        Searching,   // a local meter not found yet
        Connecting,  // a remote tried for the first time
        Offline,     // lost since `sinceMs`
        MeterSilent, // the remote is followed, but its own meter does not answer
        WrongToken,  // the remote answered 401
        Refused,     // the server is no talviren logger: `detail` says why
    };

    Problem problem = Problem::Searching;
    std::string detail;                  // Refused: why, after "not a talviren logger: "
    int port = 0;                        // local and up: the port it is on
    std::string where;                   // remote: "cellar.local:8080"
    std::optional<std::int64_t> sinceMs; // Offline: since when (wall clock)

    bool up() const { return problem == Problem::None || problem == Problem::MeterSilent; }
    bool remote() const { return !where.empty(); }

    friend bool operator==(const LinkStatus&, const LinkStatus&) = default;
};

} // namespace talviren
