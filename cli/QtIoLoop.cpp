#include "cli/QtIoLoop.h"

namespace talviren::cli {

QtIoLoop::QtIoLoop() {
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (due_) {
            due_();
        }
    });
}

void QtIoLoop::watch(int fd, std::function<void()> ready) {
    ready_ = std::move(ready);
    notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ready_(); });
}

void QtIoLoop::unwatch() {
    notifier_.reset();
}

void QtIoLoop::callAfter(int ms, std::function<void()> due) {
    due_ = std::move(due);
    timer_.start(ms);
}

void QtIoLoop::cancelCall() {
    timer_.stop();
}

} // namespace talviren::cli
