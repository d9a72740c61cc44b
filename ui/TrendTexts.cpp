#include "ui/TrendTexts.h"

#include <QDateTime>
#include <QFileInfo>

#include <cmath>

namespace talviren {

namespace {

// An energy in Wh or VAh with a prefix that keeps it short: "523.456 VAh", "1.234 kVAh".
QString energyText(double value, const char* unit, const QString& separator) {
    const char* prefix = "";
    if (std::abs(value) >= 1e6) {
        value /= 1e6;
        prefix = "M";
    } else if (std::abs(value) >= 1e3) {
        value /= 1e3;
        prefix = "k";
    }
    return QString::number(value, 'f', 3).replace(QLatin1Char('.'), separator) + ' ' + prefix +
           unit;
}

} // namespace

QString TrendTexts::energy(const PowerTally& power, std::optional<PowerFactor> factor,
                           const QString& separator, std::optional<SumEnergy> sum) {
    if (!power.seen() || !power.sinceWallMs()) {
        return {};
    }
    QString text = QStringLiteral("E ") + energyText(power.apparentEnergyVAh(), "VAh", separator);
    if (factor) {
        text += QStringLiteral(", ") + energyText(power.energyWh(*factor), "Wh", separator) +
                QStringLiteral(" at PF ") + QString::fromStdString(factor->text());
    }
    const QDateTime since = QDateTime::fromMSecsSinceEpoch(*power.sinceWallMs());
    const bool today = since.date() == QDate::currentDate();
    text += tr(" since %1")
                .arg(since.toString(today ? QStringLiteral("HH:mm:ss")
                                          : QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (sum) {
        text += QStringLiteral("   \u03A3 E ") +
                energyText(static_cast<double>(sum->apparentUnits) / 10'000.0, "VAh", separator);
        if (sum->wh) {
            text += QStringLiteral(", ") + energyText(*sum->wh, "Wh", separator);
        }
    }
    return text;
}

QString TrendTexts::log(const DurableLog& log, std::size_t moreLogs) {
    QString text = tr("%1: %2 lines")
                       .arg(QFileInfo(QString::fromStdString(log.path())).fileName())
                       .arg(log.linesWritten());
    if (moreLogs > 0) {
        text += tr(" (and %1 more logs)").arg(moreLogs);
    }
    if (log.behind()) {
        text += tr(", %1 waiting").arg(log.waiting());
        if (log.dropped() > 0) {
            text += tr(", %1 dropped").arg(log.dropped());
        }
        text += QStringLiteral(" (%1)").arg(QString::fromStdString(log.error()));
    }
    return text;
}

} // namespace talviren
