#include "trend/Recording.h"

#include "measure/ValueText.h"

#include <algorithm>

namespace talviren {

template <typename Call> void Recording::tell(Call call) {
    // A copy, so that a listener may leave while it is told.
    const std::vector<RecordingListener*> now = listeners_;
    for (RecordingListener* listener : now) {
        if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) {
            call(*listener);
        }
    }
}

void Recording::add(const TimedReading& reading) {
    ++liveCount_;
    history_.add(reading);
    statistics_.add(reading);
    tallyPower(reading.raw);
    if (log_ && !log_->append(reading)) {
        logFailed();
    }
    tell([&](RecordingListener& listener) { listener.readingRecorded(reading); });
}

void Recording::addLogged(std::int64_t wallMs, const MeterReading& reading,
                          std::string_view currentText, std::string_view secondText) {
    history_.add(wallMs, reading);
    tallyPower(reading);
    // The statistics show the texts as they were logged (with the separator of then).
    if (const auto q = currentNumber(reading)) {
        statistics_.add(quantityWithText(*q, std::string(currentText)), wallMs);
    }
    if (const auto q = secondNumber(reading)) {
        statistics_.add(quantityWithText(*q, std::string(secondText)), wallMs);
    }
}

void Recording::tallyPower(const MeterReading& reading) {
    const std::size_t last = history_.size() - 1;
    const TrendPoint& point = history_[last];
    power_.add(reading, point.wallMs, history_.keyMs(last), point.breakBefore);
}

LogReadResult Recording::load(const std::string& path) {
    struct Sink : LogReadingSink {
        Recording& into;
        explicit Sink(Recording& r) : into(r) {}
        void reading(std::int64_t wallMs, const MeterReading& raw, std::string_view currentText,
                     std::string_view secondText) override {
            into.addLogged(wallMs, raw, currentText, secondText);
        }
    } sink(*this);
    return readCsvLog(path, sink);
}

bool Recording::startLog(const std::string& path, std::string& error) {
    auto writer = std::make_unique<CsvLogWriter>(path);
    if (!writer->open()) {
        error = writer->error();
        return false;
    }
    log_ = std::move(writer);
    tell([](RecordingListener& listener) { listener.logChanged(true); });
    return true;
}

void Recording::stopLog() {
    if (log_) {
        log_.reset();
        tell([](RecordingListener& listener) { listener.logChanged(false); });
    }
}

void Recording::syncLog(std::int64_t nowNs) {
    if (log_ && !log_->syncIfDue(nowNs)) {
        logFailed();
    }
}

void Recording::logFailed() {
    const std::string error = log_->error();
    log_.reset(); // the lines written stay as they are
    tell([&](RecordingListener& listener) { listener.logFailed(error); });
    tell([](RecordingListener& listener) { listener.logChanged(false); });
}

void Recording::addListener(RecordingListener* listener) {
    if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) {
        listeners_.push_back(listener);
    }
}

void Recording::removeListener(RecordingListener* listener) {
    std::erase(listeners_, listener);
}

} // namespace talviren
