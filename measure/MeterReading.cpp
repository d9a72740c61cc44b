#include "measure/MeterReading.h"

namespace talviren {

std::optional<int> digits(std::string_view text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

std::optional<MeterReading> MeterReading::fromBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kReadingSize) {
        return std::nullopt;
    }
    MeterReading reading;
    reading.function = bytes[0];
    reading.currentCount = countFromDigits(bytes[1], bytes[2]);
    reading.currentRange = bytes[3];
    reading.secondCount = countFromDigits(bytes[4], bytes[5]);
    reading.secondSign = bytes[6];
    return reading;
}

} // namespace talviren
