#include "ui/AlarmsDialog.h"

#include "alarm/AlarmRule.h"

namespace talviren {

AlarmsDialog::AlarmsDialog(const QStringList& lines, bool hasPowerFactor, const QStringList& meters,
                           QWidget* parent)
    : LinesDialog(
          {tr("Alarms"),
           tr("One alarm a line: NAME: CONDITION [for DURATION] [clear LIMIT], such as\n"
              "over: current > 15A for 2s clear 14A    mains: ac_voltage outside 210V..250V\n"
              "ol: overload    silent: no-reading for 30s    big: apparent_power > 3kVA\n"
              "With several meters a quantity may name its meter: L2.current > 15A,\n"
              "and the sum of them all is total: total.power > 10kW for 5s"),
           tr("over: current > 15A for 2s clear 14A"), tr("Alarms"), tr("Alarm line")},
          lines,
          [hasPowerFactor, meters](const QStringList& all) {
              return problems(all, hasPowerFactor, meters);
          },
          parent) {
    resize(560, 380);
}

std::optional<QStringList> AlarmsDialog::edit(const QStringList& lines, bool hasPowerFactor,
                                              const QStringList& meters, QWidget* parent) {
    AlarmsDialog dialog(lines, hasPowerFactor, meters, parent);
    return dialog.exec() == QDialog::Accepted ? std::optional(dialog.lines()) : std::nullopt;
}

QStringList AlarmsDialog::problems(const QStringList& lines, bool hasPowerFactor,
                                   const QStringList& meters) {
    // Every line on its own, then the set: a name given twice, power without a PF.
    QStringList out;
    std::vector<AlarmRule> rules;
    for (const QString& line : lines) {
        QString problem;
        if (!line.isEmpty()) {
            AlarmParse parsed = parseAlarm(line.toStdString());
            if (parsed.rule) {
                const QString meter = QString::fromStdString(parsed.rule->meter);
                std::vector<AlarmRule> withIt = rules;
                withIt.push_back(*parsed.rule);
                if (!meter.isEmpty() && meter != QLatin1String(kTotalMeter.data()) &&
                    !meters.contains(meter)) {
                    problem = tr("alarm '%1': no meter is named %2 (Meters\u2026 names them)")
                                  .arg(QString::fromStdString(parsed.rule->name), meter);
                } else if (const auto wrong = checkAlarms(withIt, hasPowerFactor)) {
                    problem = QString::fromStdString(*wrong) +
                              (wrong->ends_with("power factor") ? tr(": set PF") : QString());
                } else {
                    rules.push_back(std::move(*parsed.rule));
                }
            } else {
                problem = QString::fromStdString(parsed.error);
            }
        }
        out << problem;
    }
    return out;
}

} // namespace talviren
