#pragma once

#include "meters/Meter.h"

#include <QObject>
#include <QTimer>

namespace talviren {

// One meter's clock on the user-interface thread: it ticks the meter every 100 ms while the
// meter wants it (a log to sync and to catch up, an alarm that waits for silence) and sleeps
// while it does not. Every kind of meter has the same one.
class MeterClock : public QObject, private MeterListener {
    Q_OBJECT

public:
    explicit MeterClock(Meter& meter, QObject* parent = nullptr);
    ~MeterClock() override;

    // Stops for good: the program is ending.
    void stop();
    bool running() const { return timer_.isActive(); }

private:
    void ticksWanted(const Meter& meter, bool wanted) override;

    Meter& meter_;
    QTimer timer_;
    bool stopped_ = false;
};

} // namespace talviren
