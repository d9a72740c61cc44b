#include "sim/MeterSimulator.h"

#include "link/Protocol.h"
#include "measure/MeterReading.h"
#include "measure/ValueText.h"

#include <algorithm>
#include <cmath>

namespace talviren::sim {

namespace {

// Small, repeatable generator (xorshift32).
std::uint32_t nextRandom(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void appendCount(std::vector<std::uint8_t>& out, int count) {
    out.push_back(static_cast<std::uint8_t>(count / 100));
    out.push_back(static_cast<std::uint8_t>(count % 100));
}

} // namespace

MeterSimulator::MeterSimulator(SimulatorOptions options)
    : options_(options),
      stored_(
          makeStoredBlock(std::clamp(options.records, 0, protocol::kMaxRecordCount), options.seed)),
      garbageState_(options.seed == 0 ? 0x9E3779B9u : options.seed) {}

std::vector<std::uint8_t> MeterSimulator::liveReading(double seconds) const {
    const int function = options_.function >= 1 && options_.function <= 3
                             ? options_.function
                             : 1 + static_cast<int>(seconds / 10.0) % 3;
    std::vector<std::uint8_t> reading;
    reading.push_back(static_cast<std::uint8_t>(function));
    // Current around 12.34 A in the 0.01 A range, wandering by a few amperes.
    const int current = 1234 + static_cast<int>(std::lround(250.0 * std::sin(seconds / 3.0)));
    appendCount(reading, current);
    reading.push_back(1);
    int second = 0;
    std::uint8_t sign = 0;
    switch (function) {
    case 1: // mains voltage in 0.1 V
        second = 2300 + static_cast<int>(std::lround(40.0 * std::sin(seconds / 2.0)));
        break;
    case 2: // a DC rail in 0.1 V whose polarity flips now and then
        second = 120 + static_cast<int>(std::lround(5.0 * std::sin(seconds)));
        sign = static_cast<int>(seconds / 7.0) % 2 == 1 ? 1 : 0;
        break;
    default: // resistance in ohms (shown in kilo-ohms)
        second = 1228 + static_cast<int>(std::lround(60.0 * std::sin(seconds / 4.0)));
        break;
    }
    appendCount(reading, second);
    reading.push_back(sign);
    return reading;
}

std::vector<std::uint8_t> MeterSimulator::makeStoredBlock(int count, std::uint32_t seed) {
    std::uint32_t state = seed == 0 ? 0x9E3779B9u : seed;
    std::vector<std::uint8_t> block;
    block.reserve(static_cast<std::size_t>(count) * kReadingSize);
    for (int i = 0; i < count; ++i) {
        const int function = 1 + i % 3;
        const int range = (i / 3) % 6;
        const bool overload = i % 7 == 6;
        int current = static_cast<int>(nextRandom(state) % 10000);
        if (range == 5 && overload) {
            current = kCurrentOverloadLimit + 1 + static_cast<int>(nextRandom(state) % 15000);
        }
        const int limit = function == kAcCurrentAcVoltage   ? kAcVoltageOverloadLimit
                          : function == kAcCurrentDcVoltage ? kDcVoltageOverloadLimit
                                                            : kResistanceOverloadLimit;
        int second = static_cast<int>(nextRandom(state) % static_cast<std::uint32_t>(limit + 1));
        if (overload) {
            second = limit + 1 + static_cast<int>(nextRandom(state) % 1000);
        }
        block.push_back(static_cast<std::uint8_t>(function));
        appendCount(block, current);
        block.push_back(static_cast<std::uint8_t>(range));
        appendCount(block, second);
        block.push_back(static_cast<std::uint8_t>(nextRandom(state) % 2));
    }
    return block;
}

std::vector<std::uint8_t> MeterSimulator::answer(std::uint8_t command, double seconds) {
    if (silent_ || (options_.silentAfter >= 0 && seconds >= options_.silentAfter)) {
        return {};
    }
    std::vector<std::uint8_t> reply;
    switch (command) {
    case protocol::kHandshake:
        reply.assign(protocol::kHandshakeReply.begin(), protocol::kHandshakeReply.end());
        break;
    case protocol::kCountRequest: {
        const int count = static_cast<int>(stored_.size() / kReadingSize);
        const std::uint8_t marker = options_.badCount ? 0x06 : protocol::kCountMarker;
        reply = {marker, protocol::kCountMarker, static_cast<std::uint8_t>(count / 100),
                 static_cast<std::uint8_t>(count % 100)};
        break;
    }
    case protocol::kBlockRequest:
        reply = stored_;
        if (options_.cutBlock) {
            reply.resize(reply.size() / 2);
        }
        break;
    case protocol::kRealtimeRequest:
        reply = liveReading(seconds);
        break;
    default:
        return {};
    }
    if (options_.garbage) {
        for (auto& byte : reply) {
            byte = static_cast<std::uint8_t>(nextRandom(garbageState_));
        }
    }
    return reply;
}

} // namespace talviren::sim
