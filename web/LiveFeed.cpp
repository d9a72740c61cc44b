#include "web/LiveFeed.h"

#include "json/ReadingJson.h"

#include <algorithm>

namespace talviren::web {

std::size_t appendFrame(std::string& out, std::string_view name, std::string_view data,
                        std::optional<std::uint64_t> id) {
    out.append("event: ").append(name).append("\n");
    if (id) {
        out.append("id: ").append(std::to_string(*id)).append("\n");
    }
    out.append("data: ");
    const std::size_t start = out.size();
    out.append(data).append("\n\n");
    return start;
}

LiveFeed::LiveFeed(const Recording& recording, const AlarmEngine& alarms,
                   std::optional<PowerFactor> powerFactor, const ReadingClock& clock,
                   std::int64_t keepNs)
    : recording_(recording), alarms_(alarms), powerFactor_(powerFactor), clock_(clock),
      keepNs_(keepNs) {}

void LiveFeed::readingRecorded(const TimedReading& reading) {
    current_ = reading;
    currentOverloads_ += reading.current && reading.current->overload ? 1 : 0;
    secondOverloads_ += reading.second && reading.second->overload ? 1 : 0;
    const std::uint64_t seq = recording_.liveCount();
    add(FeedEvent::Kind::Reading, seq, reading.steadyNs, "reading",
        json::readingJson(seq, reading, recording_.power().apparentEnergyVAh(), powerFactor_));
}

void LiveFeed::linkCameUp(const LinkUp& up) {
    link_ = {LinkStatus::State::Connected, up.port, up.devicePath, clock_.wallMs()};
    add(FeedEvent::Kind::Link, 0, clock_.steadyNs(), "link", linkJson());
}

void LiveFeed::linkLost(const LinkLoss& loss) {
    if (!loss.wasUp) {
        return; // the search goes on: nothing new to tell
    }
    link_ = {LinkStatus::State::Lost, 0, {}, clock_.wallMs()};
    current_.reset(); // nothing is measured while the meter is away
    add(FeedEvent::Kind::Link, 0, clock_.steadyNs(), "link", linkJson());
}

void LiveFeed::alarmChanged(const AlarmEvent& event) {
    add(FeedEvent::Kind::Alarm, 0, event.reading ? event.reading->steadyNs : clock_.steadyNs(),
        "alarm", json::alarmEventJson(event, powerFactor_));
}

std::string LiveFeed::linkJson() const {
    static constexpr const char* kStates[] = {"searching", "connected", "lost"};
    std::string out = "{";
    json::appendKey(out, "state");
    json::appendString(out, kStates[static_cast<int>(link_.state)]);
    if (link_.state == LinkStatus::State::Connected) {
        json::appendKey(out, "port");
        out += std::to_string(link_.port);
        json::appendKey(out, "device");
        json::appendString(out, link_.device);
    }
    if (link_.state != LinkStatus::State::Searching) {
        json::appendKey(out, "time");
        json::appendTime(out, link_.sinceWallMs);
    }
    out += '}';
    return out;
}

void LiveFeed::add(FeedEvent::Kind kind, std::uint64_t seq, std::int64_t steadyNs,
                   std::string_view name, std::string_view json) {
    FeedEvent event;
    event.kind = kind;
    event.index = nextIndex_++;
    event.seq = seq;
    event.steadyNs = steadyNs;
    event.frame.reserve(json.size() + 48);
    // Only readings carry an id: a client resumes from the last reading it has.
    event.dataStart =
        appendFrame(event.frame, name, json,
                    kind == FeedEvent::Kind::Reading ? std::optional(seq) : std::nullopt);
    event.dataLength = json.size();
    event.endOffset = endOffset() + event.frame.size();
    events_.push_back(std::move(event));
    while (events_.front().steadyNs < steadyNs - keepNs_) {
        events_.pop_front();
    }
    if (listener_) {
        listener_->eventAdded(events_.back());
    }
}

const FeedEvent* LiveFeed::event(std::uint64_t index) const {
    if (index < firstIndex() || index >= nextIndex_) {
        return nullptr;
    }
    return &events_[static_cast<std::size_t>(index - firstIndex())];
}

std::vector<const FeedEvent*> LiveFeed::readingsAfter(std::uint64_t seq,
                                                      std::uint64_t& missed) const {
    std::vector<const FeedEvent*> readings;
    std::uint64_t firstKept = recording_.liveCount() + 1;
    for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
        if (it->kind != FeedEvent::Kind::Reading) {
            continue;
        }
        if (it->seq <= seq) {
            break;
        }
        readings.push_back(&*it);
        firstKept = it->seq;
    }
    std::reverse(readings.begin(), readings.end());
    missed = firstKept > seq + 1 ? firstKept - seq - 1 : 0;
    return readings;
}

std::uint64_t LiveFeed::indexAfterReading(std::uint64_t seq) const {
    for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
        if (it->kind == FeedEvent::Kind::Reading && it->seq == seq) {
            return it->index + 1;
        }
    }
    return firstIndex();
}

} // namespace talviren::web
