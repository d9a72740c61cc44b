#pragma once

#include "web/LiveFeed.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

namespace talviren::web {

// The clients of the event stream. Each reads the feed's frames from a cursor of its own, so
// that a reading is written once however many read it, and what waits for a slow client is
// counted, not copied. Plain C++: the server hands the bytes to the network.
class EventStreams : public FeedListener {
public:
    // What the server does with the streams' connections.
    class Connections {
    public:
        virtual ~Connections() = default;
        // New events wait: deliver() is to be called soon, outside the reading's path.
        virtual void due() = 0;
        // The stream has something to send again.
        virtual void wake(std::uint64_t stream) = 0;
        // The stream let too much pile up: its connection is to be closed.
        virtual void drop(std::uint64_t stream) = 0;
    };

    // What may wait for one client before it loses its connection.
    static constexpr std::size_t kMaxBacklog = 1 << 20;

    EventStreams(LiveFeed& feed, Connections& connections, std::size_t maxBacklog = kMaxBacklog);
    ~EventStreams() override;
    EventStreams(const EventStreams&) = delete;
    EventStreams& operator=(const EventStreams&) = delete;

    // A new stream: the state now (the link, each raised alarm), then, when it resumes after
    // reading `resumeAfter`, what is kept after that reading, then every new event.
    std::uint64_t open(std::optional<std::uint64_t> resumeAfter);
    // Copies at most `max` bytes of what is due into `buffer`; 0 when nothing is.
    std::size_t take(std::uint64_t stream, char* buffer, std::size_t max);
    void close(std::uint64_t stream);
    // A comment on every stream, so that a quiet stream (no meter) still shows it is alive and
    // a peer that has gone is noticed.
    void keepAlive();

    std::size_t count() const { return streams_.size(); }
    // Bytes that came after the stream opened and wait for it (what it resumed from is not
    // counted: it asked for that).
    std::size_t backlog(std::uint64_t stream) const;

    // Notes the event for deliver(): a reading costs the same however many clients listen.
    void eventAdded(const FeedEvent& event) override;
    // Wakes every stream the new events are for, and drops those that let too much pile up.
    void deliver();

private:
    struct Stream {
        std::uint64_t cursor = 0;   // the feed event it reads next
        std::uint64_t liveFrom = 0; // the first event that came after it opened
        std::string own; // its own frames (the state at the start, keep-alives, the rest of a
                         // frame too large for one take)
        std::size_t ownTaken = 0;
        bool dropped = false;
    };

    std::size_t backlog(const Stream& stream) const;

    LiveFeed& feed_;
    Connections& connections_;
    std::size_t maxBacklog_;
    std::unordered_map<std::uint64_t, Stream> streams_;
    std::uint64_t nextId_ = 1;
    bool undelivered_ = false;
};

} // namespace talviren::web
