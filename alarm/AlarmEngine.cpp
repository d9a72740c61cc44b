#include "alarm/AlarmEngine.h"

#include "power/ApparentPower.h"

#include <algorithm>
#include <cmath>

namespace talviren {

std::string AlarmEvent::detail() const {
    if (!rule) {
        return {};
    }
    // The meter it watches goes first, when it is not the window's own.
    const std::string meter = rule->meter.empty() ? std::string() : rule->meter + " ";
    switch (rule->condition) {
    case AlarmRule::Condition::NoReading:
        return raised ? rule->conditionText : meter + "a reading again";
    case AlarmRule::Condition::Overload:
        return meter + (raised ? "overload: " + valueText : valueText);
    default:
        break;
    }
    std::string text = meter + std::string(alarmQuantityName(rule->quantity)) + " " + valueText;
    return raised ? text + " " + rule->limitText : text;
}

void AlarmEngine::configure(std::vector<AlarmRule> rules, std::optional<PowerFactor> powerFactor,
                            std::int64_t steadyNs) {
    rules_ = std::move(rules);
    watches_.assign(rules_.size(), Watch{});
    powerFactor_ = powerFactor;
    lastReadingNs_ = steadyNs;
    listeners_.notify([](AlarmListener& listener) { listener.alarmsConfigured(); });
}

AlarmEngine::Value AlarmEngine::valueOf(AlarmQuantity quantity, const TimedReading& reading) const {
    Value v;
    const auto fromQuantity = [&v](const std::optional<Quantity>& q) {
        if (q) {
            v = {true, q->overload, q->overload ? 0.0 : q->value(), q->text};
        }
    };
    const auto second = [&](QuantityKind kind) {
        if (reading.second && reading.second->kind == kind) {
            fromQuantity(reading.second);
        }
    };
    switch (quantity) {
    case AlarmQuantity::Current:
        fromQuantity(reading.current);
        break;
    case AlarmQuantity::AcVoltage:
        second(QuantityKind::AcVoltage);
        break;
    case AlarmQuantity::DcVoltage:
        second(QuantityKind::DcVoltage);
        break;
    case AlarmQuantity::Resistance:
        second(QuantityKind::Resistance);
        break;
    case AlarmQuantity::ApparentPower:
    case AlarmQuantity::Power: {
        const bool real = quantity == AlarmQuantity::Power;
        if (real && !powerFactor_) {
            break;
        }
        const ApparentPower s = apparentPower(reading.raw);
        const std::string unit(alarmQuantityUnit(quantity));
        if (s.state == ApparentPower::Overload) {
            v = {true, true, 0, "OL" + unit};
        } else if (s.hasValue()) {
            v = {true, false, s.va() * (real ? powerFactor_->value() : 1.0),
                 (real ? realPowerNumber(s.units, *powerFactor_) : apparentPowerNumber(s.units)) +
                     unit};
        }
        break;
    }
    }
    return v;
}

void AlarmEngine::reading(const TimedReading& reading) {
    lastReadingNs_ = reading.steadyNs;
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const AlarmRule& rule = rules_[i];
        Watch& watch = watches_[i];
        bool holds = false;
        bool clears = false;
        std::string text;
        switch (rule.condition) {
        case AlarmRule::Condition::NoReading:
            if (watch.state == State::Raised) {
                change(i, false, reading.wallMs, {}, &reading);
            }
            continue;
        case AlarmRule::Condition::Overload: {
            const bool current = reading.current && reading.current->overload;
            const bool second = reading.second && reading.second->overload;
            holds = current || second;
            clears = !holds;
            const auto& shown = current || !second ? reading.current : reading.second;
            text = shown ? std::string(shown->symbol()) + " " + shown->text : std::string();
            break;
        }
        default: {
            const Value v = valueOf(rule.quantity, reading);
            if (!v.present) {
                continue; // another function: neither raises nor clears
            }
            text = v.text;
            switch (rule.condition) {
            case AlarmRule::Condition::Above:
                holds = v.overload || v.value > rule.limit;
                clears = !v.overload && v.value < rule.clearLimit;
                break;
            case AlarmRule::Condition::Below:
                holds = !v.overload && v.value < rule.limit;
                clears = v.overload || v.value > rule.clearLimit;
                break;
            case AlarmRule::Condition::Outside:
                holds = v.overload || v.value < rule.low || v.value > rule.high;
                clears = !holds;
                break;
            default: // inside
                holds = !v.overload && v.value >= rule.low && v.value <= rule.high;
                clears = !holds;
                break;
            }
        }
        }
        step(i, holds, clears, reading.steadyNs, reading.wallMs, std::move(text), &reading);
    }
}

void AlarmEngine::step(std::size_t i, bool holds, bool clears, std::int64_t steadyNs,
                       std::int64_t wallMs, std::string text, const TimedReading* reading) {
    Watch& watch = watches_[i];
    switch (watch.state) {
    case State::Clear:
        if (holds) {
            watch.state = State::Pending;
            watch.sinceNs = steadyNs;
        }
        break;
    case State::Pending:
        if (!holds) {
            watch.state = State::Clear;
        }
        break;
    case State::Raised:
        if (clears) {
            change(i, false, wallMs, std::move(text), reading);
        }
        return;
    }
    if (watch.state == State::Pending &&
        durationReached(steadyNs - watch.sinceNs, rules_[i].durationMs * 1'000'000)) {
        change(i, true, wallMs, std::move(text), reading);
    }
}

void AlarmEngine::total(std::int64_t steadyNs, std::int64_t wallMs,
                        std::optional<std::int64_t> apparentUnits, std::optional<double> watts) {
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const AlarmRule& rule = rules_[i];
        const bool real = rule.quantity == AlarmQuantity::Power;
        if (!rule.comparesQuantity() || (real ? !watts : !apparentUnits)) {
            continue; // no sum now: neither raises nor clears
        }
        const double v = real ? *watts : static_cast<double>(*apparentUnits) / 10'000.0;
        const std::string text = real ? decimalText(std::llround(v * 1000), 3) + "W"
                                      : apparentPowerNumber(*apparentUnits) + "VA";
        bool holds = false;
        bool clears = false;
        switch (rule.condition) {
        case AlarmRule::Condition::Above:
            holds = v > rule.limit;
            clears = v < rule.clearLimit;
            break;
        case AlarmRule::Condition::Below:
            holds = v < rule.limit;
            clears = v > rule.clearLimit;
            break;
        case AlarmRule::Condition::Outside:
            holds = v < rule.low || v > rule.high;
            clears = !holds;
            break;
        default:
            holds = v >= rule.low && v <= rule.high;
            clears = !holds;
            break;
        }
        step(i, holds, clears, steadyNs, wallMs, text, nullptr);
    }
}

void AlarmEngine::tick(std::int64_t steadyNs, std::int64_t wallMs) {
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        if (rules_[i].condition == AlarmRule::Condition::NoReading &&
            watches_[i].state != State::Raised &&
            durationReached(steadyNs - lastReadingNs_, rules_[i].durationMs * 1'000'000)) {
            change(i, true, wallMs, {}, nullptr);
        }
    }
}

void AlarmEngine::change(std::size_t i, bool raised, std::int64_t wallMs, std::string valueText,
                         const TimedReading* reading) {
    Watch& watch = watches_[i];
    watch.state = raised ? State::Raised : State::Clear;
    AlarmEvent event;
    event.rule = &rules_[i];
    event.raised = raised;
    event.wallMs = wallMs;
    event.valueText = std::move(valueText);
    if (reading) {
        event.reading = *reading;
    }
    if (raised) {
        watch.raise = event;
    } else {
        watch.raise.reset();
    }
    listeners_.notify([&](AlarmListener& listener) { listener.alarmChanged(event); });
}

std::vector<std::string> AlarmEngine::raisedLines() const {
    std::vector<std::string> lines;
    for (const Watch& watch : watches_) {
        if (watch.raise) {
            lines.push_back("\u26A0 " + watch.raise->rule->name + ": " + watch.raise->detail());
        }
    }
    return lines;
}

void AlarmEngine::addListener(AlarmListener* listener) {
    listeners_.add(listener);
}

void AlarmEngine::removeListener(AlarmListener* listener) {
    listeners_.remove(listener);
}

} // namespace talviren
