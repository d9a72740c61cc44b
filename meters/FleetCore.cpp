#include "meters/FleetCore.h"

#include "log/CsvLog.h"

namespace talviren {

// Hears one meter and its recording for the fleet's listeners.
class FleetCore::Watch : public MeterListener, public RecordingListener {
public:
    Watch(FleetCore& fleet, std::size_t index, Meter& meter)
        : fleet_(fleet), index_(index), meter_(meter) {
        meter_.addListener(this);
        meter_.recording().addListener(this);
    }
    ~Watch() override {
        meter_.recording().removeListener(this);
        meter_.removeListener(this);
    }
    void readingRecorded(const TimedReading& reading) override {
        fleet_.listeners_.notify(
            [&](FleetListener& listener) { listener.readingRecorded(index_, reading); });
    }
    void logChanged(bool) override { tellLogChanged(); }
    void logBehind(bool) override { tellLogChanged(); }
    void meterChanged(const Meter&) override {
        fleet_.listeners_.notify([&](FleetListener& listener) { listener.meterChanged(index_); });
    }

private:
    void tellLogChanged() {
        fleet_.listeners_.notify([&](FleetListener& listener) { listener.logChanged(index_); });
    }

    FleetCore& fleet_;
    std::size_t index_;
    Meter& meter_;
};

FleetCore::FleetCore(RunSettings& settings, const ReadingClock& clock)
    : settings_(settings), clock_(clock) {
    settings_.addListener(this);
    sum_.addListener(this);
}

FleetCore::~FleetCore() {
    sum_.removeListener(this);
    settings_.removeListener(this);
    sum_.setMeters({});
    watches_.clear();
}

void FleetCore::setMeters(std::vector<Meter*> meters) {
    sum_.setMeters({});
    watches_.clear();
    meters_ = std::move(meters);
    for (std::size_t i = 0; i < meters_.size(); ++i) {
        watches_.push_back(std::make_unique<Watch>(*this, i, *meters_[i]));
        meters_[i]->setPowerFactor(settings_.powerFactor());
    }
    sum_.setMeters(meters_);
    shareAlarms();
    if (const auto& path = settings_.logPath()) {
        std::string file, error;
        if (!startMissingLogs(*path, file, error)) {
            listeners_.notify([&](FleetListener& listener) { listener.logRefused(file, error); });
        }
    }
    listeners_.notify([](FleetListener& listener) { listener.metersReplaced(); });
}

Meter* FleetCore::meter(const std::string& name) const {
    for (Meter* meter : meters_) {
        if (meter->name() == name) {
            return meter;
        }
    }
    return nullptr;
}

void FleetCore::powerFactorChanged() {
    for (Meter* meter : meters_) {
        meter->setPowerFactor(settings_.powerFactor());
    }
    shareAlarms(); // power alarms need the factor
}

void FleetCore::alarmsChanged() {
    shareAlarms();
}

void FleetCore::shareAlarms() {
    unplaced_.clear();
    std::vector<std::vector<AlarmRule>> perMeter(meters_.size());
    std::vector<AlarmRule> total;
    for (AlarmRule& rule : settings_.usableAlarms()) {
        if (rule.meter == kTotalMeter) {
            total.push_back(std::move(rule));
            continue;
        }
        Meter* named =
            rule.meter.empty() ? (meters_.empty() ? nullptr : meters_.front()) : meter(rule.meter);
        bool placed = false;
        for (std::size_t i = 0; i < meters_.size() && !placed; ++i) {
            if (meters_[i] == named) {
                perMeter[i].push_back(std::move(rule));
                placed = true;
            }
        }
        if (!placed) {
            unplaced_.push_back(std::move(rule));
        }
    }
    for (std::size_t i = 0; i < meters_.size(); ++i) {
        meters_[i]->setAlarms(std::move(perMeter[i]));
    }
    totalAlarms_.configure(std::move(total), settings_.powerFactor(), clock_.wallMs() * 1'000'000);
}

void FleetCore::sumAdded(const SumPoint& point) {
    totalAlarms_.total(point.wallMs * 1'000'000, point.wallMs, point.units, point.watts());
    listeners_.notify([&](FleetListener& listener) { listener.sumAdded(point); });
}

std::string FleetCore::logFile(const std::string& path, const Meter& meter) const {
    return several() ? csvlog::meterFilePath(path, meter.name()) : path;
}

bool FleetCore::startLogs(const std::string& path, std::string& file, std::string& error) {
    if (settings_.logPath() == path) {
        return true;
    }
    stopLogs();
    if (!startMissingLogs(path, file, error)) {
        return false;
    }
    settings_.setLogPath(path);
    return true;
}

bool FleetCore::startMissingLogs(const std::string& path, std::string& file, std::string& error) {
    for (Meter* meter : meters_) {
        if (meter->recording().log()) {
            continue;
        }
        file = logFile(path, *meter);
        if (!meter->recording().startLog(file, error)) {
            // None half-started: the run logs every meter or none.
            for (Meter* other : meters_) {
                other->recording().stopLog();
            }
            settings_.setLogPath(std::nullopt);
            return false;
        }
    }
    return true;
}

void FleetCore::stopLogs() {
    for (Meter* meter : meters_) {
        meter->recording().stopLog();
    }
    settings_.setLogPath(std::nullopt);
}

void FleetCore::loggingChanged() {
    if (!settings_.logPath()) {
        for (Meter* meter : meters_) {
            meter->recording().stopLog();
        }
    }
}

void FleetCore::resetStatistics() {
    for (Meter* meter : meters_) {
        meter->recording().resetStatistics();
    }
    sum_.resetStatistics();
}

} // namespace talviren
