#include "ui/TrendToolBar.h"

#include "report/StudyCharts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace talviren {

TrendToolBar::TrendToolBar(QWidget* parent) : QWidget(parent) {
    auto* bar = new QHBoxLayout(this);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->setSpacing(2);
    auto* spans = new QButtonGroup(this);
    const QString spanNames[5] = {tr("1 min"), tr("10 min"), tr("1 h"), tr("24 h"), tr("All")};
    const auto makeButton = [this](const QString& text) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setObjectName(text);
        button->setAutoRaise(false);
        return button;
    };
    for (int i = 0; i < 5; ++i) {
        spanButtons[i] = makeButton(spanNames[i]);
        spanButtons[i]->setCheckable(true);
        spans->addButton(spanButtons[i], i);
        bar->addWidget(spanButtons[i]);
    }
    liveButton = makeButton(tr("Live"));
    liveButton->setCheckable(true);
    liveButton->setToolTip(tr("Follow the newest live reading"));
    bar->addWidget(liveButton);
    bar->addStretch();
    resetButton = makeButton(tr("Reset"));
    resetButton->setToolTip(tr("Clear the statistics (the history stays)"));
    logButton = makeButton(tr("Log\u2026"));
    logButton->setCheckable(true);
    logButton->setToolTip(tr("Append every live reading to a CSV file"));
    openButton = makeButton(tr("Open\u2026"));
    openButton->setToolTip(tr("Show a CSV log in the chart"));
    auto* factorName = new QLabel(tr("PF"), this);
    powerFactorEdit = new QLineEdit(this);
    powerFactorEdit->setObjectName(QStringLiteral("PF"));
    powerFactorEdit->setAccessibleName(tr("Power factor"));
    powerFactorEdit->setToolTip(
        tr("The circuit's power factor, above 0 and at most 1: real power P = S \u00D7 PF is "
           "estimated from it, since the meter cannot see the phase. Empty: apparent power S "
           "only."));
    powerFactorEdit->setFixedWidth(powerFactorEdit->fontMetrics().horizontalAdvance("0.000000") +
                                   12);
    factorName->setBuddy(powerFactorEdit);
    bar->addWidget(factorName);
    bar->addWidget(powerFactorEdit);
    alarmsButton = makeButton(tr("Alarms\u2026"));
    alarmsButton->setToolTip(tr("Alarms on any quantity, told here and on the desktop"));
    for (QToolButton* button : {resetButton, logButton, openButton, alarmsButton}) {
        bar->addWidget(button);
    }
}

MeterChecks::MeterChecks(QWidget* parent) : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    sumCheck = new QCheckBox(QStringLiteral("\u03A3"), this);
    sumCheck->setChecked(true);
    sumCheck->setToolTip(tr("The sum of S (and of P) over the meters that measure AC voltage"));
    row->addWidget(sumCheck);
    row->addStretch();
    connect(sumCheck, &QCheckBox::toggled, this, &MeterChecks::changed);
}

QColor MeterChecks::colour(std::size_t index) {
    return report::meterColour(index);
}

void MeterChecks::setMeters(const QStringList& names) {
    for (QCheckBox* check : meterChecks) {
        delete check;
    }
    meterChecks.clear();
    auto* row = static_cast<QHBoxLayout*>(layout());
    for (qsizetype i = 0; i < names.size(); ++i) {
        auto* check = new QCheckBox(names[i], this);
        check->setChecked(true);
        check->setStyleSheet(
            QStringLiteral("color: %1").arg(colour(static_cast<std::size_t>(i)).name()));
        row->insertWidget(static_cast<int>(i), check);
        connect(check, &QCheckBox::toggled, this, &MeterChecks::changed);
        meterChecks.push_back(check);
    }
}

bool MeterChecks::checked(std::size_t index) const {
    return index < meterChecks.size() && meterChecks[index]->isChecked();
}

bool MeterChecks::sumChecked() const {
    return sumCheck->isChecked();
}

} // namespace talviren
