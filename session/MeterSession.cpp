#include "session/MeterSession.h"

#include <QLocale>

namespace talviren {

MeterSession::MeterSession(QObject* parent) : QObject(parent) {
    parts_.link.setDecimalSeparator(QLocale().decimalPoint().toStdString());
    for (QtTimer* timer :
         {&parts_.readtim, &parts_.comtim, &parts_.comcontim, &parts_.Findcomtim}) {
        timer->setEnabled(true);
    }
}

MeterSession::~MeterSession() {
    shutDown();
}

void MeterSession::shutDown() {
    parts_.link.shutDown();
    clock_.stop();
}

} // namespace talviren
