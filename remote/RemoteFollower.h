#pragma once

#include "measure/Reading.h"
#include "remote/EventStreamReader.h"
#include "remote/HttpStream.h"
#include "remote/RemoteReading.h"

#include <cstdint>
#include <optional>
#include <string>

namespace talviren::remote {

// Where a remote logger is: a talviren-cli watch --http.
struct RemoteTarget {
    std::string baseUrl;   // "http://cellar.local:8080/" (ends in "/")
    std::string shown;     // "cellar.local:8080"
    std::string tokenFile; // its first line is the token; empty: none
};

// Hears what a follower brings.
class RemoteListener {
public:
    virtual ~RemoteListener() = default;
    // A reading, in the remote's order; `breakBefore` when readings were missed before it or
    // the remote started again.
    virtual void remoteReading(const RemoteReading& reading, bool breakBefore) = 0;
    // Connected, offline, refused or the remote's meter changed: the tile reads the follower.
    virtual void remoteChanged() {}
};

// Follows a remote logger: first the readings it keeps (/api/readings; the last hour on the
// first connect, what came after the last reading the window has afterwards), then its event
// stream (/api/events, resumed with Last-Event-ID), for as long as the window runs. A dropped
// connection is tried again after 1 s, 2 s, 4 s and so on, up to 30 s, so that a drop shorter
// than the remote's hour loses nothing; what the remote no longer keeps is counted and becomes
// a gap. A server that is no talviren logger (another content type, JSON that does not parse, a
// line over 1 MiB, an event that never ends) is refused with the reason, and tried again at the
// longest interval; 401 is "wrong token". Plain C++ over an HTTP stream and two countdowns.
class RemoteFollower {
public:
    static constexpr std::int64_t kFirstRetryMs = 1000;
    static constexpr std::int64_t kLongestRetryMs = 30'000;
    // The remote writes a comment every 15 s: this long without a byte, the connection is dead.
    static constexpr std::int64_t kSilenceMs = 45'000;
    static constexpr std::size_t kMaxReadings = 64u << 20; // the body of /api/readings

    RemoteFollower(RemoteTarget target, HttpStream& http, Countdown& retry, Countdown& silence,
                   RemoteListener& listener, std::string decimalSeparator,
                   const ReadingClock& clock = systemClock());

    void start();
    void stop();

    const RemoteTarget& target() const { return target_; }
    // The event stream is up and reading.
    bool connected() const { return state_ == State::Following; }
    // Since when it is not (wall clock ms); none while connected or before the first try failed.
    std::optional<std::int64_t> offlineSinceMs() const { return offlineSinceMs_; }
    // The server answered 401.
    bool wrongToken() const { return wrongToken_; }
    // Why the server is refused (no talviren logger, or the connection's error); empty when not.
    const std::string& problem() const { return problem_; }
    // Why the server is no talviren logger ("it answers HTTP 404"); empty when that is not
    // what is wrong.
    const std::string& refusal() const { return refusal_; }
    // Whether the remote's own meter is connected, as its link events say.
    bool remoteMeterUp() const { return remoteMeterUp_; }
    // Readings the remote no longer kept when they were asked for.
    std::uint64_t missed() const { return missed_; }
    // The seq of the last reading taken (0: none yet).
    std::uint64_t lastSeq() const { return lastSeq_; }
    // How long the next try waits.
    std::int64_t nextRetryMs() const { return retryMs_; }

private:
    enum class State { Idle, Loading, Opening, Following, Waiting };

    void connect();
    void loadReadings();
    void openEvents();
    std::vector<std::pair<std::string, std::string>> headers() const;
    // Checks the head of an answer; false (and the follower waits) when it is refused.
    bool accept(const HttpResponseHead& head, std::string_view contentType);
    void take(const RemoteReading& reading, bool breakBefore);
    void onEvent(const StreamEvent& event);
    void fail(std::string problem, bool refused, std::string refusal = {});
    // The server is no talviren logger, for this reason.
    void refuse(const std::string& why);
    void fed();

    RemoteTarget target_;
    HttpStream& http_;
    Countdown& retry_;
    Countdown& silence_;
    RemoteListener& listener_;
    std::string separator_;
    const ReadingClock& clock_;
    EventStreamReader reader_;
    State state_ = State::Idle;
    std::string body_;
    std::uint64_t lastSeq_ = 0;
    std::int64_t lastWallMs_ = 0;
    std::uint64_t missed_ = 0;
    bool gapPending_ = false; // the next reading starts a new line
    std::int64_t retryMs_ = kFirstRetryMs;
    std::optional<std::int64_t> offlineSinceMs_;
    bool wrongToken_ = false;
    bool remoteMeterUp_ = false;
    std::string problem_;
    std::string refusal_;
};

} // namespace talviren::remote
