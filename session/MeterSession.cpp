#include "session/MeterSession.h"

#include <QLocale>

#include <algorithm>

namespace talviren {

MeterSession::MeterSession(QObject* parent) : QObject(parent) {
    parts_.link.setDecimalSeparator(QLocale().decimalPoint().toStdString());
    for (QtTimer* timer :
         {&parts_.readtim, &parts_.comtim, &parts_.comcontim, &parts_.Findcomtim}) {
        timer->setEnabled(true);
    }
    // Checked ten times a second, synced once a second: the last line before a pause reaches
    // the disk within a second too; a log behind tries again from here.
    logSync_.setInterval(100);
    connect(&logSync_, &QTimer::timeout, this,
            [this] { core_.recording().tickLog(systemClock().steadyNs()); });
    core_.recording().addListener(this);
    // A no-reading alarm rises within a tenth of a second of its time.
    alarmClock_.setInterval(100);
    connect(&alarmClock_, &QTimer::timeout, this,
            [this] { alarms_.tick(systemClock().steadyNs(), systemClock().wallMs()); });
    alarms_.addListener(this);
}

void MeterSession::setAlarms(std::vector<AlarmRule> rules, std::optional<PowerFactor> powerFactor) {
    alarms_.configure(std::move(rules), powerFactor, systemClock().steadyNs());
}

void MeterSession::alarmsConfigured() {
    const auto& rules = alarms_.rules();
    const bool waitsForSilence = std::any_of(rules.begin(), rules.end(), [](const AlarmRule& r) {
        return r.condition == AlarmRule::Condition::NoReading;
    });
    if (waitsForSilence) {
        alarmClock_.start();
    } else {
        alarmClock_.stop();
    }
}

void MeterSession::readingRecorded(const TimedReading& reading) {
    alarms_.reading(reading);
}

MeterSession::~MeterSession() {
    shutDown();
    alarms_.removeListener(this);
    core_.recording().removeListener(this);
}

void MeterSession::logChanged(bool open) {
    // Nothing to sync without a log: the event loop sleeps.
    if (open) {
        logSync_.start();
    } else {
        logSync_.stop();
    }
}

void MeterSession::shutDown() {
    parts_.link.shutDown();
    logSync_.stop();
    alarmClock_.stop();
}

} // namespace talviren
