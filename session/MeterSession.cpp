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
    logSync_.start();
}

MeterSession::~MeterSession() {
    shutDown();
}

void MeterSession::shutDown() {
    parts_.link.shutDown();
    logSync_.stop();
}

} // namespace talviren
