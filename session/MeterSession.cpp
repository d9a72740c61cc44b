#include "session/MeterSession.h"

#include <QLocale>

namespace talviren {

MeterSession::MeterSession(QObject* parent) : QObject(parent) {
    parts_.link.setDecimalSeparator(QLocale().decimalPoint().toStdString());
    for (QtTimer* timer :
         {&parts_.readtim, &parts_.comtim, &parts_.comcontim, &parts_.Findcomtim}) {
        timer->setEnabled(true);
    }
    // Checked ten times a second, synced once a second: the last line before a pause reaches
    // the disk within a second too.
    logSync_.setInterval(100);
    connect(&logSync_, &QTimer::timeout, this,
            [this] { core_.recording().syncLog(systemClock().steadyNs()); });
    core_.recording().addListener(this);
}

MeterSession::~MeterSession() {
    shutDown();
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
}

} // namespace talviren
