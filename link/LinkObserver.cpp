#include "link/LinkObserver.h"

#include <algorithm>

namespace talviren {

void LinkEventFanOut::addConsumer(LinkObserver* consumer) {
    if (consumer && std::find(consumers_.begin(), consumers_.end(), consumer) == consumers_.end()) {
        consumers_.push_back(consumer);
    }
}

void LinkEventFanOut::removeConsumer(LinkObserver* consumer) {
    std::erase(consumers_, consumer);
}

template <typename Call> void LinkEventFanOut::each(Call call) {
    // A copy, so that a consumer can change the list; one removed meanwhile is skipped.
    const std::vector<LinkObserver*> now = consumers_;
    for (LinkObserver* consumer : now) {
        if (std::find(consumers_.begin(), consumers_.end(), consumer) != consumers_.end()) {
            call(*consumer);
        }
    }
}

void LinkEventFanOut::portStatusChanged(const std::string& caption, const PortDetail& detail) {
    each([&](LinkObserver& c) { c.portStatusChanged(caption, detail); });
}

void LinkEventFanOut::portTried(int port, bool opened, const PortDetail& detail) {
    each([&](LinkObserver& c) { c.portTried(port, opened, detail); });
}

void LinkEventFanOut::linkStatusChanged(const std::string& caption) {
    each([&](LinkObserver& c) { c.linkStatusChanged(caption); });
}

void LinkEventFanOut::linkCameUp(int port, const std::string& devicePath) {
    each([&](LinkObserver& c) { c.linkCameUp(port, devicePath); });
}

void LinkEventFanOut::linkLost() {
    each([](LinkObserver& c) { c.linkLost(); });
}

void LinkEventFanOut::realtimeChanged() {
    each([](LinkObserver& c) { c.realtimeChanged(); });
}

void LinkEventFanOut::liveReading(const TimedReading& reading) {
    each([&](LinkObserver& c) { c.liveReading(reading); });
}

void LinkEventFanOut::downloadProgress(int bytesReceived, int bytesExpected) {
    each([&](LinkObserver& c) { c.downloadProgress(bytesReceived, bytesExpected); });
}

void LinkEventFanOut::downloadEnded(const DownloadResult& result) {
    each([&](LinkObserver& c) { c.downloadEnded(result); });
}

} // namespace talviren
