#pragma once

#include "link/Protocol.h"
#include "link/SerialPort.h"

#include <QObject>
#include <QTimer>

namespace talviren {

// A link timer over QTimer, ticking on the user-interface thread.
class QtTimer : public QObject, public Timer {
    Q_OBJECT

public:
    explicit QtTimer(int intervalMs = protocol::kTickMs, QObject* parent = nullptr);

    void setEnabled(bool enabled) override;
    bool isEnabled() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

} // namespace talviren
