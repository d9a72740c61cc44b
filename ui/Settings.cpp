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

void loadStudySettings(study::StudyPlan& plan) {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("study"));
    study::StudySettings s = plan.settings();
    if (const auto interval = study::parseInterval(
            settings.value(QStringLiteral("interval")).toString().toStdString())) {
        s.intervalS = *interval;
    }
    if (const auto coverage = study::parseCoverage(
            settings.value(QStringLiteral("min_coverage")).toString().toStdString())) {
        s.minCoverage = *coverage;
    }
    const auto rating =
        study::parseAmperes(settings.value(QStringLiteral("rating")).toString().toStdString());
    s.ratingA = rating && *rating > 0 ? rating : std::nullopt;
    s.newLoadA =
        study::parseAmperes(settings.value(QStringLiteral("new_load")).toString().toStdString())
            .value_or(0);
    s.demand = settings.value(QStringLiteral("demand")).toString() == QLatin1String("block")
                   ? study::Demand::Block
                   : study::Demand::Sliding;
    plan.setSettings(s);
}

StudyPlanKeeper::StudyPlanKeeper(study::StudyPlan& plan) : plan_(plan) {
    plan_.addListener(this);
}

StudyPlanKeeper::~StudyPlanKeeper() {
    plan_.removeListener(this);
}

void StudyPlanKeeper::settingsChanged() {
    const study::StudySettings& s = plan_.settings();
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("study"));
    const int minutes = s.intervalS / 60;
    settings.setValue(QStringLiteral("interval"), minutes % 60 == 0
                                                      ? QStringLiteral("%1h").arg(minutes / 60)
                                                      : QStringLiteral("%1m").arg(minutes));
    settings.setValue(QStringLiteral("min_coverage"),
                      QStringLiteral("%1%").arg(s.minCoverage * 100));
    settings.setValue(QStringLiteral("rating"),
                      s.ratingA ? QStringLiteral("%1A").arg(*s.ratingA) : QString());
    settings.setValue(QStringLiteral("new_load"), QStringLiteral("%1A").arg(s.newLoadA));
    settings.setValue(QStringLiteral("demand"), s.demand == study::Demand::Block
                                                    ? QStringLiteral("block")
                                                    : QStringLiteral("sliding"));
}

std::optional<QSize> storedWindowSize() {
    const QSize size = QSettings(settingsFile(), QSettings::IniFormat)
                           .value(QStringLiteral("window/size"))
                           .toSize();
    return size.isValid() ? std::optional(size) : std::nullopt;
}

bool storedWindowMaximized() {
    return QSettings(settingsFile(), QSettings::IniFormat)
        .value(QStringLiteral("window/maximized"))
        .toBool();
}

void storeWindowSize(QSize size, bool maximized) {
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("window/size"), size);
    settings.setValue(QStringLiteral("window/maximized"), maximized);
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
