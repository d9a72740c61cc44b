#include "web/EventStreams.h"

#include "json/ReadingJson.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace talviren::web {

EventStreams::EventStreams(LiveFeed& feed, Connections& connections, std::size_t maxBacklog)
    : feed_(feed), connections_(connections), maxBacklog_(maxBacklog) {
    feed_.setListener(this);
}

EventStreams::~EventStreams() {
    feed_.setListener(nullptr);
}

std::uint64_t EventStreams::open(std::optional<std::uint64_t> resumeAfter) {
    Stream stream;
    stream.liveFrom = feed_.nextIndex();
    stream.cursor = resumeAfter ? feed_.indexAfterReading(*resumeAfter) : stream.liveFrom;
    // A browser that loses the stream tries again after two seconds.
    stream.own = "retry: 2000\n\nevent: link\ndata: " + feed_.linkJson() + "\n\n";
    const AlarmEngine& alarms = feed_.alarms();
    for (std::size_t i = 0; i < alarms.rules().size(); ++i) {
        if (const auto& raise = alarms.raisedBy(i)) {
            stream.own +=
                "event: alarm\ndata: " + json::alarmEventJson(*raise, feed_.powerFactor()) + "\n\n";
        }
    }
    const std::uint64_t id = nextId_++;
    streams_.emplace(id, std::move(stream));
    return id;
}

std::size_t EventStreams::take(std::uint64_t id, char* buffer, std::size_t max) {
    const auto found = streams_.find(id);
    if (found == streams_.end()) {
        return 0;
    }
    Stream& s = found->second;
    std::size_t taken = 0;
    const auto copy = [&](std::string_view from) {
        const std::size_t n = std::min(from.size(), max - taken);
        std::memcpy(buffer + taken, from.data(), n);
        taken += n;
        return n;
    };
    s.ownTaken += copy(std::string_view(s.own).substr(s.ownTaken));
    if (s.ownTaken == s.own.size()) {
        s.own.clear();
        s.ownTaken = 0;
    }
    if (s.cursor < feed_.firstIndex()) {
        // The hour moved on past it (it resumed from long ago and reads slowly).
        s.cursor = feed_.firstIndex();
        s.frameTaken = 0;
    }
    while (taken < max && s.cursor < feed_.nextIndex()) {
        const std::string& frame = feed_.event(s.cursor)->frame;
        s.frameTaken += copy(std::string_view(frame).substr(s.frameTaken));
        if (s.frameTaken == frame.size()) {
            ++s.cursor;
            s.frameTaken = 0;
        }
    }
    return taken;
}

void EventStreams::close(std::uint64_t id) {
    streams_.erase(id);
}

void EventStreams::keepAlive() {
    for (auto& [id, stream] : streams_) {
        stream.own += ":\n\n";
        connections_.wake(id);
    }
}

std::size_t EventStreams::backlog(std::uint64_t id) const {
    const auto found = streams_.find(id);
    return found == streams_.end() ? 0 : backlog(found->second);
}

std::size_t EventStreams::backlog(const Stream& s) const {
    std::size_t bytes = s.own.size() - s.ownTaken;
    const std::uint64_t from = std::max({s.cursor, s.liveFrom, feed_.firstIndex()});
    if (const FeedEvent* event = feed_.event(from)) {
        bytes += feed_.endOffset() - event->startOffset();
        if (from == s.cursor) {
            bytes -= s.frameTaken;
        }
    }
    return bytes;
}

void EventStreams::eventAdded(const FeedEvent&) {
    if (!undelivered_) {
        undelivered_ = true;
        connections_.due();
    }
}

void EventStreams::deliver() {
    if (!undelivered_) {
        return;
    }
    undelivered_ = false;
    std::vector<std::uint64_t> wake;
    std::vector<std::uint64_t> drop;
    for (auto& [id, stream] : streams_) {
        if (stream.dropped) {
            continue;
        }
        if (backlog(stream) > maxBacklog_) {
            stream.dropped = true;
            drop.push_back(id);
        } else {
            wake.push_back(id);
        }
    }
    // Told after the walk: the server may close a stream while it hears of it.
    for (const std::uint64_t id : drop) {
        connections_.drop(id);
    }
    for (const std::uint64_t id : wake) {
        connections_.wake(id);
    }
}

} // namespace talviren::web
