#pragma once

#include <QWidget>

#include <QColor>
#include <QStringList>

#include <vector>

class QCheckBox;
class QLineEdit;
class QToolButton;

namespace talviren {

// The Trend view's row of controls: the spans, Live, Reset, Log…, Open…, the PF field and
// Alarms…, named as the tests and the screen reader know them. It only lays them out; the
// view connects them.
class TrendToolBar : public QWidget {
    Q_OBJECT

public:
    explicit TrendToolBar(QWidget* parent = nullptr);

    QToolButton* spanButtons[5] = {}; // 1 min, 10 min, 1 h, 24 h, All
    QToolButton* liveButton = nullptr;
    QToolButton* resetButton = nullptr;
    QToolButton* logButton = nullptr;
    QToolButton* openButton = nullptr;
    QLineEdit* powerFactorEdit = nullptr;
    QToolButton* alarmsButton = nullptr;
};

// With several meters, the row of which to draw: a check per meter in its colour, the run's own
// first, and one for their sum Σ.
class MeterChecks : public QWidget {
    Q_OBJECT

public:
    explicit MeterChecks(QWidget* parent = nullptr);

    // A meter's colour, the run's own first.
    static QColor colour(std::size_t index);
    // A check per meter in its colour, each checked.
    void setMeters(const QStringList& names);
    // Whether meter `index` is checked.
    bool checked(std::size_t index) const;
    bool sumChecked() const;

    std::vector<QCheckBox*> meterChecks;
    QCheckBox* sumCheck = nullptr;

signals:
    // A check was clicked.
    void changed();
};

} // namespace talviren
