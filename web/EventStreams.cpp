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
    stream.own = "retry: 2000\n\n";
    appendFrame(stream.own, "link", feed_.linkJson());
    const AlarmEngine& alarms = feed_.alarms();
    for (std::size_t i = 0; i < alarms.rules().size(); ++i) {
        if (const auto& raise = alarms.raisedBy(i)) {
            appendFrame(stream.own, "alarm", json::alarmEventJson(*raise, feed_.powerFactor()));
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
    std::size_t taken = std::min(s.own.size() - s.ownTaken, max);
    std::memcpy(buffer, s.own.data() + s.ownTaken, taken);
    s.ownTaken += taken;
    if (s.ownTaken == s.own.size()) {
        s.own.clear();
        s.ownTaken = 0;
    }
    // Whole frames from the feed, so that no stream is ever in the middle of one the hour may
    // drop; a frame larger than the whole buffer goes in part, its rest to the stream's own.
    s.cursor = std::max(s.cursor, feed_.firstIndex());
    while (s.own.empty() && s.cursor < feed_.nextIndex()) {
        const std::string& frame = feed_.event(s.cursor)->frame;
        if (frame.size() > max - taken) {
            if (taken > 0) {
                break;
            }
            s.own.assign(frame, max, std::string::npos);
        }
        const std::size_t part = std::min(frame.size(), max - taken);
        std::memcpy(buffer + taken, frame.data(), part);
        taken += part;
        ++s.cursor;
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
