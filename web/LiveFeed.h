#pragma once

#include "alarm/AlarmEngine.h"
#include "link/LinkEvents.h"
#include "power/PowerFactor.h"
#include "trend/Recording.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talviren::web {

// How the link stands, as the web tells it.
struct LinkStatus {
    enum class State : std::uint8_t { Searching, Connected, Lost };
    State state = State::Searching; // searching: no meter has answered since the start
    int port = 0;                   // while connected
    std::string device;             // while connected
    std::int64_t sinceWallMs = 0;   // when it came up or was lost
};

// One event of the run, as an event stream sends it: a reading, a change of the link, or an
// alarm's raise or clear. Its frame is written once, whoever reads it.
struct FeedEvent {
    enum class Kind : std::uint8_t { Reading, Link, Alarm };
    Kind kind = Kind::Reading;
    std::uint64_t index = 0;     // every event counts, from 1
    std::uint64_t seq = 0;       // a reading's seq; 0 for the others
    std::int64_t steadyNs = 0;   // when it happened, for keeping the last hour
    std::uint64_t endOffset = 0; // bytes of every frame so far, this one's included
    std::string frame;           // "event: reading\nid: 12\ndata: {...}\n\n"
    std::size_t dataStart = 0;   // the JSON inside the frame
    std::size_t dataLength = 0;

    std::string_view data() const { return std::string_view(frame).substr(dataStart, dataLength); }
    std::uint64_t startOffset() const { return endOffset - frame.size(); }
};

// Appends an event-stream frame ("event: NAME", "id: ID" when given, "data: DATA", an empty
// line); returns where DATA starts in `out`.
std::size_t appendFrame(std::string& out, std::string_view name, std::string_view data,
                        std::optional<std::uint64_t> id = std::nullopt);

// Hears the feed grow.
class FeedListener {
public:
    virtual ~FeedListener() = default;
    virtual void eventAdded(const FeedEvent& event) = 0;
};

// The run as the web serves it, fed by the session's recording, the link's events and the
// alarms: the last hour of events with their JSON (the reading JSON MQTT publishes), the link's
// state, the latest reading while the meter is measuring, and the counts since the start.
// Plain C++; one per server.
class LiveFeed : public LinkEvents, public RecordingListener, public AlarmListener {
public:
    static constexpr std::int64_t kHourNs = 3'600'000'000'000;

    // `clock` times the link's changes; readings and alarms bring their own times.
    LiveFeed(const Recording& recording, const AlarmEngine& alarms,
             std::optional<PowerFactor> powerFactor, const ReadingClock& clock = systemClock(),
             std::int64_t keepNs = kHourNs);

    void readingRecorded(const TimedReading& reading) override;
    void linkCameUp(const LinkUp& up) override;
    void linkLost(const LinkLoss& loss) override;
    void alarmChanged(const AlarmEvent& event) override;

    // The one listener (the event streams), or none.
    void setListener(FeedListener* listener) { listener_ = listener; }

    // The event numbered `index`, or none when it is no longer kept or not there yet.
    const FeedEvent* event(std::uint64_t index) const;
    // The number the next event gets; the oldest one kept.
    std::uint64_t nextIndex() const { return nextIndex_; }
    std::uint64_t firstIndex() const {
        return events_.empty() ? nextIndex_ : events_.front().index;
    }
    // Bytes of every frame so far.
    std::uint64_t endOffset() const { return events_.empty() ? 0 : events_.back().endOffset; }
    // The readings kept after `seq`, oldest first, and how many after it are no longer kept.
    std::vector<const FeedEvent*> readingsAfter(std::uint64_t seq, std::uint64_t& missed) const;
    // The first event kept after reading `seq` (all that is kept when that reading is no longer
    // kept, or is unknown to this run).
    std::uint64_t indexAfterReading(std::uint64_t seq) const;

    const LinkStatus& link() const { return link_; }
    // The link's state as the JSON of a link event.
    std::string linkJson() const;
    // The latest reading since the link came up: what the meter measures now.
    const std::optional<TimedReading>& current() const { return current_; }
    // Live readings since the start, and those with either quantity over range.
    std::uint64_t readings() const { return recording_.liveCount(); }
    std::uint64_t currentOverloads() const { return currentOverloads_; }
    std::uint64_t secondOverloads() const { return secondOverloads_; }

    // The log the run writes (the recording's unless set), or none.
    const DurableLog* log() const { return log_ ? log_ : recording_.log(); }
    void setLog(const DurableLog* log) { log_ = log; }
    // Whether the kernel says the system clock is synchronised; none when it cannot tell.
    std::optional<bool> clockSynchronised() const { return clockSynchronised_; }
    void setClockSynchronised(std::optional<bool> synchronised) {
        clockSynchronised_ = synchronised;
    }

    const Recording& recording() const { return recording_; }
    const AlarmEngine& alarms() const { return alarms_; }
    std::optional<PowerFactor> powerFactor() const { return powerFactor_; }

private:
    void add(FeedEvent::Kind kind, std::uint64_t seq, std::int64_t steadyNs, std::string_view name,
             std::string_view json);

    const Recording& recording_;
    const AlarmEngine& alarms_;
    std::optional<PowerFactor> powerFactor_;
    const ReadingClock& clock_;
    std::int64_t keepNs_;
    std::deque<FeedEvent> events_;
    std::uint64_t nextIndex_ = 1;
    LinkStatus link_;
    std::optional<TimedReading> current_;
    std::uint64_t currentOverloads_ = 0;
    std::uint64_t secondOverloads_ = 0;
    FeedListener* listener_ = nullptr;
    const DurableLog* log_ = nullptr;
    std::optional<bool> clockSynchronised_;
};

} // namespace talviren::web
