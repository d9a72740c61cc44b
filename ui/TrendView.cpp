#include "ui/TrendView.h"

#include "measure/ValueText.h"
#include "trend/HistoryReadings.h"
#include "trend/StatisticsRows.h"
#include "ui/AlarmsDialog.h"
#include "ui/StatisticsModel.h"
#include "ui/TrendTexts.h"
#include "ui/TrendToolBar.h"

#include <QApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

namespace talviren {

namespace {

const QColor kSumColour(0x21, 0x21, 0x21);

} // namespace

TrendView::TrendView(FleetCore& fleet, SaveDialog& saveDialog, OpenDialog& openDialog,
                     QWidget* parent)
    : QWidget(parent), fleet_(fleet), openDialog_(openDialog),
      saveCommand_(saveDialog,
                   [this](const SaveOutcome& outcome) {
                       tell(tr("Save"),
                            tr("Could not save %1:\n%2").arg(outcome.path, outcome.error));
                   }),
      separator_(QLocale().decimalPoint().toStdString()) {
    buildControls();
    // The table and the log label follow the readings in the event loop, not in the reading's
    // path: several readings in a row cost one refresh.
    refresh_.setSingleShot(true);
    refresh_.setInterval(0);
    connect(&refresh_, &QTimer::timeout, this, [this] {
        refreshStatistics();
        refreshLogLabel();
    });
    fleet_.addListener(this);
    fleet_.settings().addListener(this);
    powerFactorChanged();
    metersReplaced();
    loggingChanged();
}

TrendView::~TrendView() {
    listenToAlarms(false);
    fleet_.settings().removeListener(this);
    fleet_.removeListener(this);
}

void TrendView::setDecimalSeparator(std::string separator) {
    separator_ = std::move(separator);
    refreshStatistics();
}

void TrendView::metersReplaced() {
    rebuildMeterBar();
    listenToAlarms(true);
    applyTraces();
    refreshStatistics();
    refreshLogLabel();
}

void TrendView::rebuildMeterBar() {
    QStringList names;
    for (const Meter* meter : fleet_.meters()) {
        names << QString::fromStdString(meter->name());
    }
    meterBar->setMeters(names);
    meterBar->setVisible(fleet_.several());
}

void TrendView::listenToAlarms(bool listen) {
    for (AlarmEngine* engine : heardAlarms_) {
        engine->removeListener(this);
    }
    heardAlarms_.clear();
    if (listen) {
        for (Meter* meter : fleet_.meters()) {
            heardAlarms_.push_back(&meter->alarms());
        }
        heardAlarms_.push_back(&fleet_.totalAlarms());
        for (AlarmEngine* engine : heardAlarms_) {
            engine->addListener(this);
        }
    }
    refreshBanner();
}

const Recording& TrendView::shown() const {
    static const Recording none;
    return opened_                   ? *opened_
           : fleet_.meters().empty() ? none
                                     : fleet_.meters().front()->recording();
}

void TrendView::applyTraces() {
    std::vector<TrendChart::Trace> traces;
    const auto& meters = fleet_.meters();
    if (!severalMeters()) {
        const QString name = meters.empty() ? QString() : QString::fromStdString(meters[0]->name());
        traces.push_back(
            {name, MeterChecks::colour(0), &shown().history(), nullptr, powerFactor()});
    } else {
        for (std::size_t i = 0; i < meters.size(); ++i) {
            if (meterBar->checked(i)) {
                traces.push_back({QString::fromStdString(meters[i]->name()), MeterChecks::colour(i),
                                  &meters[i]->recording().history(), nullptr,
                                  meters[i]->powerFactor()});
            }
        }
        if (meterBar->sumChecked()) {
            traces.push_back({QStringLiteral("\u03A3"), kSumColour, nullptr, &fleet_.sum().points(),
                              std::nullopt});
        }
    }
    chart->setTraces(std::move(traces));
}

void TrendView::readingRecorded(std::size_t index, const TimedReading&) {
    if (!showingLog() && (index == 0 || meterBar->checked(index))) {
        chart->tracesGrew();
    }
    refreshSoon();
}

void TrendView::sumAdded(const SumPoint&) {
    if (severalMeters() && meterBar->sumChecked()) {
        chart->tracesGrew();
    }
}

void TrendView::powerFactorChanged() {
    const auto& factor = fleet_.settings().powerFactor();
    // The field keeps what the user wrote while it says the same.
    if (parsePowerFactor(powerFactorEdit->text().trimmed().toStdString()) != factor) {
        powerFactorEdit->setText(factor ? QString::fromStdString(factor->text()) : QString());
    }
    powerFactorProblem->hide();
    chart->setPowerFactor(factor);
    applyTraces();
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
    fleet_.settings().setPowerFactor(factor);
    return true;
}

void TrendView::editAlarms() {
    QStringList lines, names;
    for (const AlarmLine& line : fleet_.settings().alarmLines()) {
        lines << QString::fromStdString(line.line());
    }
    for (const Meter* meter : fleet_.meters()) {
        names << QString::fromStdString(meter->name());
    }
    const bool hasFactor = powerFactor().has_value();
    const auto edited = editAlarms_ ? editAlarms_(lines, hasFactor)
                                    : AlarmsDialog::edit(lines, hasFactor, names, this);
    if (edited) {
        std::vector<std::string> written;
        for (const QString& line : *edited) {
            written.push_back(line.toStdString());
        }
        fleet_.settings().setAlarmLines(alarmLinesOf(written));
    }
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
    for (const AlarmEngine* engine : heardAlarms_) {
        for (const std::string& line : engine->raisedLines()) {
            raised << QString::fromStdString(line);
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

    auto* bar = new TrendToolBar(this);
    std::copy(std::begin(bar->spanButtons), std::end(bar->spanButtons), spanButtons);
    liveButton = bar->liveButton;
    resetButton = bar->resetButton;
    logButton = bar->logButton;
    openButton = bar->openButton;
    powerFactorEdit = bar->powerFactorEdit;
    alarmsButton = bar->alarmsButton;
    layout->addWidget(bar);
    for (int i = 0; i < 5; ++i) {
        connect(spanButtons[i], &QToolButton::clicked, this,
                [this, i] { chart->setSpan(static_cast<TrendChart::Span>(i)); });
    }
    connect(alarmsButton, &QToolButton::clicked, this, &TrendView::editAlarms);
    connect(powerFactorEdit, &QLineEdit::editingFinished, this,
            [this] { setPowerFactorText(powerFactorEdit->text()); });

    // With several meters: which to draw, and their sum.
    meterBar = new MeterChecks(this);
    meterBar->hide();
    layout->addWidget(meterBar);
    connect(meterBar, &MeterChecks::changed, this, [this] {
        applyTraces();
        refreshStatistics();
    });

    auto* status = new QHBoxLayout;
    sourceLabel = new QLabel(tr("Live readings"), this);
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

    statisticsTable = new StatisticsTable(this);
    layout->addWidget(statisticsTable);
    energyLabel = new NamedLabel(tr("Energy"), this);
    layout->addWidget(energyLabel);

    spanButtons[static_cast<int>(chart->span())]->setChecked(true);
    liveButton->setChecked(true);
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

void TrendView::showOpened(std::unique_ptr<Recording> recording, const QString& name) {
    opened_ = std::move(recording);
    sourceLabel->setText(opened_ ? tr("%1: %2 readings").arg(name).arg(opened_->history().size())
                                 : tr("Live readings"));
    applyTraces(); // a log read back is one meter's
    liveButton->setChecked(!opened_);
    refreshStatistics();
}

void TrendView::showLive() {
    if (showingLog()) {
        showOpened(nullptr, {});
    }
    chart->follow();
    liveButton->setChecked(true);
}

void TrendView::resetStatistics() {
    if (opened_) {
        opened_->resetStatistics();
    } else {
        fleet_.resetStatistics();
    }
    refreshStatistics();
}

void TrendView::refreshSoon() {
    if (!refresh_.isActive()) {
        refresh_.start();
    }
}

void TrendView::refreshStatistics() {
    std::vector<StatisticsRow> rows;
    if (!severalMeters()) {
        rows = statisticsRows(shown(), powerFactor(), {}, separator_);
    } else {
        // A row per meter and quantity, then the sum's.
        const auto& meters = fleet_.meters();
        for (std::size_t i = 0; i < meters.size(); ++i) {
            if (meterBar->checked(i)) {
                for (StatisticsRow& row :
                     statisticsRows(meters[i]->recording(), meters[i]->powerFactor(),
                                    meters[i]->name() + " ", separator_)) {
                    rows.push_back(std::move(row));
                }
            }
        }
        for (StatisticsRow& row : sumStatisticsRows(fleet_.sum().tally(), separator_)) {
            rows.push_back(std::move(row));
        }
    }
    statisticsTable->setRows(std::move(rows), severalMeters());
    refreshEnergy();
}

void TrendView::refreshEnergy() {
    std::optional<TrendTexts::SumEnergy> sum;
    if (severalMeters()) {
        sum = {fleet_.sum().apparentEnergyUnits(), fleet_.sum().energyWh()};
    }
    energyLabel->setText(TrendTexts::energy(shown().power(), powerFactor(),
                                            QString::fromStdString(separator_), sum));
}

void TrendView::refreshLogLabel() {
    const DurableLog* log =
        fleet_.meters().empty() ? nullptr : fleet_.meters().front()->recording().log();
    // Behind: in red until it has caught up.
    logLabel->setStyleSheet(log && log->behind() ? QStringLiteral("color: #c62828") : QString());
    logLabel->setToolTip(log ? QString::fromStdString(log->error()) : QString());
    logLabel->setText(log ? TrendTexts::log(*log, fleet_.meters().size() - 1) : QString());
}

void TrendView::loggingChanged() {
    const QSignalBlocker blocker(logButton);
    logButton->setChecked(fleet_.settings().logPath().has_value());
    refreshLogLabel();
}

void TrendView::setLogging(bool on) {
    if (!on) {
        fleet_.stopLogs(); // syncs and closes
        loggingChanged();
        return;
    }
    if (fleet_.settings().logPath()) {
        return;
    }
    const auto path = saveCommand_.askFile(SaveView::Log);
    std::string file, error;
    if (path && !fleet_.startLogs(path->toStdString(), file, error)) {
        logRefused(file, error);
    }
    loggingChanged();
}

void TrendView::logRefused(const std::string& file, const std::string& error) {
    loggingChanged();
    tell(tr("Log"), tr("Could not log to %1:\n%2")
                        .arg(QString::fromStdString(file), QString::fromStdString(error)));
}

void TrendView::openLog() {
    // The service's rotated logs too: "COM1.csv-2026-12-09", compressed or not.
    const QString logs = tr("Logs, plain or compressed (*.csv *.csv-* *.gz)");
    const QStringList paths =
        openDialog_.exec(saveCommand_.folder(), logs + QStringLiteral("|*.csv *.csv-* *.gz|") +
                                                    tr("All files (*)") + QStringLiteral("|*|"));
    if (!paths.isEmpty()) {
        openFiles(paths);
    }
}

bool TrendView::openFiles(const QStringList& paths) {
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
        return false;
    }
    const QString name =
        paths.size() == 1 ? QFileInfo(paths.front()).fileName() : tr("%1 files").arg(paths.size());
    showOpened(std::move(recording), name);
    spanButtons[static_cast<int>(TrendChart::Span::All)]->setChecked(true);
    chart->setSpan(TrendChart::Span::All);
    chart->showAll();
    if (result.skipped > 0) {
        tell(tr("Open"), result.skipped == 1
                             ? tr("1 line of %1 could not be read and was skipped.").arg(name)
                             : tr("%1 lines of %2 could not be read and were skipped.")
                                   .arg(result.skipped)
                                   .arg(name));
    }
    return true;
}

void TrendView::showSpan(std::int64_t fromMs, std::int64_t toMs) {
    spanButtons[static_cast<int>(TrendChart::Span::All)]->setChecked(false);
    chart->showRange(static_cast<double>(fromMs) / 1000.0, static_cast<double>(toMs) / 1000.0);
}

SaveOutcome TrendView::save() {
    const HistoryReadings readings(shown().history(), shown().history().size(), separator_);
    QProgressDialog progress(tr("Saving\u2026"), QString(), 0, 1000, this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    SaveCommand::Sources sources;
    sources.chart = chart;
    sources.readings = &readings;
    sources.powerFactor = powerFactor();
    // With several meters: a file (or a sheet) per meter drawn, and the sum.
    std::vector<std::unique_ptr<HistoryReadings>> others;
    if (severalMeters()) {
        const auto& meters = fleet_.meters();
        for (std::size_t i = 0; i < meters.size(); ++i) {
            if (meterBar->checked(i)) {
                const TrendHistory& history = meters[i]->recording().history();
                others.push_back(
                    std::make_unique<HistoryReadings>(history, history.size(), separator_));
                sources.meters.push_back(
                    {meters[i]->name(), others.back().get(), meters[i]->powerFactor()});
            }
        }
        sources.total = &fleet_.sum().points();
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
