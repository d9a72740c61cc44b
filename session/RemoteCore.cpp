#include "session/RemoteCore.h"

namespace talviren {

RemoteCore::RemoteCore(MeterSource source, remote::HttpStream& http, remote::Countdown& retry,
                       remote::Countdown& silence, std::string decimalSeparator,
                       const ReadingClock& clock)
    : meter_(source, clock), follower_({source.url, source.host, source.tokenFile}, http, retry,
                                       silence, *this, std::move(decimalSeparator), clock) {
    meter_.setFeed(this);
}

RemoteCore::~RemoteCore() {
    follower_.stop();
    meter_.setFeed(nullptr);
}

void RemoteCore::remoteReading(const remote::RemoteReading& reading, bool breakBefore) {
    if (reading.powerFactor && reading.powerFactor != powerFactor_) {
        powerFactor_ = reading.powerFactor;
        meter_.feedChanged();
    }
    if (breakBefore) {
        meter_.recording().markBreak();
    }
    meter_.recording().add(reading.reading);
}

LinkStatus RemoteCore::linkStatus() const {
    LinkStatus status;
    status.where = follower_.target().shown;
    using Problem = LinkStatus::Problem;
    if (follower_.connected()) {
        status.problem = follower_.remoteMeterUp() ? Problem::None : Problem::MeterSilent;
    } else if (follower_.wrongToken()) {
        status.problem = Problem::WrongToken;
    } else if (!follower_.refusal().empty()) {
        status.problem = Problem::Refused;
        status.detail = follower_.refusal();
    } else if (follower_.offlineSinceMs()) {
        status.problem = Problem::Offline;
        status.sinceMs = follower_.offlineSinceMs();
    } else {
        status.problem = Problem::Connecting;
    }
    return status;
}

} // namespace talviren
