#pragma once

#include "alarm/AlarmRule.h"
#include "base/Listeners.h"
#include "measure/Reading.h"
#include "power/PowerFactor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace talviren {

// A raise or a clear.
struct AlarmEvent {
    const AlarmRule* rule = nullptr;
    bool raised = false;
    std::int64_t wallMs = 0; // when: the reading's time, or the clock's for no-reading
    std::string valueText;   // the watched value as shown ("15.2A", "2854.242VA"); empty when none
    std::optional<TimedReading> reading; // the reading that raised or cleared it, if one did
    // "current 15.2A > 15A for 2s" for a raise, "current 13.9A" for a clear.
    std::string detail() const;
};

// Hears the alarms change.
class AlarmListener {
public:
    virtual ~AlarmListener() = default;
    virtual void alarmChanged(const AlarmEvent& /*event*/) {}
    // The alarms were replaced: every one is clear again, and earlier events name rules gone.
    virtual void alarmsConfigured() {}
};

// Watches every reading against a set of alarms: clear, pending while the condition holds and
// its duration has not passed, raised, and clear again past the clear limit. Durations run on
// the readings' steady clock, so that tests drive it without waiting and a clock step changes
// nothing. A reading without the watched quantity (another function) neither raises nor clears;
// an overload of it counts as above any > limit and outside any range. Plain C++, one per
// session, fed by the session's recording; the window and talviren-cli use the same one.
class AlarmEngine {
public:
    // What an alarm is doing now.
    enum class State : std::uint8_t { Clear, Pending, Raised };

    // Replaces the alarms (all start clear, no-reading counting from `steadyNs`).
    void configure(std::vector<AlarmRule> rules, std::optional<PowerFactor> powerFactor,
                   std::int64_t steadyNs);
    // The power factor P is judged at from now on (a remote told its own); states stay.
    void setPowerFactor(std::optional<PowerFactor> powerFactor) { powerFactor_ = powerFactor; }
    // A live reading.
    void reading(const TimedReading& reading);
    // Time passes without a reading (from a timer): no-reading alarms may rise.
    void tick(std::int64_t steadyNs, std::int64_t wallMs);
    // The sum of several meters at a time, for rules on "total": S in ten-thousandths of a VA
    // and P in W, each none where the sum has none (which neither raises nor clears).
    void total(std::int64_t steadyNs, std::int64_t wallMs,
               std::optional<std::int64_t> apparentUnits, std::optional<double> watts);

    const std::vector<AlarmRule>& rules() const { return rules_; }
    State state(std::size_t i) const { return watches_[i].state; }
    // The raised alarm's event, while it is raised.
    const std::optional<AlarmEvent>& raisedBy(std::size_t i) const { return watches_[i].raise; }
    // The raised alarms as a banner or a tile lists them: "⚠ over: current 15.2A > 15A".
    std::vector<std::string> raisedLines() const;

    void addListener(AlarmListener* listener);
    void removeListener(AlarmListener* listener);

private:
    struct Watch {
        State state = State::Clear;
        std::int64_t sinceNs = 0; // pending: when the condition began to hold
        std::optional<AlarmEvent> raise;
    };
    // A quantity of a reading: its value in the base unit, whether over range, its text.
    struct Value {
        bool present = false;
        bool overload = false;
        double value = 0;
        std::string text;
    };

    Value valueOf(AlarmQuantity quantity, const TimedReading& reading) const;
    // One rule's state after a value: held, cleared, or neither.
    void step(std::size_t i, bool holds, bool clears, std::int64_t steadyNs, std::int64_t wallMs,
              std::string text, const TimedReading* reading);
    void change(std::size_t i, bool raised, std::int64_t wallMs, std::string valueText,
                const TimedReading* reading);

    std::vector<AlarmRule> rules_;
    std::vector<Watch> watches_;
    std::optional<PowerFactor> powerFactor_;
    std::int64_t lastReadingNs_ = 0;
    Listeners<AlarmListener> listeners_;
};

} // namespace talviren
