#include "web/WebSite.h"

#include "web/Metrics.h"
#include "web/RunState.h"

#include <charconv>
#include <strings.h>

namespace talviren::web {

namespace {

HttpResponse text(int status, std::string body) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain; charset=utf-8";
    response.body = std::move(body) + "\n";
    return response;
}

HttpResponse json(std::string body) {
    HttpResponse response;
    response.contentType = "application/json";
    response.body = std::move(body);
    response.headers.emplace_back("Cache-Control", "no-store");
    return response;
}

// A reading's seq: a whole number and nothing else.
std::optional<std::uint64_t> seqOf(const std::string& text) {
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Compares in a time that does not depend on where the two differ.
bool sameSecret(const std::string& given, const std::string& secret) {
    unsigned char difference = given.size() == secret.size() ? 0 : 1;
    for (std::size_t i = 0; i < given.size(); ++i) {
        difference |= static_cast<unsigned char>(given[i] ^ secret[i % secret.size()]);
    }
    return difference == 0;
}

} // namespace

namespace {

constexpr std::string_view kStateMarker = "/*initial-state*/";

} // namespace

WebSite::WebSite(const LiveFeed& feed, Settings settings)
    : feed_(feed), settings_(std::move(settings)), stateAt_(settings_.page.find(kStateMarker)) {}

bool WebSite::authorized(const HttpRequest& request) const {
    if (settings_.token.empty()) {
        return true;
    }
    if (request.token && sameSecret(*request.token, settings_.token)) {
        return true;
    }
    // "Bearer TOKEN", the scheme in any case (RFC 7235), as Prometheus' authorization sends it.
    static constexpr std::string_view kBearer = "Bearer ";
    const auto& header = request.authorization;
    if (!header || header->size() <= kBearer.size() ||
        ::strncasecmp(header->c_str(), kBearer.data(), kBearer.size()) != 0) {
        return false;
    }
    const std::size_t start = header->find_first_not_of(' ', kBearer.size());
    return start != std::string::npos && sameSecret(header->substr(start), settings_.token);
}

HttpResponse WebSite::respond(const HttpRequest& request) const {
    HttpResponse response = route(request);
    // No answer is to be sniffed as another type, and a token in the address stays here.
    response.headers.emplace_back("X-Content-Type-Options", "nosniff");
    response.headers.emplace_back("Referrer-Policy", "no-referrer");
    return response;
}

HttpResponse WebSite::route(const HttpRequest& request) const {
    if (request.overCapacity) {
        HttpResponse response = text(503, "too many clients: try again later");
        response.headers.emplace_back("Retry-After", "5");
        response.close = true;
        return response;
    }
    if (request.headerBytes > settings_.maxHeaderBytes) {
        HttpResponse response =
            text(431, "the request line and headers exceed " +
                          std::to_string(settings_.maxHeaderBytes / 1024) + " KiB");
        response.close = true;
        return response;
    }
    if (request.method != "GET" && request.method != "HEAD") {
        HttpResponse response = text(405, "only GET and HEAD: nothing here can be changed");
        response.headers.emplace_back("Allow", "GET, HEAD");
        return response;
    }
    if (!authorized(request)) {
        HttpResponse response =
            text(401, "a token is needed: Authorization: Bearer TOKEN, or ?token=TOKEN");
        response.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"talviren\"");
        return response;
    }
    const std::string& path = request.path;
    if (path == "/") {
        return page();
    }
    if (path == "/api/readings") {
        return readings(request);
    }
    if (path == "/api/events") {
        HttpResponse response;
        response.contentType = "text/event-stream";
        response.headers.emplace_back("Cache-Control", "no-store");
        response.eventStream = true;
        // Last-Event-ID is what a browser sends when it reconnects; ?since= starts a stream
        // where a page's first load of /api/readings ended.
        if (request.lastEventId) {
            response.resumeAfter = seqOf(*request.lastEventId);
        } else if (request.since) {
            response.resumeAfter = seqOf(*request.since);
        }
        return response;
    }
    if (path == "/api/state") {
        return json(runStateJson(feed_, settings_.meterId, settings_.decimalSeparator));
    }
    if (path == "/metrics") {
        HttpResponse response;
        response.contentType = kMetricsContentType;
        response.body = metricsText(feed_, settings_.meterId);
        response.headers.emplace_back("Cache-Control", "no-store");
        return response;
    }
    return text(404, "not found: the routes are /, /api/readings, /api/events, /api/state "
                     "and /metrics");
}

HttpResponse WebSite::page() const {
    HttpResponse response;
    response.contentType = "text/html; charset=utf-8";
    // The state and the latest reading go inside the page, so that it shows them at once,
    // before its first request.
    std::string state =
        "{\"state\":" + runStateJson(feed_, settings_.meterId, settings_.decimalSeparator) +
        ",\"latest\":";
    std::uint64_t missed = 0;
    const auto latest =
        feed_.readingsAfter(feed_.readings() > 0 ? feed_.readings() - 1 : 0, missed);
    state += latest.empty() ? std::string("null") : std::string(latest.back()->data());
    state += '}';
    // Inside a <script> element nothing may close it: every "<" goes as its JSON escape.
    for (auto at = state.find('<'); at != std::string::npos; at = state.find('<', at)) {
        state.replace(at, 1, "\\u003c");
    }
    if (stateAt_ == std::string::npos) {
        response.body = settings_.page;
    } else {
        response.body.reserve(settings_.page.size() + state.size());
        response.body.append(settings_.page, 0, stateAt_)
            .append(state)
            .append(settings_.page, stateAt_ + kStateMarker.size());
    }
    // The page's own script and styles, and requests back to this server: nothing else.
    response.headers.emplace_back("Content-Security-Policy",
                                  "default-src 'none'; script-src 'unsafe-inline'; "
                                  "style-src 'unsafe-inline'; connect-src 'self'; "
                                  "img-src data:; base-uri 'none'; form-action 'none'");
    response.headers.emplace_back("Cache-Control", "no-cache");
    return response;
}

HttpResponse WebSite::readings(const HttpRequest& request) const {
    std::uint64_t since = 0;
    if (request.since) {
        const auto seq = seqOf(*request.since);
        if (!seq) {
            return text(400, "since takes the seq of a reading, a whole number, not '" +
                                 *request.since + "'");
        }
        since = *seq;
    }
    std::uint64_t missed = 0;
    const std::vector<const FeedEvent*> kept = feed_.readingsAfter(since, missed);
    std::string body;
    std::size_t size = 2;
    for (const FeedEvent* event : kept) {
        size += event->dataLength + 1;
    }
    body.reserve(size);
    body += '[';
    for (const FeedEvent* event : kept) {
        if (body.size() > 1) {
            body += ',';
        }
        body += event->data();
    }
    body += ']';
    HttpResponse response = json(std::move(body));
    if (missed > 0) {
        // The readings asked for that are no longer kept (more than an hour old).
        response.headers.emplace_back("Talviren-Missed", std::to_string(missed));
    }
    return response;
}

} // namespace talviren::web
