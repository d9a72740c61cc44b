#pragma once

// A remote logger scripted by a test or the fuzzer: an HTTP stream and countdowns that do
// what they are told.

#include "remote/HttpStream.h"
#include "remote/RemoteFollower.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace talviren::testing {

// A logger of the test's own: each request is answered by the test, as it pleases.
class ScriptedHttp : public remote::HttpStream {
public:
    void get(const remote::HttpRequest& request, Handlers handlers) override {
        requests.push_back(request);
        handlers_ = std::move(handlers);
    }
    void abort() override {
        handlers_ = {};
        ++aborts;
    }
    void answer(int status, const std::string& type, const std::string& body, bool end,
                const std::string& missed = {}) {
        // Copies: a handler may abort, which lets go of the handlers.
        if (auto head = handlers_.head) {
            head({status, type, missed});
        }
        more(body);
        if (auto ended = handlers_.ended; end && ended) {
            ended({});
        }
    }
    // More of the body.
    void more(const std::string& body) {
        if (auto handler = handlers_.body; handler && !body.empty()) {
            handler(body);
        }
    }
    // The connection fails before any answer.
    void fail(const std::string& error) {
        if (auto handlers = handlers_; handlers.ended) {
            handlers.ended(error);
        }
    }
    std::string header(std::size_t i, const std::string& name) const {
        for (const auto& [key, value] : requests[i].headers) {
            if (key == name) {
                return value;
            }
        }
        return {};
    }
    std::vector<remote::HttpRequest> requests;
    int aborts = 0;

private:
    Handlers handlers_;
};

class ScriptedCountdown : public remote::Countdown {
public:
    void start(std::int64_t ms, std::function<void()> callback) override {
        started.push_back(ms);
        callback_ = std::move(callback);
    }
    void stop() override { callback_ = {}; }
    void fire() {
        if (auto callback = std::exchange(callback_, {})) {
            callback();
        }
    }
    std::vector<std::int64_t> started;

private:
    std::function<void()> callback_;
};

// Plays bytes as a remote logger's answers (its readings, then its event stream in pieces of
// any size) to a follower: the fuzz target's driver, also replayed by the suite. The first
// broken invariant, or empty.
inline std::string replayRemote(const std::uint8_t* data, std::size_t size) {
    struct Nothing : remote::RemoteListener {
        void remoteReading(const remote::RemoteReading&, bool) override {}
    } listener;
    ScriptedHttp http;
    ScriptedCountdown retry, silence;
    remote::RemoteFollower follower({"http://x:1/", "x:1", ""}, http, retry, silence, listener,
                                    ".");
    follower.start();
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.empty() ? 0 : static_cast<unsigned char>(input[0]) % 64;
    input.remove_prefix(input.empty() ? 0 : 1);
    // The hour: up to `split` bytes as a JSON body; then the rest as the stream, in pieces.
    const std::string_view hour = input.substr(0, split);
    input.remove_prefix(hour.size());
    http.answer(200, "application/json", std::string(hour), true);
    http.answer(200, "text/event-stream", {}, false);
    // Each piece: its length in a byte (+1, up to 128), then its bytes.
    while (!input.empty()) {
        const std::size_t piece = 1 + static_cast<unsigned char>(input[0]) % 128;
        input.remove_prefix(1);
        http.more(std::string(input.substr(0, piece)));
        input.remove_prefix(std::min(piece, input.size()));
    }
    if (!follower.connected() && follower.problem().empty()) {
        return "offline without a reason";
    }
    return {};
}

} // namespace talviren::testing
