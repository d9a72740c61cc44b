#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace talviren {

// A dialog of lines to add, edit and remove ("Alarms…", "Meters…"): each line is checked as it
// is typed; a line that does not parse stays in the list, marked with its error, and is not
// used.
class LinesDialog : public QDialog {
    Q_OBJECT

public:
    // The problem of each line (an empty text where it is fine), the lines read together.
    using Check = std::function<QStringList(const QStringList& lines)>;
    struct Texts {
        QString title;
        QString help;        // above the list
        QString placeholder; // an example line
        QString listName;    // the accessible names
        QString lineName;
    };

    LinesDialog(const Texts& texts, const QStringList& lines, Check checkLines,
                QWidget* parent = nullptr);

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

    Check check_;
};

} // namespace talviren
