#pragma once

#include "measure/MeterReading.h"
#include "mqtt/ReadingMessages.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace talviren::mqtt {

// What is still to reach the broker, in the order it happened: readings and link changes.
// An item is handed to the MQTT library when the broker can take it and stays here, in flight,
// until the broker has acknowledged every message made of it. Bounded: past the capacity the
// oldest items not yet handed are dropped, and counted.
class PublishQueue {
public:
    static constexpr std::size_t kCapacity = 172'800; // a day of readings at 2 Hz

    struct Item {
        enum Kind : std::uint8_t { Reading, Link, Prepared };
        Kind kind = Reading;
        bool linkUp = false;          // Link: connected or lost
        std::uint64_t seq = 0;        // Reading: its number in this run, from 1
        std::int64_t wallMs = 0;      // Reading: when it arrived
        MeterReading reading;         // Reading: the meter's counts
        double apparentEnergyVAh = 0; // Reading: the run's energy up to and with it
        std::shared_ptr<const std::vector<Message>> prepared; // Prepared: messages made already
        std::uint64_t ticket = 0;                             // set by the queue
        int outstanding = 0;                                  // messages not yet acknowledged
        bool handed = false;
    };

    explicit PublishQueue(std::size_t capacity = kCapacity) : capacity_(capacity) {}

    // Adds an item at the end.
    void push(Item item);
    // The oldest item not yet handed, or none.
    const Item* next() const;
    // The oldest item not yet handed went to the library as messages `mids`.
    void handed(const std::vector<int>& mids);
    // The broker acknowledged message `mid`; finished items leave the queue.
    void acknowledged(int mid);

    // Items not yet handed.
    std::size_t waiting() const { return items_.size() - handedCount_; }
    // Items handed and not yet acknowledged in full.
    std::size_t inFlight() const { return handedCount_; }
    // Items dropped since the last call.
    std::uint64_t takeDropped() { return std::exchange(dropped_, 0); }

private:
    // Items at the front whose every message is acknowledged leave.
    void dropFinished();

    std::size_t capacity_;
    std::deque<Item> items_; // the handed ones first
    std::size_t handedCount_ = 0;
    std::unordered_map<int, std::uint64_t> tickets_; // message id -> item
    std::uint64_t nextTicket_ = 1;
    std::uint64_t dropped_ = 0;
};

} // namespace talviren::mqtt
