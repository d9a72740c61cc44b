#pragma once

#include "alarm/AlarmEngine.h"
#include "link/LinkAssembly.h"
#include "session/QtSerialPort.h"
#include "session/QtTimer.h"
#include "session/SessionCore.h"

#include <QObject>
#include <QTimer>

namespace talviren {

// The meter as the program uses it: the QSerialPort adapter, the four timers, the link engine,
// the run's recording and record table, and the alarms that watch the recording's readings,
// wired once on the user-interface thread. Its consumers (the window and its views,
// talviren-cli, the publisher, the tests) hear the engine's events, read the recording and
// listen to the alarms.
class MeterSession : public QObject, private RecordingListener, private AlarmListener {
    Q_OBJECT

public:
    // Every timer runs from creation, as the window's do; the link's start-up then sets them.
    explicit MeterSession(QObject* parent = nullptr);
    ~MeterSession() override;

    MeterLink& link() { return parts_.link; }
    QtSerialPort& port() { return parts_.port; }
    RecordTable& table() { return core_.table(); }
    const RecordTable& table() const { return core_.table(); }
    Recording& recording() { return core_.recording(); }
    AlarmEngine& alarms() { return alarms_; }
    // Replaces the alarms; they watch from now on, no-reading ones counting from now.
    void setAlarms(std::vector<AlarmRule> rules, std::optional<PowerFactor> powerFactor);

    // What polling asks for while the link is up.
    void setPolling(Polling polling) { core_.setPolling(polling); }

    // Registers a consumer of the engine's events; it must stay until removed.
    void addConsumer(LinkEvents* consumer) { core_.addConsumer(consumer); }
    void removeConsumer(LinkEvents* consumer) { core_.removeConsumer(consumer); }

    // Closes the port and stops every timer: the program is ending.
    void shutDown();

private:
    void logChanged(bool open) override;
    void readingRecorded(const TimedReading& reading) override;
    void alarmsConfigured() override;

    LinkAssembly<QtSerialPort, QtTimer> parts_;
    SessionCore core_{parts_.link};
    QTimer logSync_; // forces the log to the disk once a second, while there is one
    AlarmEngine alarms_;
    QTimer alarmClock_; // tells the alarms that time passes, while one waits for silence
};

} // namespace talviren
