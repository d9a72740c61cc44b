#pragma once

#include "web/LiveFeed.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talviren::web {

// A request as the server has read it; the HTTP library has parsed it.
struct HttpRequest {
    std::string method;                       // "GET", "HEAD", ...
    std::string path;                         // decoded, without the query
    std::size_t headerBytes = 0;              // the request line and the headers, as received
    bool overCapacity = false;                // the connection came when the server was full
    std::optional<std::string> authorization; // the Authorization header
    std::optional<std::string> token;         // ?token=
    std::optional<std::string> since;         // ?since=
    std::optional<std::string> lastEventId;   // the Last-Event-ID header
};

// What to answer.
struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    bool eventStream = false;                 // the body is the event stream, from now on
    std::optional<std::uint64_t> resumeAfter; // the stream resumes after this reading
    bool close = false;                       // the connection closes after the answer
};

// The routes, read-only: GET / (the page), /api/readings, /api/events, /api/state and
// /metrics, with the limits every request meets first. Plain C++: the server hands it requests
// parsed by the HTTP library and sends what it answers.
class WebSite {
public:
    struct Settings {
        std::string meterId;
        std::string decimalSeparator = ".";
        std::string token;                     // empty: no token is asked for
        std::string page;                      // the HTML of /
        std::size_t maxHeaderBytes = 8 * 1024; // a longer request line and headers: 431
    };

    WebSite(const LiveFeed& feed, Settings settings);

    HttpResponse respond(const HttpRequest& request) const;

    const Settings& settings() const { return settings_; }

private:
    HttpResponse route(const HttpRequest& request) const;
    bool authorized(const HttpRequest& request) const;
    HttpResponse readings(const HttpRequest& request) const;
    HttpResponse page() const;

    const LiveFeed& feed_;
    Settings settings_;
    std::size_t stateAt_; // where the page takes the state as served
};

} // namespace talviren::web
