#pragma once

#include <QDialog>
#include <QStringList>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace talviren {

// "Alarms…": the alarms as lines of the rule language ("over: current > 15A for 2s"), to add,
// edit and remove. Each line is checked as it is typed, with the words talviren-cli uses; a
// line that does not parse stays in the list, marked with its error, and is not used.
class AlarmsDialog : public QDialog {
    Q_OBJECT

public:
    // `hasPowerFactor`: whether `power` can be watched (the Trend view's PF is set).
    AlarmsDialog(const QStringList& lines, bool hasPowerFactor, QWidget* parent = nullptr);

    // The lines as they stand, empty ones left out.
    QStringList lines() const;
    // The problem of line i, or an empty text when it is fine.
    QString problem(int i) const;

    QListWidget* list = nullptr;
    QLineEdit* editor = nullptr; // the selected line
    QLabel* check = nullptr;     // what is wrong with it, or that it is fine
    QPushButton* addButton = nullptr;
    QPushButton* removeButton = nullptr;

private:
    void select(int row);
    void edited(const QString& text);
    void recheck();

    bool hasPowerFactor_;
};

} // namespace talviren
