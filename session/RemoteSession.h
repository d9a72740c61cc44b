#pragma once

#include "alarm/AlarmEngine.h"
#include "remote/RemoteFollower.h"
#include "session/QtHttpStream.h"
#include "trend/Recording.h"

#include <QObject>
#include <QTimer>

#include <optional>

namespace talviren {

// A remote logger as one meter of the window: the follower over Qt Network, the meter's
// recording (each reading with the time the remote gave it), its alarms, and the power factor
// the remote has. Qt, one per remote meter.
class RemoteSession : public QObject, private remote::RemoteListener, private RecordingListener {
    Q_OBJECT

public:
    RemoteSession(remote::RemoteTarget target, std::string decimalSeparator,
                  QObject* parent = nullptr);
    ~RemoteSession() override;

    void start() { follower_.start(); }
    Recording& recording() { return recording_; }
    AlarmEngine& alarms() { return alarms_; }
    const remote::RemoteFollower& follower() const { return follower_; }
    // The power factor the remote publishes P at; none before it said, or without one.
    std::optional<PowerFactor> powerFactor() const { return powerFactor_; }
    // Replaces the alarms on this meter.
    void setAlarms(std::vector<AlarmRule> rules);

signals:
    // Connected, offline, refused, or the remote's meter changed.
    void changed();

private:
    void remoteReading(const remote::RemoteReading& reading, bool breakBefore) override;
    void remoteChanged() override { emit changed(); }
    void readingRecorded(const TimedReading& reading) override { alarms_.reading(reading); }

    QtHttpStream http_;
    QtCountdown retry_;
    QtCountdown silence_;
    Recording recording_;
    AlarmEngine alarms_;
    remote::RemoteFollower follower_;
    std::optional<PowerFactor> powerFactor_;
    QTimer alarmClock_; // no-reading alarms, on the wall clock the remote's times are in
};

} // namespace talviren
