#include "session/MeterClock.h"

namespace talviren {

MeterClock::MeterClock(Meter& meter, QObject* parent) : QObject(parent), meter_(meter) {
    timer_.setInterval(Meter::kTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { meter_.tick(); });
    meter_.addListener(this);
    ticksWanted(meter_, meter_.wantsTicks());
}

MeterClock::~MeterClock() {
    meter_.removeListener(this);
}

void MeterClock::stop() {
    stopped_ = true;
    timer_.stop();
}

void MeterClock::ticksWanted(const Meter&, bool wanted) {
    if (wanted && !stopped_) {
        timer_.start();
    } else {
        timer_.stop();
    }
}

} // namespace talviren
