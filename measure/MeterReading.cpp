#include "measure/MeterReading.h"

namespace talviren {

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
