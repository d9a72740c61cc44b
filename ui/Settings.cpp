#include "ui/Settings.h"

#include "link/PortNaming.h"

#include <QSettings>
#include <QStringList>

namespace talviren {

namespace {

const QString kAlarms = QStringLiteral("alarms");

} // namespace

QString settingsFile() {
    return QString::fromStdString((ports::configFolder() / "talviren.conf").string());
}

std::vector<StoredAlarm> storedAlarms() {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.beginGroup(kAlarms);
    std::vector<StoredAlarm> alarms;
    for (const QString& name : settings.childKeys()) {
        // A line an editor wrote with a comma in it reads back as a list.
        const QVariant value = settings.value(name);
        const QString rule = value.typeId() == QMetaType::QStringList
                                 ? value.toStringList().join(QStringLiteral(", "))
                                 : value.toString();
        alarms.push_back({name, rule});
    }
    return alarms;
}

void storeAlarms(const std::vector<StoredAlarm>& alarms) {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.remove(kAlarms);
    settings.beginGroup(kAlarms);
    for (const StoredAlarm& alarm : alarms) {
        settings.setValue(alarm.name, alarm.rule);
    }
}

} // namespace talviren
