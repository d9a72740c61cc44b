#pragma once

#include "web/IoLoop.h"

#include <QSocketNotifier>
#include <QTimer>

#include <memory>

namespace talviren::cli {

// The web server's loop over Qt's: a socket notifier and a single-shot timer, on the thread
// that runs everything else.
class QtIoLoop : public web::IoLoop {
public:
    QtIoLoop();

    void watch(int fd, std::function<void()> ready) override;
    void unwatch() override;
    void callAfter(int ms, std::function<void()> due) override;
    void cancelCall() override;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> ready_;
    QTimer timer_;
    std::function<void()> due_;
};

} // namespace talviren::cli
