#include "ui/Settings.h"

#include "link/PortNaming.h"

#include <QSettings>
#include <QStringList>

namespace talviren {

namespace {

const QString kAlarms = QStringLiteral("alarms");
const QString kMeters = QStringLiteral("meters");

// A value an editor wrote with a comma in it reads back as a list.
QString textOf(const QVariant& value) {
    return value.typeId() == QMetaType::QStringList
               ? value.toStringList().join(QStringLiteral(", "))
               : value.toString();
}

} // namespace

QString settingsFile() {
    return QString::fromStdString((ports::configFolder() / "talviren.conf").string());
}

std::vector<StoredAlarm> storedAlarms() {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.beginGroup(kAlarms);
    std::vector<StoredAlarm> alarms;
    for (const QString& name : settings.childKeys()) {
        alarms.push_back({name, textOf(settings.value(name))});
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

QStringList storedMeterLines() {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.beginGroup(kMeters);
    QStringList lines;
    for (const QString& name : settings.childKeys()) {
        lines << name + QLatin1Char('=') + textOf(settings.value(name));
    }
    return lines;
}

void storeMeterLines(const QStringList& lines) {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.remove(kMeters);
    settings.beginGroup(kMeters);
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals > 0) {
            settings.setValue(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
        }
    }
}

} // namespace talviren
