#include "study/MeterMinutes.h"

#include "measure/ValueText.h"
#include "power/ApparentPower.h"

#include <algorithm>

namespace talviren::study {

namespace {

constexpr std::int64_t kMinuteMs = 60'000;

std::int64_t minuteOf(std::int64_t ms) {
    return ms >= 0 ? ms / kMinuteMs : -((-ms + kMinuteMs - 1) / kMinuteMs);
}

} // namespace

Minute& MeterMinutes::minute(std::int64_t ms) {
    // Two readings a second: the minute of the one before, mostly.
    if (ms >= cachedFromMs_ && ms < cachedFromMs_ + kMinuteMs) {
        return minutes_[cachedIndex_];
    }
    const std::int64_t m = minuteOf(ms);
    if (minutes_.empty()) {
        firstMinute_ = m;
    } else if (m < firstMinute_) {
        minutes_.insert(minutes_.begin(), static_cast<std::size_t>(firstMinute_ - m), Minute{});
        cachedIndex_ += static_cast<std::size_t>(firstMinute_ - m);
        firstMinute_ = m;
    }
    const auto i = static_cast<std::size_t>(m - firstMinute_);
    if (i >= minutes_.size()) {
        minutes_.resize(i + 1);
    }
    cachedFromMs_ = m * kMinuteMs;
    cachedIndex_ = i;
    return minutes_[i];
}

void MeterMinutes::add(std::int64_t wallMs, const MeterReading& reading) {
    Point point;
    point.ms = wallMs;
    // Both quantities decoded once; S from them as apparentPower() takes it, exact.
    const auto current = currentNumber(reading);
    const auto second = secondNumber(reading);
    if (current && !current->overload) {
        point.hasCurrent = true;
        point.current = current->value();
        if (second && !second->overload && second->kind == QuantityKind::AcVoltage) {
            point.hasApparent = true;
            const std::int64_t scale =
                kPowerUnitsPerVA / (std::int64_t{current->divisor} * second->divisor);
            point.apparent = static_cast<double>(std::int64_t{current->count} * second->count *
                                                 scale) /
                             kPowerUnitsPerVA;
        }
    }
    if (wallMs >= fromMs_ && wallMs < toMs_) {
        Minute& m = minute(wallMs);
        m.readings = static_cast<std::uint16_t>(std::min(m.readings + 1, 65535));
        if ((current && current->overload) || (second && second->overload)) {
            m.overloads = static_cast<std::uint16_t>(std::min(m.overloads + 1, 65535));
        }
        if (point.hasCurrent && point.current > m.maxCurrent) {
            m.maxCurrent = point.current;
        }
        if (readings_ == 0) {
            firstMs_ = wallMs;
        } else if (const std::int64_t step = wallMs - lastMs_; step > kPieceMs) {
            if (step > longestGapMs_) {
                longestGapMs_ = step;
                longestGapFromMs_ = lastMs_;
            }
            if (gaps_.size() < 10 || step > gaps_.back().lengthMs) {
                const auto at = std::find_if(gaps_.begin(), gaps_.end(),
                                             [&](const Gap& g) { return step > g.lengthMs; });
                gaps_.insert(at, {lastMs_, step});
                if (gaps_.size() > 10) {
                    gaps_.pop_back();
                }
            }
        } else if (step > longestGapMs_) {
            longestGapMs_ = step;
            longestGapFromMs_ = lastMs_;
        }
        lastMs_ = wallMs;
        ++readings_;
    }
    if (previous_ && wallMs > previous_->ms && wallMs - previous_->ms <= kPieceMs) {
        addPiece(*previous_, point);
    }
    previous_ = point;
}

void MeterMinutes::addPiece(const Point& a, const Point& b) {
    if (!(a.hasCurrent && b.hasCurrent) && !(a.hasApparent && b.hasApparent)) {
        return;
    }
    const std::int64_t from = std::max(a.ms, fromMs_);
    const std::int64_t to = std::min(b.ms, toMs_);
    if (from >= to) {
        return;
    }
    // At most one minute's end lies inside: a piece is shorter than a minute.
    const std::int64_t boundary = (minuteOf(from) + 1) * kMinuteMs;
    if (boundary < to) {
        addSpan(from, boundary, a, b);
        addSpan(boundary, to, a, b);
    } else {
        addSpan(from, to, a, b);
    }
}

void MeterMinutes::addSpan(std::int64_t fromMs, std::int64_t toMs, const Point& a, const Point& b) {
    Minute& m = minute(fromMs);
    const double length = static_cast<double>(b.ms - a.ms);
    const double x = static_cast<double>(fromMs - a.ms) / length;
    const double y = static_cast<double>(toMs - a.ms) / length;
    const double seconds = static_cast<double>(toMs - fromMs) / 1000.0;
    const auto area = [&](double va, double vb) {
        // The trapezoid between the values on the straight line at both ends of the span.
        return (va + (vb - va) * x + va + (vb - va) * y) / 2 * seconds;
    };
    const auto ms = static_cast<std::int32_t>(toMs - fromMs);
    if (a.hasCurrent && b.hasCurrent) {
        m.currentArea += area(a.current, b.current);
        m.currentMs += ms;
    }
    if (a.hasApparent && b.hasApparent) {
        m.apparentArea += area(a.apparent, b.apparent);
        m.apparentMs += ms;
    }
}

} // namespace talviren::study
