#include "session/MeterFleet.h"

#include "log/CsvLog.h"

#include <QDateTime>

namespace talviren {

// Keeps a local meter's link state for its tile, from its engine's events, and tells of every
// reading of any meter.
class MeterFleet::LinkWatch : public LinkEvents, public RecordingListener {
public:
    LinkWatch(MeterFleet& fleet, int index, MeterSession* session, Recording& recording)
        : fleet_(fleet), index_(index), session_(session), recording_(recording) {
        if (session_) {
            session_->addConsumer(this);
        }
        recording_.addListener(this);
    }
    ~LinkWatch() override {
        if (session_) {
            session_->removeConsumer(this);
        }
        recording_.removeListener(this);
    }
    void linkCameUp(const LinkUp& up) override {
        FleetMeter& meter = fleet_.meters_[static_cast<std::size_t>(index_)];
        meter.link = {true, up.port, std::nullopt};
        emit fleet_.meterChanged(index_);
    }
    void linkLost(const LinkLoss& loss) override {
        FleetMeter& meter = fleet_.meters_[static_cast<std::size_t>(index_)];
        if (loss.wasUp || !meter.link.downSinceMs) {
            meter.link = {false, 0, systemClock().wallMs()};
            emit fleet_.meterChanged(index_);
        }
    }
    void readingRecorded(const TimedReading& reading) override {
        fleet_.meters_[static_cast<std::size_t>(index_)].latest = reading;
        emit fleet_.meterChanged(index_);
    }

private:
    MeterFleet& fleet_;
    int index_;
    MeterSession* session_;
    Recording& recording_;
};

MeterFleet::MeterFleet(MeterSession& own, QObject* parent) : QObject(parent), own_(own) {
    sum_.addListener(this);
    configure(defaultMeters(), ".");
}

MeterFleet::~MeterFleet() {
    sum_.removeListener(this);
    sum_.clear();
    watches_.clear();
    remotes_.clear();
    sessions_.clear();
}

void MeterFleet::configure(const std::vector<MeterSource>& sources,
                           const std::string& decimalSeparator) {
    sum_.clear();
    watches_.clear();
    remotes_.clear();
    for (auto& session : sessions_) {
        session->shutDown();
    }
    sessions_.clear();
    meters_.clear();
    // The window's own meter first, under the name of the scan line.
    FleetMeter own;
    own.source = defaultMeters().front();
    for (const MeterSource& source : sources) {
        if (source.kind == MeterSource::Kind::Scan) {
            own.source = source;
        }
    }
    own.session = &own_;
    own.link.downSinceMs = systemClock().wallMs();
    meters_.push_back(own);
    std::vector<int> held;
    for (const MeterSource& source : sources) {
        FleetMeter meter;
        meter.source = source;
        meter.link.downSinceMs = systemClock().wallMs();
        if (source.kind == MeterSource::Kind::Port) {
            auto session = std::make_unique<MeterSession>(this);
            session->link().setOnlyPort(source.port);
            meter.session = session.get();
            sessions_.push_back(std::move(session));
            held.push_back(source.port);
        } else if (source.kind == MeterSource::Kind::Remote) {
            auto remote = std::make_unique<RemoteSession>(
                remote::RemoteTarget{source.url, source.host, source.tokenFile}, decimalSeparator,
                this);
            meter.remote = remote.get();
            const int index = static_cast<int>(meters_.size());
            connect(remote.get(), &RemoteSession::changed, this,
                    [this, index] { emit meterChanged(index); });
            remotes_.push_back(std::move(remote));
        } else {
            continue; // the window's own, first already
        }
        meters_.push_back(meter);
    }
    // The window's scan never opens a port another meter holds.
    own_.link().setSkippedPorts(held);
    for (std::size_t i = 0; i < meters_.size(); ++i) {
        FleetMeter& meter = meters_[i];
        watches_.push_back(std::make_unique<LinkWatch>(*this, static_cast<int>(i), meter.session,
                                                       meter.recording()));
    }
    for (auto& session : sessions_) {
        session->link().startUp();
    }
    for (auto& remote : remotes_) {
        remote->start();
    }
    rebuildSum();
    emit metersChanged();
}

void MeterFleet::rebuildSum() {
    sum_.clear();
    for (const FleetMeter& meter : meters_) {
        const FleetMeter* self = &meter;
        sum_.addMeter(meter.name(), meter.recording(),
                      [this, self] { return powerFactorOf(*self); });
    }
}

const FleetMeter* MeterFleet::meter(const std::string& name) const {
    for (const FleetMeter& meter : meters_) {
        if (meter.name() == name) {
            return &meter;
        }
    }
    return nullptr;
}

std::optional<PowerFactor> MeterFleet::powerFactorOf(const FleetMeter& meter) const {
    return meter.remote ? meter.remote->powerFactor() : powerFactor_;
}

std::string MeterFleet::linkText(const FleetMeter& meter) const {
    const auto since = [](std::int64_t ms) {
        return "offline since " + QDateTime::fromMSecsSinceEpoch(ms)
                                      .toString(QStringLiteral("HH:mm:ss"))
                                      .toStdString();
    };
    if (meter.remote) {
        const remote::RemoteFollower& follower = meter.remote->follower();
        if (follower.connected()) {
            return "connected to " + follower.target().shown +
                   (follower.remoteMeterUp() ? "" : " (its meter is not answering)");
        }
        if (follower.wrongToken()) {
            return "wrong token";
        }
        if (follower.problem().starts_with("not a talviren logger")) {
            return follower.problem();
        }
        return follower.offlineSinceMs() ? since(*follower.offlineSinceMs())
                                         : "connecting to " + follower.target().shown;
    }
    if (meter.link.up) {
        return "connected on COM" + std::to_string(meter.link.port);
    }
    return meter.link.downSinceMs ? since(*meter.link.downSinceMs) : std::string("searching");
}

std::vector<AlarmRule> MeterFleet::setAlarms(std::vector<AlarmRule> rules,
                                             std::optional<PowerFactor> factor) {
    std::vector<std::vector<AlarmRule>> perMeter(meters_.size());
    std::vector<AlarmRule> total;
    std::vector<AlarmRule> unknown;
    for (AlarmRule& rule : rules) {
        if (rule.meter == kTotalMeter) {
            total.push_back(std::move(rule));
            continue;
        }
        const std::string name = rule.meter.empty() ? meters_.front().name() : rule.meter;
        bool placed = false;
        for (std::size_t i = 0; i < meters_.size() && !placed; ++i) {
            if (meters_[i].name() == name) {
                perMeter[i].push_back(std::move(rule));
                placed = true;
            }
        }
        if (!placed) {
            unknown.push_back(std::move(rule));
        }
    }
    for (std::size_t i = 0; i < meters_.size(); ++i) {
        FleetMeter& meter = meters_[i];
        if (meter.remote) {
            meter.remote->setAlarms(std::move(perMeter[i]));
        } else {
            meter.session->setAlarms(std::move(perMeter[i]), factor);
        }
    }
    totalAlarms_.configure(std::move(total), factor, systemClock().wallMs() * 1'000'000);
    return unknown;
}

void MeterFleet::sumAdded(const PhaseSumPoint& point) {
    totalAlarms_.total(point.wallMs * 1'000'000, point.wallMs, point.units, point.watts);
}

void MeterFleet::sumAbsent(std::int64_t) {}

} // namespace talviren
