#include "session/QtTimer.h"

namespace talviren {

QtTimer::QtTimer(int intervalMs, QObject* parent) : QObject(parent) {
    timer_.setInterval(intervalMs);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { notifyTick(); });
}

void QtTimer::setEnabled(bool enabled) {
    // Switching on a running timer leaves its rhythm alone, as the window's timers do.
    if (enabled && !timer_.isActive()) {
        timer_.start();
    } else if (!enabled) {
        timer_.stop();
    }
}

} // namespace talviren
