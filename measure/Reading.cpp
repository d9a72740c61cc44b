#include "measure/Reading.h"

#include "measure/ValueText.h"

#include <chrono>

namespace talviren {

DecodedReading decodeReading(const MeterReading& raw, std::string_view decimalSeparator) {
    return {raw, currentQuantity(raw, decimalSeparator), secondQuantity(raw, decimalSeparator)};
}

namespace {

class SystemClock : public ReadingClock {
public:
    std::int64_t wallMs() const override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    std::int64_t steadyNs() const override {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

} // namespace

ReadingClock& systemClock() {
    static SystemClock clock;
    return clock;
}

} // namespace talviren
