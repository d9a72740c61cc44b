#pragma once

#include "measure/Reading.h"

#include <cstddef>
#include <functional>

namespace talviren {

// A run of timed readings that a writer walks from first to last (the trend's history).
class ReadingSequence {
public:
    virtual ~ReadingSequence() = default;
    virtual std::size_t size() const = 0;
    // Reading i, decoded with its texts, and its time.
    virtual TimedReading at(std::size_t i) const = 0;
};

// Told how far a long write has come, from 0 to 1.
using WriteProgress = std::function<void(double)>;

} // namespace talviren
