#include "link/LinkEvents.h"

namespace talviren {

void LinkEventFanOut::addConsumer(LinkEvents* consumer) {
    consumers_.add(consumer);
}

void LinkEventFanOut::removeConsumer(LinkEvents* consumer) {
    consumers_.remove(consumer);
}

template <typename Call> void LinkEventFanOut::each(Call call) {
    consumers_.notify(call);
}

void LinkEventFanOut::stateChanged(LinkState state) {
    each([&](LinkEvents& c) { c.stateChanged(state); });
}

void LinkEventFanOut::portTried(const PortAttempt& attempt) {
    each([&](LinkEvents& c) { c.portTried(attempt); });
}

void LinkEventFanOut::linkCameUp(const LinkUp& up) {
    each([&](LinkEvents& c) { c.linkCameUp(up); });
}

void LinkEventFanOut::linkLost(const LinkLoss& loss) {
    each([&](LinkEvents& c) { c.linkLost(loss); });
}

void LinkEventFanOut::liveReading(const TimedReading& reading) {
    each([&](LinkEvents& c) { c.liveReading(reading); });
}

void LinkEventFanOut::recordCount(int count) {
    each([&](LinkEvents& c) { c.recordCount(count); });
}

void LinkEventFanOut::downloadProgress(const DownloadProgress& progress) {
    each([&](LinkEvents& c) { c.downloadProgress(progress); });
}

void LinkEventFanOut::downloadEnded(const DownloadResult& result) {
    each([&](LinkEvents& c) { c.downloadEnded(result); });
}

} // namespace talviren
