#pragma once

#include "alarm/AlarmEngine.h"

#include <QDBusConnection>
#include <QObject>

#include <map>
#include <string>

namespace talviren {

// Tells raised alarms on the desktop through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus): one notification per raise, urgency
// critical, which the clear replaces instead of adding one. The calls are asynchronous, so a
// slow or missing service never holds up a reading; without one nothing happens.
class DesktopNotifier : public QObject, public AlarmListener {
    Q_OBJECT

public:
    explicit DesktopNotifier(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);

    void alarmChanged(const AlarmEvent& event) override;

private:
    // What is known of an alarm's notification.
    struct Shown {
        uint id = 0;          // the service's number for it, once it answered
        bool waiting = false; // the raise was sent, no answer yet
        QString clearSummary; // a clear that came before the answer, sent after it
        QString clearBody;
    };

    void notify(const std::string& alarm, uint replaces, const QString& summary,
                const QString& body, bool critical);

    QDBusConnection bus_;
    std::map<std::string, Shown> shown_;
};

} // namespace talviren
