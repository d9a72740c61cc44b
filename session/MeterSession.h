#pragma once

#include "link/LinkAssembly.h"
#include "session/MeterClock.h"
#include "session/QtSerialPort.h"
#include "session/QtTimer.h"
#include "session/SessionCore.h"

#include <QObject>

namespace talviren {

// A meter on a local serial port as the program uses it: the QSerialPort adapter, the four
// timers and the link engine as its feed, the meter (its recording, its alarms, its log) with
// its clock, and the record table, wired once on the user-interface thread. Its consumers (the
// window and its views, talviren-cli, the publisher, the tests) hear the engine's events, read
// the recording and listen to the alarms.
class MeterSession : public QObject {
    Q_OBJECT

public:
    // Every timer runs from creation, as the window's do; the link's start-up then sets them.
    explicit MeterSession(QObject* parent = nullptr);
    ~MeterSession() override;

    MeterLink& link() { return parts_.link; }
    QtSerialPort& port() { return parts_.port; }
    Meter& meter() { return core_.meter(); }
    RecordTable& table() { return core_.table(); }
    const RecordTable& table() const { return core_.table(); }
    Recording& recording() { return core_.recording(); }
    AlarmEngine& alarms() { return core_.meter().alarms(); }

    // What polling asks for while the link is up.
    void setPolling(Polling polling) { core_.setPolling(polling); }

    // Registers a consumer of the engine's events; it must stay until removed.
    void addConsumer(LinkEvents* consumer) { core_.addConsumer(consumer); }
    void removeConsumer(LinkEvents* consumer) { core_.removeConsumer(consumer); }

    // Closes the port and stops every timer: the program is ending.
    void shutDown();

private:
    LinkAssembly<QtSerialPort, QtTimer> parts_;
    SessionCore core_{parts_.link};
    MeterClock clock_{core_.meter()};
};

} // namespace talviren
