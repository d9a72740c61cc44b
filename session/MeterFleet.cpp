#include "session/MeterFleet.h"

namespace talviren {

MeterFleet::MeterFleet(MeterSession& own, RunSettings& settings) : own_(own), core_(settings) {
    configure(defaultMeters(), ".");
}

MeterFleet::~MeterFleet() {
    core_.setMeters({});
}

void MeterFleet::configure(const std::vector<MeterSource>& sources,
                           const std::string& decimalSeparator) {
    // The meters replaced go once the fleet no longer listens to them.
    const auto oldSessions = std::move(sessions_);
    const auto oldRemotes = std::move(remotes_);
    for (auto& session : oldSessions) {
        session->shutDown();
    }
    sessions_.clear();
    remotes_.clear();
    // The window's own meter first, under the name of the scan line.
    MeterSource ownSource = defaultMeters().front();
    for (const MeterSource& source : sources) {
        if (source.kind == MeterSource::Kind::Scan) {
            ownSource = source;
        }
    }
    own_.meter().setSource(ownSource);
    std::vector<Meter*> meters{&own_.meter()};
    std::vector<int> held;
    for (const MeterSource& source : sources) {
        if (source.kind == MeterSource::Kind::Port) {
            auto session = std::make_unique<MeterSession>();
            session->link().setOnlyPort(source.port);
            session->meter().setSource(source);
            meters.push_back(&session->meter());
            sessions_.push_back(std::move(session));
            held.push_back(source.port);
        } else if (source.kind == MeterSource::Kind::Remote) {
            remotes_.push_back(std::make_unique<RemoteSession>(source, decimalSeparator));
            meters.push_back(&remotes_.back()->meter());
        }
    }
    // The window's scan never opens a port another meter holds.
    own_.link().setSkippedPorts(held);
    core_.setMeters(std::move(meters));
    for (auto& session : sessions_) {
        session->link().startUp();
    }
    for (auto& remote : remotes_) {
        remote->start();
    }
}

} // namespace talviren
