#include "ui/TrendView.h"

#include "log/CsvLog.h"
#include "measure/ValueText.h"
#include "session/MeterFleet.h"
#include "trend/HistoryReadings.h"
#include "ui/AlarmsDialog.h"
#include "ui/NamedLabel.h"
#include "ui/Settings.h"
#include "ui/TrendCurve.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateTime>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace talviren {

namespace {

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

const QString kPowerFactorKey = QStringLiteral("trend/power_factor");

// A meter's colour with several: the window's own first.
QColor meterColour(std::size_t i) {
    static const QColor colours[] = {QColor(0x15, 0x65, 0xc0), QColor(0xc6, 0x28, 0x28),
                                     QColor(0x2e, 0x7d, 0x32), QColor(0x6a, 0x1b, 0x9a),
                                     QColor(0xef, 0x6c, 0x00), QColor(0x00, 0x83, 0x8f),
                                     QColor(0x5d, 0x40, 0x37), QColor(0xad, 0x14, 0x57)};
    return colours[i % std::size(colours)];
}

// Hears another meter's readings for the view.
class OtherMeterWatch : public RecordingListener {
public:
    OtherMeterWatch(Recording& recording, std::function<void()> heard)
        : recording_(recording), heard_(std::move(heard)) {
        recording_.addListener(this);
    }
    ~OtherMeterWatch() override { recording_.removeListener(this); }
    void readingRecorded(const TimedReading&) override { heard_(); }

private:
    Recording& recording_;
    std::function<void()> heard_;
};

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

TrendView::TrendView(Recording& live, SaveDialog& saveDialog, OpenDialog& openDialog,
                     QWidget* parent)
    : QWidget(parent), openDialog_(openDialog),
      saveCommand_(saveDialog,
                   [this](const SaveOutcome& outcome) {
                       tell(tr("Save"),
                            tr("Could not save %1:\n%2").arg(outcome.path, outcome.error));
                   }),
      separator_(QLocale().decimalPoint().toStdString()), live_(live) {
    buildControls();
    // The table and the log label follow the readings in the event loop, not in the reading's
    // path: several readings in a row cost one refresh.
    statisticsRefresh_.setSingleShot(true);
    statisticsRefresh_.setInterval(0);
    connect(&statisticsRefresh_, &QTimer::timeout, this, [this] {
        refreshStatistics();
        refreshLogLabel();
    });
    const QString savedFactor =
        QSettings(settingsFile(), QSettings::IniFormat).value(kPowerFactorKey).toString();
    if (const auto factor = parsePowerFactor(savedFactor.toStdString())) {
        powerFactor_ = factor;
        powerFactorEdit->setText(savedFactor);
        chart->setPowerFactor(factor);
    }
    showRecording(&live_);
    live_.addListener(this);
}

TrendView::~TrendView() {
    setFleet(nullptr);
    live_.removeListener(this);
    if (alarms_) {
        alarms_->removeListener(this);
    }
    setOtherAlarms({});
}

void TrendView::setOtherAlarms(std::vector<AlarmEngine*> engines) {
    for (AlarmEngine* engine : otherAlarms_) {
        engine->removeListener(this);
    }
    otherAlarms_ = std::move(engines);
    for (AlarmEngine* engine : otherAlarms_) {
        engine->addListener(this);
    }
    refreshBanner();
}

void TrendView::setMeterNames(QStringList names) {
    meterNames_ = std::move(names);
}

void TrendView::setFleet(MeterFleet* fleet) {
    if (fleet_) {
        fleet_->sum().removeListener(this);
    }
    otherWatches_.clear();
    fleet_ = fleet;
    for (QCheckBox* check : meterChecks) {
        delete check;
    }
    meterChecks.clear();
    sumRows_.clear();
    sumStats_ = {};
    chart->setSumRows(&sumRows_);
    if (fleet_) {
        fleet_->sum().addListener(this);
        const auto& meters = fleet_->meters();
        auto* row = static_cast<QHBoxLayout*>(meterBar->layout());
        for (std::size_t i = 0; i < meters.size(); ++i) {
            auto* check = new QCheckBox(QString::fromStdString(meters[i].name()), meterBar);
            check->setChecked(true);
            check->setStyleSheet(QStringLiteral("color: %1").arg(meterColour(i).name()));
            row->insertWidget(static_cast<int>(i), check);
            connect(check, &QCheckBox::toggled, this, [this] {
                applyMeters();
                refreshStatistics();
            });
            meterChecks.push_back(check);
            if (i > 0) {
                otherWatches_.push_back(std::make_unique<OtherMeterWatch>(
                    meters[i].recording(), [this] { otherReading(); }));
            }
        }
    }
    meterBar->setVisible(fleet_ && fleet_->meters().size() > 1);
    applyMeters();
    refreshStatistics();
}

bool TrendView::severalMeters() const {
    return fleet_ && fleet_->meters().size() > 1 && !showingLog();
}

void TrendView::applyMeters() {
    if (!severalMeters()) {
        chart->setOtherMeters({}, {}, {});
        chart->setSumShown(false);
        return;
    }
    const auto& meters = fleet_->meters();
    std::vector<TrendChart::OtherMeter> others;
    for (std::size_t i = 1; i < meters.size() && i < meterChecks.size(); ++i) {
        if (meterChecks[i]->isChecked()) {
            others.push_back({QString::fromStdString(meters[i].name()),
                              &meters[i].recording().history(), meterColour(i),
                              fleet_->powerFactorOf(meters[i])});
        }
    }
    chart->setOtherMeters(QString::fromStdString(meters.front().name()), meterColour(0),
                          std::move(others), meterChecks.front()->isChecked());
    chart->setSumShown(sumCheck->isChecked());
}

void TrendView::otherReading() {
    if (severalMeters()) {
        chart->othersGrew();
    }
    refreshStatisticsSoon();
}

void TrendView::sumAdded(const PhaseSumPoint& point) {
    if (!fleet_ || fleet_->meters().size() < 2) {
        return; // one meter's sum is the meter itself
    }
    const SumRow row{point.wallMs, point.units, point.watts, point.breakBefore};
    sumRows_.push_back(row);
    SumStats& s = sumStats_;
    if (s.count == 0 || point.units < s.minimum.units) {
        s.minimum = row;
    }
    if (s.count == 0 || point.units > s.maximum.units) {
        s.maximum = row;
    }
    ++s.count;
    s.sumUnits += point.units;
    s.last = row;
    if (point.watts) {
        s.minWatts = s.watts == 0 ? *point.watts : std::min(s.minWatts, *point.watts);
        s.maxWatts = s.watts == 0 ? *point.watts : std::max(s.maxWatts, *point.watts);
        ++s.watts;
        s.sumWatts += *point.watts;
    }
    if (severalMeters()) {
        chart->othersGrew();
    }
}

void TrendView::setAlarms(AlarmEngine& engine, ConfigureAlarms configure) {
    alarms_ = &engine;
    configureAlarms_ = std::move(configure);
    engine.addListener(this);
    applyAlarms();
}

void TrendView::applyAlarms() {
    if (!configureAlarms_) {
        return;
    }
    // The lines that parse and fit together; the others wait in the settings to be mended.
    std::vector<AlarmRule> rules;
    for (const StoredAlarm& stored : storedAlarms()) {
        AlarmParse parsed = parseAlarm(stored.name.toStdString(), stored.rule.toStdString());
        if (!parsed.rule) {
            continue;
        }
        rules.push_back(std::move(*parsed.rule));
        if (checkAlarms(rules, powerFactor_.has_value())) {
            rules.pop_back();
        }
    }
    configureAlarms_(std::move(rules), powerFactor_);
}

void TrendView::editAlarms() {
    QStringList lines;
    for (const StoredAlarm& stored : storedAlarms()) {
        lines << stored.line();
    }
    const EditAlarms edit =
        editAlarms_ ? editAlarms_ : [this](const QStringList& given, bool hasFactor) {
            AlarmsDialog dialog(given, hasFactor, meterNames_, this);
            return dialog.exec() == QDialog::Accepted ? std::optional(dialog.lines())
                                                      : std::nullopt;
        };
    const auto edited = edit(lines, powerFactor_.has_value());
    if (!edited) {
        return;
    }
    std::vector<StoredAlarm> kept;
    for (const QString& line : *edited) {
        // Kept as NAME=RULE; a line without a name has no key to be kept under.
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        const QString name = line.left(colon).trimmed();
        if (colon > 0 && !name.isEmpty()) {
            kept.push_back({name, line.mid(colon + 1).trimmed()});
        }
    }
    storeAlarms(kept);
    applyAlarms();
}

void TrendView::alarmChanged(const AlarmEvent& event) {
    const double key = static_cast<double>(event.wallMs) / 1000.0;
    if (event.raised) {
        chart->alarmRaised(event.rule->name, key);
    } else {
        chart->alarmCleared(event.rule->name, key);
    }
    refreshBanner();
}

void TrendView::alarmsConfigured() {
    // Raised alarms of the rules replaced end here.
    chart->alarmCleared({}, static_cast<double>(systemClock().wallMs()) / 1000.0);
    refreshBanner();
}

void TrendView::refreshBanner() {
    QStringList raised;
    std::vector<AlarmEngine*> engines = otherAlarms_;
    if (alarms_) {
        engines.insert(engines.begin(), alarms_);
    }
    for (const AlarmEngine* engine : engines) {
        for (std::size_t i = 0; i < engine->rules().size(); ++i) {
            if (const auto& event = engine->raisedBy(i)) {
                raised << QStringLiteral("\u26A0 %1: %2")
                              .arg(QString::fromStdString(event->rule->name),
                                   QString::fromStdString(event->detail()));
            }
        }
    }
    alarmBanner->setText(raised.join(QLatin1Char('\n')));
    alarmBanner->setVisible(!raised.isEmpty());
}

void TrendView::buildControls() {
    setObjectName(QStringLiteral("Frame_trend"));
    setAutoFillBackground(true); // it covers the record table, as the realtime panel does
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);

    auto* bar = new QHBoxLayout;
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
        connect(spanButtons[i], &QToolButton::clicked, this,
                [this, i] { chart->setSpan(static_cast<TrendChart::Span>(i)); });
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
    connect(alarmsButton, &QToolButton::clicked, this, &TrendView::editAlarms);
    layout->addLayout(bar);
    connect(powerFactorEdit, &QLineEdit::editingFinished, this,
            [this] { setPowerFactorText(powerFactorEdit->text()); });

    // With several meters: which to draw, and their sum.
    meterBar = new QWidget(this);
    auto* meterRow = new QHBoxLayout(meterBar);
    meterRow->setContentsMargins(0, 0, 0, 0);
    sumCheck = new QCheckBox(QStringLiteral("\u03A3"), meterBar);
    sumCheck->setChecked(true);
    sumCheck->setToolTip(tr("The sum of S (and of P) over the meters that measure AC voltage"));
    meterRow->addWidget(sumCheck);
    meterRow->addStretch();
    meterBar->hide();
    layout->addWidget(meterBar);
    connect(sumCheck, &QCheckBox::toggled, this, [this] { applyMeters(); });

    auto* status = new QHBoxLayout;
    sourceLabel = new QLabel(this);
    logLabel = new QLabel(this);
    logLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    status->addWidget(sourceLabel, 1);
    status->addWidget(logLabel, 1);
    layout->addLayout(status);
    powerFactorProblem = new QLabel(this);
    powerFactorProblem->setStyleSheet(QStringLiteral("color: #c62828"));
    powerFactorProblem->setWordWrap(true);
    powerFactorProblem->hide();
    layout->addWidget(powerFactorProblem);
    alarmBanner = new NamedLabel(tr("Raised alarms"), this);
    alarmBanner->setStyleSheet(
        QStringLiteral("background: #c62828; color: white; font-weight: bold; padding: 3px"));
    alarmBanner->hide();
    layout->addWidget(alarmBanner);

    chart = new TrendChart(this);
    chart->setAccessibleName(tr("Trend chart"));
    layout->addWidget(chart, 1);

    statisticsTable = new QTableWidget(0, 6, this);
    statisticsTable->setAccessibleName(tr("Statistics"));
    statisticsTable->setHorizontalHeaderLabels(
        {tr("Last"), tr("Min"), tr("Max"), tr("Mean"), tr("Count"), tr("OL")});
    statisticsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    statisticsTable->setSelectionMode(QAbstractItemView::NoSelection);
    statisticsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    statisticsTable->verticalHeader()->setDefaultSectionSize(20);
    statisticsTable->setFixedHeight(20 * 4 +
                                    statisticsTable->horizontalHeader()->sizeHint().height() + 4);
    layout->addWidget(statisticsTable);
    energyLabel = new NamedLabel(tr("Energy"), this);
    layout->addWidget(energyLabel);

    spanButtons[static_cast<int>(chart->span())]->setChecked(true);
    connect(liveButton, &QToolButton::clicked, this, [this] { showLive(); });
    connect(chart, &TrendChart::followingChanged, liveButton,
            [this](bool following) { liveButton->setChecked(following && !showingLog()); });
    connect(resetButton, &QToolButton::clicked, this, &TrendView::resetStatistics);
    connect(logButton, &QToolButton::toggled, this, &TrendView::setLogging);
    connect(openButton, &QToolButton::clicked, this, &TrendView::openLog);
}

void TrendView::setInitialFolder(QString folder) {
    saveCommand_.setInitialFolder(std::move(folder));
}

void TrendView::tell(const QString& title, const QString& text) {
    if (notify_) {
        notify_(title, text);
    } else {
        QMessageBox::warning(this, title, text);
    }
}

void TrendView::readingRecorded(const TimedReading&) {
    if (shown_ == &live_) {
        chart->historyGrew();
    }
    refreshStatisticsSoon();
}

void TrendView::showRecording(Recording* recording) {
    shown_ = recording;
    chart->setHistory(&recording->history());
    liveButton->setChecked(recording == &live_);
    sourceLabel->setText(
        recording == &live_
            ? tr("Live readings")
            : tr("%1: %2 readings").arg(openedName_).arg(recording->history().size()));
    applyMeters(); // a log read back is one meter's
    refreshStatistics();
}

void TrendView::showLive() {
    if (shown_ != &live_) {
        showRecording(&live_);
    }
    chart->follow();
    liveButton->setChecked(true);
}

void TrendView::resetStatistics() {
    shown_->resetStatistics();
    if (severalMeters()) {
        for (const FleetMeter& meter : fleet_->meters()) {
            meter.recording().resetStatistics();
        }
        sumStats_ = {};
    }
    refreshStatistics();
}

bool TrendView::setPowerFactorText(const QString& given) {
    const QString text = given.trimmed();
    std::optional<PowerFactor> factor;
    if (!text.isEmpty()) {
        factor = parsePowerFactor(text.toStdString());
        if (!factor) {
            // The words talviren-cli uses for --power-factor.
            powerFactorProblem->setText(
                tr("PF %1").arg(QString::fromStdString(powerFactorRefusal(text.toStdString()))));
            powerFactorProblem->show();
            return false;
        }
    }
    powerFactorProblem->hide();
    if (powerFactorEdit->text() != text) {
        powerFactorEdit->setText(text);
    }
    if (factor != powerFactor_) {
        powerFactor_ = factor;
        QSettings(settingsFile(), QSettings::IniFormat).setValue(kPowerFactorKey, text);
        chart->setPowerFactor(factor);
        if (fleet_) {
            fleet_->setPowerFactor(factor);
        }
        applyMeters();
        refreshStatistics();
        applyAlarms(); // power alarms need the factor
    }
    return true;
}

void TrendView::refreshStatisticsSoon() {
    if (!statisticsRefresh_.isActive()) {
        statisticsRefresh_.start();
    }
}

void TrendView::appendRows(std::vector<std::pair<QString, std::array<QString, 6>>>& rows,
                           const Recording& recording, const QString& prefix,
                           std::optional<PowerFactor> factor) const {
    const ReadingStatistics& stats = recording.statistics();
    for (QuantityKind kind : stats.seenKinds()) {
        const ReadingStatistics::Kind& k = stats.of(kind);
        const QuantityKindInfo& info = quantityKindInfo(kind);
        const QString mean =
            k.count > 0 ? QString::fromStdString(meanText(kind, k.mean(), separator_)) : QString();
        rows.push_back({prefix + fromView(info.symbol),
                        {QString::fromStdString(k.last.text),
                         k.count ? QString::fromStdString(k.minimum.text) : QString(),
                         k.count ? QString::fromStdString(k.maximum.text) : QString(), mean,
                         QString::number(k.count), QString::number(k.overloads)}});
    }
    // S, and P at the power factor: P's figures are S's times PF, exactly.
    const PowerTally& power = recording.power();
    const int powerRows = power.seen() ? (factor ? 2 : 1) : 0;
    const QString separator = QString::fromStdString(separator_);
    for (int p = 0; p < powerRows; ++p) {
        const bool real = p == 1;
        const QString unit = real ? QStringLiteral("W") : QStringLiteral("VA");
        const auto number = [&](std::int64_t units) {
            // P to the milliwatt, to fit its column; S as it is, exact.
            const std::string text =
                real ? decimalText(
                           (realPowerTenBillionths(units, *factor) + 5'000'000) / 10'000'000, 3)
                     : apparentPowerNumber(units);
            return QString::fromStdString(text).replace(QLatin1Char('.'), separator) + unit;
        };
        const auto& last = power.last();
        const bool counted = power.count() > 0;
        const double mean = power.meanVA() * (real ? factor->value() : 1.0);
        rows.push_back(
            {prefix + (real ? QString::fromStdString(factor->label()) : QStringLiteral("S")),
             {!last            ? QString()
              : last->overload ? QStringLiteral("OL") + unit
                               : number(last->units),
              counted ? number(power.minimum().units) : QString(),
              counted ? number(power.maximum().units) : QString(),
              counted ? QString::number(mean, 'f', 2).replace(QLatin1Char('.'), separator) + unit
                      : QString(),
              QString::number(power.count()), QString::number(power.overloads())}});
    }
}

void TrendView::refreshStatistics() {
    std::vector<std::pair<QString, std::array<QString, 6>>> rows;
    if (!severalMeters()) {
        appendRows(rows, *shown_, QString(), powerFactor_);
    } else {
        // A row per meter and quantity, then the sum's.
        const auto& meters = fleet_->meters();
        for (std::size_t i = 0; i < meters.size() && i < meterChecks.size(); ++i) {
            if (meterChecks[i]->isChecked()) {
                appendRows(rows, meters[i].recording(),
                           QString::fromStdString(meters[i].name()) + QLatin1Char(' '),
                           fleet_->powerFactorOf(meters[i]));
            }
        }
        const SumStats& sum = sumStats_;
        const QString separator = QString::fromStdString(separator_);
        const auto va = [&](std::int64_t units) {
            return QString::fromStdString(apparentPowerNumber(units))
                       .replace(QLatin1Char('.'), separator) +
                   QStringLiteral("VA");
        };
        const auto w = [&](double watts) {
            return QString::number(watts, 'f', 3).replace(QLatin1Char('.'), separator) +
                   QStringLiteral("W");
        };
        if (sum.count > 0) {
            rows.push_back({QStringLiteral("\u03A3 S"),
                            {va(sum.last.units), va(sum.minimum.units), va(sum.maximum.units),
                             QString::number(static_cast<double>(sum.sumUnits) / 10'000.0 /
                                                 static_cast<double>(sum.count),
                                             'f', 2)
                                     .replace(QLatin1Char('.'), separator) +
                                 QStringLiteral("VA"),
                             QString::number(sum.count), QString()}});
        }
        if (sum.watts > 0) {
            rows.push_back({QStringLiteral("\u03A3 P"),
                            {sum.last.watts ? w(*sum.last.watts) : QString(), w(sum.minWatts),
                             w(sum.maxWatts), w(sum.sumWatts / static_cast<double>(sum.watts)),
                             QString::number(sum.watts), QString()}});
        }
    }
    const int count = static_cast<int>(rows.size());
    statisticsTable->setRowCount(count);
    // As tall as its rows (two at least), so that none hides behind a scroll bar; with several
    // meters six rows show, the chart keeping its room, and the rest scroll.
    const QHeaderView* rowHeader = statisticsTable->verticalHeader();
    const int rowHeight = count > 0 ? rowHeader->sectionSize(0) : rowHeader->defaultSectionSize();
    const int shownRows = severalMeters() ? std::min(count, 6) : count;
    statisticsTable->setFixedHeight(std::max(shownRows * rowHeight, 2 * rowHeight) +
                                    statisticsTable->horizontalHeader()->sizeHint().height() +
                                    2 * statisticsTable->frameWidth());
    for (int row = 0; row < count; ++row) {
        const auto& [name, array] = rows[static_cast<std::size_t>(row)];
        const QString cells[6] = {array[0], array[1], array[2], array[3], array[4], array[5]};
        setStatisticsRow(row, name, cells);
    }
    refreshEnergy();
}

void TrendView::setStatisticsRow(int row, const QString& name, const QString (&cells)[6]) {
    statisticsTable->setVerticalHeaderItem(row, new QTableWidgetItem(name));
    for (int c = 0; c < 6; ++c) {
        QTableWidgetItem* item = statisticsTable->item(row, c);
        if (!item) {
            item = new QTableWidgetItem;
            item->setTextAlignment(Qt::AlignCenter);
            statisticsTable->setItem(row, c, item);
        }
        item->setText(cells[c]);
    }
}

void TrendView::refreshEnergy() {
    const PowerTally& power = shown_->power();
    if (!power.seen() || !power.sinceWallMs()) {
        energyLabel->clear();
        return;
    }
    const QString separator = QString::fromStdString(separator_);
    QString text = QStringLiteral("E ") + energyText(power.apparentEnergyVAh(), "VAh", separator);
    if (powerFactor_) {
        text += QStringLiteral(", ") + energyText(power.energyWh(*powerFactor_), "Wh", separator) +
                QStringLiteral(" at PF ") + QString::fromStdString(powerFactor_->text());
    }
    const QDateTime since = QDateTime::fromMSecsSinceEpoch(*power.sinceWallMs());
    const bool today = since.date() == QDate::currentDate();
    text += tr(" since %1")
                .arg(since.toString(today ? QStringLiteral("HH:mm:ss")
                                          : QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (severalMeters()) {
        const PhaseSum& sum = fleet_->sum();
        text +=
            QStringLiteral("   \u03A3 E ") +
            energyText(static_cast<double>(sum.apparentEnergyUnits()) / 10'000.0, "VAh", separator);
        if (const auto wh = sum.energyWh()) {
            text += QStringLiteral(", ") + energyText(*wh, "Wh", separator);
        }
    }
    energyLabel->setText(text);
}

void TrendView::refreshLogLabel() {
    const DurableLog* log = live_.log();
    if (!log) {
        logLabel->clear();
        return;
    }
    QString text = tr("%1: %2 lines")
                       .arg(QFileInfo(QString::fromStdString(log->path())).fileName())
                       .arg(log->linesWritten());
    if (fleet_ && fleet_->meters().size() > 1) {
        text += tr(" (and %1 more logs)").arg(fleet_->meters().size() - 1);
    }
    // Behind: what waits, what went, and why, in red until it has caught up.
    if (log->behind()) {
        text += tr(", %1 waiting").arg(log->waiting());
        if (log->dropped() > 0) {
            text += tr(", %1 dropped").arg(log->dropped());
        }
        text += QStringLiteral(" (%1)").arg(QString::fromStdString(log->error()));
    }
    logLabel->setStyleSheet(log->behind() ? QStringLiteral("color: #c62828") : QString());
    logLabel->setToolTip(QString::fromStdString(log->error()));
    logLabel->setText(text);
}

void TrendView::uncheckLog() {
    const QSignalBlocker blocker(logButton);
    logButton->setChecked(false);
}

void TrendView::setLogging(bool on) {
    if (!on) {
        live_.stopLog(); // syncs and closes
        if (fleet_) {
            for (const FleetMeter& meter : fleet_->meters()) {
                meter.recording().stopLog();
            }
        }
        uncheckLog();
        refreshLogLabel();
        return;
    }
    if (live_.log()) {
        return;
    }
    const auto path = saveCommand_.askFile(SaveView::Log);
    if (!path) {
        uncheckLog();
        return;
    }
    std::string error;
    // With several meters each has its log: run.csv gives run-L1.csv, run-L2.csv, ...
    const bool several = fleet_ && fleet_->meters().size() > 1;
    std::vector<std::pair<Recording*, std::string>> logs;
    if (several) {
        for (const FleetMeter& meter : fleet_->meters()) {
            logs.emplace_back(&meter.recording(),
                              csvlog::meterFilePath(path->toStdString(), meter.name()));
        }
    } else {
        logs.emplace_back(&live_, path->toStdString());
    }
    for (const auto& [recording, file] : logs) {
        if (!recording->startLog(file, error)) {
            for (const auto& [started, unused] : logs) {
                started->stopLog();
            }
            uncheckLog();
            tell(tr("Log"), tr("Could not log to %1:\n%2")
                                .arg(QString::fromStdString(file), QString::fromStdString(error)));
            return;
        }
    }
    {
        const QSignalBlocker blocker(logButton);
        logButton->setChecked(true);
    }
    refreshLogLabel();
}

void TrendView::logBehind(bool) {
    refreshLogLabel();
}

void TrendView::openLog() {
    const QStringList paths = openDialog_.exec(saveCommand_.folder(),
                                               QString::fromStdString(dialogFilter(SaveView::Log)) +
                                                   tr("All files (*)") + QStringLiteral("|*|"));
    if (paths.isEmpty()) {
        return;
    }
    // Read into a recording of its own: a file that is no log changes nothing. Several files
    // (a month of daily logs) are one log, in time order.
    std::vector<std::string> files;
    for (const QString& path : paths) {
        files.push_back(path.toStdString());
    }
    auto recording = std::make_unique<Recording>();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const LogReadResult result = recording->load(files);
    QApplication::restoreOverrideCursor();
    if (!result.isLog) {
        tell(tr("Open"),
             tr("Could not open %1:\n%2")
                 .arg(paths.join(QStringLiteral(", ")), QString::fromStdString(result.error)));
        return;
    }
    openedName_ =
        paths.size() == 1 ? QFileInfo(paths.front()).fileName() : tr("%1 files").arg(paths.size());
    opened_ = std::move(recording);
    showRecording(opened_.get());
    spanButtons[static_cast<int>(TrendChart::Span::All)]->setChecked(true);
    chart->setSpan(TrendChart::Span::All);
    chart->showAll();
    if (result.skipped > 0) {
        tell(tr("Open"),
             result.skipped == 1
                 ? tr("1 line of %1 could not be read and was skipped.").arg(openedName_)
                 : tr("%1 lines of %2 could not be read and were skipped.")
                       .arg(result.skipped)
                       .arg(openedName_));
    }
}

SaveOutcome TrendView::save() {
    const HistoryReadings readings(shown_->history(), shown_->history().size(), separator_);
    QProgressDialog progress(tr("Saving\u2026"), QString(), 0, 1000, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    SaveCommand::Sources sources;
    sources.chart = chart;
    sources.readings = &readings;
    sources.powerFactor = powerFactor_;
    // With several meters: a file (or a sheet) per meter drawn, and the sum.
    std::vector<std::unique_ptr<HistoryReadings>> others;
    if (severalMeters()) {
        const auto& meters = fleet_->meters();
        for (std::size_t i = 0; i < meters.size() && i < meterChecks.size(); ++i) {
            if (!meterChecks[i]->isChecked()) {
                continue;
            }
            const TrendHistory& history = meters[i].recording().history();
            others.push_back(
                std::make_unique<HistoryReadings>(history, history.size(), separator_));
            sources.meters.push_back(
                {meters[i].name(), others.back().get(), fleet_->powerFactorOf(meters[i])});
        }
        sources.total = &sumRows_;
    }
    sources.progress = [&progress](double done) {
        progress.setValue(static_cast<int>(done * 1000));
    };
    return saveCommand_.save(SaveView::Trend, sources);
}

void TrendView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    chart->replot(QCustomPlot::rpQueuedReplot);
}

} // namespace talviren
