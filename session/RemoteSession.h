#pragma once

#include "session/MeterClock.h"
#include "session/QtHttpStream.h"
#include "session/RemoteCore.h"

#include <QObject>

namespace talviren {

// A remote logger as one meter of the window: the follower over Qt Network as its feed, and
// the meter (each reading with the time the remote gave it, the remote's power factor) with
// its clock. Qt, one per remote meter.
class RemoteSession : public QObject {
    Q_OBJECT

public:
    RemoteSession(MeterSource source, std::string decimalSeparator, QObject* parent = nullptr);
    ~RemoteSession() override;

    void start() { core_.start(); }
    Meter& meter() { return core_.meter(); }
    const remote::RemoteFollower& follower() const { return core_.follower(); }

private:
    QtHttpStream http_;
    QtCountdown retry_;
    QtCountdown silence_;
    RemoteCore core_;
    MeterClock clock_{core_.meter()};
};

} // namespace talviren
