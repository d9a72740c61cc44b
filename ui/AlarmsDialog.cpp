#include "ui/AlarmsDialog.h"

#include "alarm/AlarmRule.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace talviren {

AlarmsDialog::AlarmsDialog(const QStringList& lines, bool hasPowerFactor, QWidget* parent)
    : QDialog(parent), hasPowerFactor_(hasPowerFactor) {
    setWindowTitle(tr("Alarms"));
    auto* layout = new QVBoxLayout(this);
    auto* help = new QLabel(
        tr("One alarm a line: NAME: CONDITION [for DURATION] [clear LIMIT], such as\n"
           "over: current > 15A for 2s clear 14A    mains: ac_voltage outside 210V..250V\n"
           "ol: overload    silent: no-reading for 30s    big: apparent_power > 3kVA"),
        this);
    layout->addWidget(help);
    list = new QListWidget(this);
    list->setAccessibleName(tr("Alarms"));
    list->addItems(lines);
    layout->addWidget(list, 1);
    editor = new QLineEdit(this);
    editor->setAccessibleName(tr("Alarm line"));
    editor->setPlaceholderText(tr("over: current > 15A for 2s clear 14A"));
    layout->addWidget(editor);
    check = new QLabel(this);
    check->setWordWrap(true);
    layout->addWidget(check);
    auto* buttons = new QHBoxLayout;
    addButton = new QPushButton(tr("Add"), this);
    removeButton = new QPushButton(tr("Remove"), this);
    buttons->addWidget(addButton);
    buttons->addWidget(removeButton);
    buttons->addStretch();
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->addWidget(box);
    layout->addLayout(buttons);

    connect(box, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list, &QListWidget::currentRowChanged, this, &AlarmsDialog::select);
    connect(editor, &QLineEdit::textEdited, this, &AlarmsDialog::edited);
    connect(addButton, &QPushButton::clicked, this, [this] {
        list->addItem(QString());
        list->setCurrentRow(list->count() - 1);
        editor->setFocus();
    });
    connect(removeButton, &QPushButton::clicked, this, [this] {
        delete list->takeItem(list->currentRow());
        recheck();
    });
    recheck();
    list->setCurrentRow(lines.isEmpty() ? -1 : 0);
    if (lines.isEmpty()) {
        addButton->click();
    }
    resize(560, 360);
}

QStringList AlarmsDialog::lines() const {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        const QString line = list->item(i)->text().trimmed();
        if (!line.isEmpty()) {
            out << line;
        }
    }
    return out;
}

QString AlarmsDialog::problem(int i) const {
    return list->item(i)->toolTip();
}

void AlarmsDialog::select(int row) {
    editor->setEnabled(row >= 0);
    editor->setText(row >= 0 ? list->item(row)->text() : QString());
    check->setText(row >= 0 ? (problem(row).isEmpty() ? tr("OK") : problem(row)) : QString());
}

void AlarmsDialog::edited(const QString& text) {
    if (QListWidgetItem* item = list->currentItem()) {
        item->setText(text);
        recheck();
    }
}

void AlarmsDialog::recheck() {
    // Every line on its own, then the set: a name given twice, power without a PF.
    std::vector<AlarmRule> rules;
    std::vector<int> rows;
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem* item = list->item(i);
        const QString line = item->text().trimmed();
        QString problem;
        if (!line.isEmpty()) {
            AlarmParse parsed = parseAlarm(line.toStdString());
            if (parsed.rule) {
                std::vector<AlarmRule> withIt = rules;
                withIt.push_back(*parsed.rule);
                if (const auto wrong = checkAlarms(withIt, hasPowerFactor_)) {
                    problem = QString::fromStdString(*wrong) +
                              (wrong->ends_with("power factor") ? tr(": set PF") : QString());
                } else {
                    rules.push_back(std::move(*parsed.rule));
                }
            } else {
                problem = QString::fromStdString(parsed.error);
            }
        }
        item->setToolTip(problem);
        item->setForeground(problem.isEmpty() ? palette().text().color()
                                              : QColor(0xc6, 0x28, 0x28));
    }
    if (list->currentRow() >= 0) {
        const QString p = problem(list->currentRow());
        check->setText(p.isEmpty() ? tr("OK") : p);
    }
}

} // namespace talviren
