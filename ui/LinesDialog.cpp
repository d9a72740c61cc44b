#include "ui/LinesDialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace talviren {

LinesDialog::LinesDialog(const Texts& texts, const QStringList& lines, Check checkLines,
                         QWidget* parent)
    : QDialog(parent), check_(std::move(checkLines)) {
    setWindowTitle(texts.title);
    auto* layout = new QVBoxLayout(this);
    auto* help = new QLabel(texts.help, this);
    layout->addWidget(help);
    list = new QListWidget(this);
    list->setAccessibleName(texts.listName);
    list->addItems(lines);
    layout->addWidget(list, 1);
    editor = new QLineEdit(this);
    editor->setAccessibleName(texts.lineName);
    editor->setPlaceholderText(texts.placeholder);
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
    connect(list, &QListWidget::currentRowChanged, this, &LinesDialog::select);
    connect(editor, &QLineEdit::textEdited, this, &LinesDialog::edited);
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

QStringList LinesDialog::lines() const {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) {
        const QString line = list->item(i)->text().trimmed();
        if (!line.isEmpty()) {
            out << line;
        }
    }
    return out;
}

QString LinesDialog::problem(int i) const {
    return list->item(i)->toolTip();
}

void LinesDialog::select(int row) {
    editor->setEnabled(row >= 0);
    editor->setText(row >= 0 ? list->item(row)->text() : QString());
    check->setText(row >= 0 ? (problem(row).isEmpty() ? tr("OK") : problem(row)) : QString());
}

void LinesDialog::edited(const QString& text) {
    if (QListWidgetItem* item = list->currentItem()) {
        item->setText(text);
        recheck();
    }
}

void LinesDialog::recheck() {
    QStringList all;
    for (int i = 0; i < list->count(); ++i) {
        all << list->item(i)->text().trimmed();
    }
    const QStringList problems = check_(all);
    for (int i = 0; i < list->count(); ++i) {
        QListWidgetItem* item = list->item(i);
        const QString problem = i < problems.size() ? problems[i] : QString();
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
