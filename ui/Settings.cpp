#include "ui/Settings.h"

#include "link/PortNaming.h"

#include <QSettings>
#include <QStringList>

namespace talviren {

namespace {

const QString kAlarms = QStringLiteral("alarms");
const QString kPowerFactor = QStringLiteral("trend/power_factor");
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

void loadRunSettings(RunSettings& settings) {
    const QString factor =
        QSettings(settingsFile(), QSettings::IniFormat).value(kPowerFactor).toString();
    settings.setPowerFactor(parsePowerFactor(factor.trimmed().toStdString()));
    std::vector<AlarmLine> lines;
    for (const StoredAlarm& stored : storedAlarms()) {
        lines.push_back({stored.name.toStdString(), stored.rule.toStdString()});
    }
    settings.setAlarmLines(std::move(lines));
}

RunSettingsKeeper::RunSettingsKeeper(RunSettings& settings) : settings_(settings) {
    settings_.addListener(this);
}

RunSettingsKeeper::~RunSettingsKeeper() {
    settings_.removeListener(this);
}

void RunSettingsKeeper::powerFactorChanged() {
    const auto& factor = settings_.powerFactor();
    QSettings(settingsFile(), QSettings::IniFormat)
        .setValue(kPowerFactor, factor ? QString::fromStdString(factor->text()) : QString());
}

void RunSettingsKeeper::alarmsChanged() {
    std::vector<StoredAlarm> alarms;
    for (const AlarmLine& line : settings_.alarmLines()) {
        alarms.push_back({QString::fromStdString(line.name), QString::fromStdString(line.rule)});
    }
    storeAlarms(alarms);
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
