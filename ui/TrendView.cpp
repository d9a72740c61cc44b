#include "ui/TrendView.h"

#include "measure/ValueText.h"
#include "trend/HistoryReadings.h"
#include "ui/TrendCurve.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QProgressDialog>
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

// Decimals of a mean: one more than the finest step the display shows in that unit.
int meanDecimals(QuantityKind kind) {
    return kind == QuantityKind::AcCurrent || kind == QuantityKind::Resistance ? 4 : 2;
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
    showRecording(&live_);
    live_.addListener(this);
}

TrendView::~TrendView() {
    live_.removeListener(this);
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
    for (QToolButton* button : {resetButton, logButton, openButton}) {
        bar->addWidget(button);
    }
    layout->addLayout(bar);

    auto* status = new QHBoxLayout;
    sourceLabel = new QLabel(this);
    logLabel = new QLabel(this);
    logLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    status->addWidget(sourceLabel, 1);
    status->addWidget(logLabel, 1);
    layout->addLayout(status);

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
    refreshStatistics();
}

void TrendView::refreshStatisticsSoon() {
    if (!statisticsRefresh_.isActive()) {
        statisticsRefresh_.start();
    }
}

void TrendView::refreshStatistics() {
    const ReadingStatistics& stats = shown_->statistics();
    const std::vector<QuantityKind> kinds = stats.seenKinds();
    statisticsTable->setRowCount(static_cast<int>(kinds.size()));
    int row = 0;
    for (QuantityKind kind : kinds) {
        const ReadingStatistics::Kind& k = stats.of(kind);
        const QuantityKindInfo& info = quantityKindInfo(kind);
        QString mean;
        if (k.count > 0) {
            mean = QString::number(k.mean() / info.basePerShown, 'f', meanDecimals(kind));
            mean.replace(QLatin1Char('.'), QString::fromStdString(separator_));
            mean += fromView(info.shownUnit);
        }
        const QString cells[6] = {QString::fromStdString(k.last.text),
                                  k.count ? QString::fromStdString(k.minimum.text) : QString(),
                                  k.count ? QString::fromStdString(k.maximum.text) : QString(),
                                  mean,
                                  QString::number(k.count),
                                  QString::number(k.overloads)};
        statisticsTable->setVerticalHeaderItem(row, new QTableWidgetItem(fromView(info.symbol)));
        for (int c = 0; c < 6; ++c) {
            QTableWidgetItem* item = statisticsTable->item(row, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignCenter);
                statisticsTable->setItem(row, c, item);
            }
            item->setText(cells[c]);
        }
        ++row;
    }
}

void TrendView::refreshLogLabel() {
    const CsvLogWriter* log = live_.log();
    if (!log) {
        logLabel->clear();
        return;
    }
    logLabel->setText(tr("%1: %2 lines")
                          .arg(QFileInfo(QString::fromStdString(log->path())).fileName())
                          .arg(log->linesWritten()));
}

void TrendView::uncheckLog() {
    const QSignalBlocker blocker(logButton);
    logButton->setChecked(false);
}

void TrendView::setLogging(bool on) {
    if (!on) {
        live_.stopLog(); // syncs and closes
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
    if (!live_.startLog(path->toStdString(), error)) {
        uncheckLog();
        tell(tr("Log"), tr("Could not log to %1:\n%2").arg(*path, QString::fromStdString(error)));
        return;
    }
    {
        const QSignalBlocker blocker(logButton);
        logButton->setChecked(true);
    }
    refreshLogLabel();
}

void TrendView::logFailed(const std::string& error) {
    uncheckLog();
    refreshLogLabel();
    // Told from the event loop: a modal box here would run one inside the reading's path.
    const QString text = tr("Logging stopped:\n%1").arg(QString::fromStdString(error));
    QMetaObject::invokeMethod(
        this, [this, text] { tell(tr("Log"), text); }, Qt::QueuedConnection);
}

void TrendView::openLog() {
    const auto path = openDialog_.exec(saveCommand_.folder(),
                                       QString::fromStdString(dialogFilter(SaveView::Log)) +
                                           tr("All files (*)") + QStringLiteral("|*|"));
    if (!path) {
        return;
    }
    // Read into a recording of its own: a file that is no log changes nothing.
    auto recording = std::make_unique<Recording>();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const LogReadResult result = recording->load(path->toStdString());
    QApplication::restoreOverrideCursor();
    if (!result.isLog) {
        tell(tr("Open"),
             tr("Could not open %1:\n%2").arg(*path, QString::fromStdString(result.error)));
        return;
    }
    openedName_ = QFileInfo(*path).fileName();
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
