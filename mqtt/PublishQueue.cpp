#include "mqtt/PublishQueue.h"

#include <algorithm>

namespace talviren::mqtt {

void PublishQueue::push(Item item) {
    item.ticket = nextTicket_++;
    item.handed = false;
    item.outstanding = 0;
    items_.push_back(std::move(item));
    if (waiting() > capacity_) {
        // The oldest that has not left yet goes: it is right after the items in flight.
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(handedCount_));
        ++dropped_;
    }
}

const PublishQueue::Item* PublishQueue::next() const {
    return waiting() > 0 ? &items_[handedCount_] : nullptr;
}

void PublishQueue::handed(const std::vector<int>& mids) {
    if (waiting() == 0) {
        return;
    }
    Item& item = items_[handedCount_++];
    item.handed = true;
    item.outstanding = static_cast<int>(mids.size());
    for (int mid : mids) {
        tickets_[mid] = item.ticket;
    }
    dropFinished();
}

void PublishQueue::dropFinished() {
    // In order: an item finished before an older one waits for it.
    while (!items_.empty() && items_.front().handed && items_.front().outstanding == 0) {
        items_.pop_front();
        --handedCount_;
    }
}

void PublishQueue::acknowledged(int mid) {
    const auto found = tickets_.find(mid);
    if (found == tickets_.end()) {
        return; // a message that is not ours to count (status, discovery)
    }
    const std::uint64_t ticket = found->second;
    tickets_.erase(found);
    const auto end = items_.begin() + static_cast<std::ptrdiff_t>(handedCount_);
    const auto item = std::lower_bound(items_.begin(), end, ticket,
                                       [](const Item& i, std::uint64_t t) { return i.ticket < t; });
    if (item != end && item->ticket == ticket && item->outstanding > 0) {
        --item->outstanding;
    }
    dropFinished();
}

} // namespace talviren::mqtt
