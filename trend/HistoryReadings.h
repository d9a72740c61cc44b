#pragma once

#include "measure/ReadingSequence.h"
#include "trend/TrendHistory.h"

#include <string>

namespace talviren {

// A history as the file writers read it: each reading decoded with its texts on demand.
class HistoryReadings : public ReadingSequence {
public:
    // The first `count` readings of the history (those there when a save began).
    HistoryReadings(const TrendHistory& history, std::size_t count, std::string decimalSeparator)
        : history_(history), count_(count), separator_(std::move(decimalSeparator)) {}

    std::size_t size() const override { return count_; }
    TimedReading at(std::size_t i) const override {
        TimedReading reading;
        static_cast<DecodedReading&>(reading) = decodeReading(history_[i].reading(), separator_);
        reading.wallMs = history_[i].wallMs;
        return reading;
    }

private:
    const TrendHistory& history_;
    std::size_t count_;
    std::string separator_;
};

} // namespace talviren
