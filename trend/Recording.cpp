#include "trend/Recording.h"

#include "measure/ValueText.h"

#include <algorithm>

namespace talviren {

template <typename Call> void Recording::tell(Call call) {
    listeners_.notify(call);
}

void Recording::add(const TimedReading& reading) {
    ++liveCount_;
    history_.add(reading);
    statistics_.add(reading);
    tallyPower(reading.raw);
    if (log_ && logEveryReading_) {
        log_->append(reading);
    }
    tell([&](RecordingListener& listener) { listener.readingRecorded(reading); });
}

void Recording::addLogged(std::int64_t wallMs, const MeterReading& reading,
                          std::string_view currentText, std::string_view secondText) {
    history_.add(wallMs, reading);
    tallyPower(reading);
    // The statistics show the texts as they were logged (with the separator of then).
    if (const auto q = currentNumber(reading)) {
        statistics_.add(*q, currentText, wallMs);
    }
    if (const auto q = secondNumber(reading)) {
        statistics_.add(*q, secondText, wallMs);
    }
}

void Recording::tallyPower(const MeterReading& reading) {
    const std::size_t last = history_.size() - 1;
    const TrendPoint& point = history_[last];
    power_.add(reading, point.wallMs, history_.keyMs(last), point.breakBefore);
}

LogReadResult Recording::load(const std::string& path) {
    return load(std::vector<std::string>{path});
}

LogReadResult Recording::load(const std::vector<std::string>& paths) {
    struct Sink : LogReadingSink {
        Recording& into;
        explicit Sink(Recording& r) : into(r) {}
        void reading(std::int64_t wallMs, const MeterReading& raw, std::string_view currentText,
                     std::string_view secondText) override {
            into.addLogged(wallMs, raw, currentText, secondText);
        }
    } sink(*this);
    return readCsvLogs(paths, sink);
}

bool Recording::startLog(const std::string& path, std::string& error, std::uint64_t minFreeBytes) {
    return startLog(path, error, minFreeBytes, systemClock().wallMs());
}

bool Recording::startLog(const std::string& path, std::string& error, std::uint64_t minFreeBytes,
                         std::int64_t wallMs) {
    DurableLog::Settings settings;
    settings.path = path;
    settings.minFreeBytes = minFreeBytes;
    auto log = std::make_unique<DurableLog>(settings, logEvents());
    if (!log->open(wallMs, error)) {
        return false;
    }
    log_ = std::move(log);
    tell([](RecordingListener& listener) { listener.logChanged(true); });
    return true;
}

DurableLogEvents Recording::logEvents() {
    DurableLogEvents events;
    events.fellBehind = [this](const std::string&) {
        tell([](RecordingListener& listener) { listener.logBehind(true); });
    };
    events.caughtUp = [this](std::uint64_t late, std::uint64_t dropped) {
        std::string line = "log caught up: " + std::to_string(late) + " readings written late";
        if (dropped > 0) {
            line += ", " + std::to_string(dropped) + " dropped";
        }
        tell([&](RecordingListener& listener) {
            listener.logBehind(false);
            listener.logNews(line);
        });
    };
    events.dropping = [this](std::size_t kept) {
        const std::string line = "log: more than " + std::to_string(kept) +
                                 " readings wait; the oldest are dropped from now on";
        tell([&](RecordingListener& listener) { listener.logNews(line); });
    };
    events.fileStarted = [this](const std::string& path, const std::string& why) {
        const std::string line = "log " + path + ": " + why;
        tell([&](RecordingListener& listener) { listener.logNews(line); });
    };
    return events;
}

void Recording::stopLog() {
    if (log_) {
        log_.reset();
        tell([](RecordingListener& listener) { listener.logChanged(false); });
    }
}

void Recording::tickLog(std::int64_t nowNs) {
    if (log_) {
        log_->tick(nowNs);
    }
}

void Recording::reopenLog(std::int64_t nowNs) {
    if (log_) {
        log_->reopen(nowNs);
    }
}

void Recording::addListener(RecordingListener* listener) {
    listeners_.add(listener);
}

void Recording::removeListener(RecordingListener* listener) {
    listeners_.remove(listener);
}

} // namespace talviren
