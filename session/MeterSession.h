#pragma once

#include "link/LinkAssembly.h"
#include "session/QtSerialPort.h"
#include "session/QtTimer.h"

#include <QObject>

namespace talviren {

// The meter as the program uses it: the QSerialPort adapter, the four timers, the record table
// and the link engine, wired once on the user-interface thread. Readings and link events go out
// to every registered consumer: the window and its views, the command-line tool, the tests.
class MeterSession : public QObject {
    Q_OBJECT

public:
    // Every timer runs from creation, as the window's do; the link's start-up then sets them.
    explicit MeterSession(QObject* parent = nullptr);
    ~MeterSession() override;

    MeterLink& link() { return parts_.link; }
    const MeterLink& link() const { return parts_.link; }
    QtSerialPort& port() { return parts_.port; }
    RecordTable& table() { return parts_.table; }
    const RecordTable& table() const { return parts_.table; }

    // Registers a consumer of readings and link events; it must stay until removed.
    void addConsumer(LinkObserver* consumer) { parts_.consumers.addConsumer(consumer); }
    void removeConsumer(LinkObserver* consumer) { parts_.consumers.removeConsumer(consumer); }

    // True while the port scan runs (the link is not handed over to polling).
    bool scanning() const { return parts_.Findcomtim.isEnabled(); }
    // True while the polling timer runs.
    bool polling() const { return parts_.comtim.isEnabled(); }

    // Closes the port and stops every timer: the program is ending.
    void shutDown();

private:
    LinkAssembly<QtSerialPort, QtTimer> parts_;
};

} // namespace talviren
