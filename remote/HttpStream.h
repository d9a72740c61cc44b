#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talviren::remote {

// A GET request.
struct HttpRequest {
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
};

// What the server said before the body.
struct HttpResponseHead {
    int status = 0;
    std::string contentType;
    std::string missed; // the Talviren-Missed header, if any
};

// One GET at a time whose body is handed on as it comes (an event stream never ends). The Qt
// adapter is session/QtHttpStream; tests put in servers of their own.
class HttpStream {
public:
    struct Handlers {
        std::function<void(const HttpResponseHead& head)> head;
        std::function<void(std::string_view bytes)> body;
        // The answer ended: `error` empty when the server closed it whole.
        std::function<void(const std::string& error)> ended;
    };
    virtual ~HttpStream() = default;
    // Sends the request; the handlers are called from the event loop, never inside get().
    virtual void get(const HttpRequest& request, Handlers handlers) = 0;
    // Drops the request under way; no handler is called for it afterwards.
    virtual void abort() = 0;
};

// A single-shot timer: the callback runs once, `ms` after start(), unless stopped before.
class Countdown {
public:
    virtual ~Countdown() = default;
    virtual void start(std::int64_t ms, std::function<void()> callback) = 0;
    virtual void stop() = 0;
};

} // namespace talviren::remote
