#include "ui/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace talviren {

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kPath[] = "/org/freedesktop/Notifications";
// Urgency levels as the notification service numbers them.
constexpr uchar kNormal = 1;
constexpr uchar kCritical = 2;

} // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void DesktopNotifier::alarmChanged(const AlarmEvent& event) {
    const std::string& name = event.rule->name;
    const QString detail = QString::fromStdString(event.detail());
    if (event.raised) {
        notify(name, 0, tr("Alarm %1 raised").arg(QString::fromStdString(name)), detail, true);
        return;
    }
    const auto it = shown_.find(name);
    if (it == shown_.end()) {
        return; // its raise was never shown
    }
    const QString summary = tr("Alarm %1 cleared").arg(QString::fromStdString(name));
    if (it->second.waiting) {
        it->second.clearSummary = summary;
        it->second.clearBody = detail;
        return;
    }
    const uint id = it->second.id;
    shown_.erase(it);
    notify(name, id, summary, detail, false);
}

void DesktopNotifier::notify(const std::string& alarm, uint replaces, const QString& summary,
                             const QString& body, bool critical) {
    if (!bus_.isConnected()) {
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kService), QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("urgency"), QVariant::fromValue(critical ? kCritical : kNormal)}};
    call << QStringLiteral("talviren") << replaces << QStringLiteral("dialog-warning") << summary
         << body << QStringList() << hints << (critical ? 0 : -1); // a raise stays until seen
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    if (critical) {
        shown_[alarm] = Shown{0, true, {}, {}};
    }
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, alarm, critical](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                if (!critical) {
                    return;
                }
                const QDBusPendingReply<uint> reply = *finished;
                const auto it = shown_.find(alarm);
                if (it == shown_.end()) {
                    return;
                }
                if (reply.isError()) {
                    shown_.erase(it); // no service: the banner alone tells
                    return;
                }
                it->second.id = reply.value();
                it->second.waiting = false;
                if (!it->second.clearSummary.isEmpty()) {
                    const Shown shown = it->second;
                    shown_.erase(it);
                    notify(alarm, shown.id, shown.clearSummary, shown.clearBody, false);
                }
            });
}

} // namespace talviren
