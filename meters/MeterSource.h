#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talviren {

// Where a meter of the window comes from, as one line of the settings' [meters] group:
//   L1=scan                                   the window's own meter, found by the scan
//   L2=COM5                                   a local port, pinned
//   L3=http://cellar.local:8080/ token-file /home/u/.config/talviren/cellar-token
//                                             a remote talviren-cli watch --http
struct MeterSource {
    enum class Kind { Scan, Port, Remote };

    std::string name; // letters, digits, - and _
    Kind kind = Kind::Scan;
    int port = 0;          // Port: 1 to 16
    std::string url;       // Remote: "http://HOST:PORT/" (ends in "/")
    std::string host;      // Remote: "cellar.local:8080", as the tile shows it
    std::string tokenFile; // Remote: the token's file; empty for none
    std::string line;      // the value as written

    bool remote() const { return kind == Kind::Remote; }
};

// A line read, or why it cannot be: `error` names the meter and what is wrong.
struct MeterParse {
    std::optional<MeterSource> source;
    std::string error;
};

// Whether `name` can name a meter: letters, digits, - and _, not empty, not "total" (the sum).
bool isMeterName(std::string_view name);

// Reads one meter, given as its name and the rest of its line.
MeterParse parseMeter(std::string_view name, std::string_view value);

// Meters read together: names unique (regardless of case), one scan at most, each port once.
// The first problem, or none.
std::optional<std::string> checkMeters(const std::vector<MeterSource>& meters);

// The window's meters when the settings name none: its own, as "local".
std::vector<MeterSource> defaultMeters();

} // namespace talviren
