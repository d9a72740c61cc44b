#pragma once

#include "ui/LinesDialog.h"

#include <optional>

namespace talviren {

// "Alarms…": the alarms as lines of the rule language ("over: current > 15A for 2s",
// "L2.current > 15A", "total.power > 10kW"), checked with the words talviren-cli uses.
class AlarmsDialog : public LinesDialog {
    Q_OBJECT

public:
    // `hasPowerFactor`: whether `power` can be watched on the window's own meter (the Trend
    // view's PF is set); `meters`: the names a rule may give, the window's own one first.
    AlarmsDialog(const QStringList& lines, bool hasPowerFactor, const QStringList& meters = {},
                 QWidget* parent = nullptr);

    // Shows the dialog; the lines as edited, none when cancelled.
    static std::optional<QStringList> edit(const QStringList& lines, bool hasPowerFactor,
                                           const QStringList& meters, QWidget* parent);

    // The problem of each line, read together: what parseAlarm and checkAlarms say, and a meter
    // the window does not have.
    static QStringList problems(const QStringList& lines, bool hasPowerFactor,
                                const QStringList& meters);
};

} // namespace talviren
