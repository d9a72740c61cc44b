#include "ui/StudyView.h"

#include "export/AtomicFile.h"
#include "report/StudyCharts.h"
#include "report/StudyReport.h"
#include "study/StudyOutputs.h"
#include "ui/PeaksModel.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

namespace talviren {

namespace {

QString q(const std::string& text) {
    return QString::fromStdString(text);
}

// How many minutes around a peak the Trend view shows, either side.
constexpr qint64 kAroundMs = 5 * 60'000;

const int kIntervals[] = {60, 300, 600, 900, 1800, 3600};

QCustomPlot* makeChart(QWidget* parent, const QString& name) {
    auto* chart = new QCustomPlot(parent);
    chart->setAccessibleName(name);
    chart->setMinimumHeight(170);
    chart->setFont(QFont(chart->font().family(), 8));
    return chart;
}

} // namespace

StudyView::StudyView(study::StudyPlan& plan, FleetCore& fleet, SaveDialog& saveDialog,
                     OpenDialog& openDialog, QWidget* parent)
    : QWidget(parent), plan_(plan), fleet_(fleet), openDialog_(openDialog),
      saveCommand_(saveDialog, [this](const SaveOutcome& outcome) {
          tell(tr("Save"), tr("Could not save %1:\n%2").arg(outcome.path, outcome.error));
      }) {
    buildControls();
    connect(&runner_, &StudyRunner::progressed, this,
            [this](double share) { progress->setValue(static_cast<int>(share * 1000)); });
    connect(&runner_, &StudyRunner::finished, this, &StudyView::showResult);
    connect(&runner_, &StudyRunner::cancelled, this, [this] {
        progress->hide();
        cancelButton->setEnabled(false);
        status->setText(tr("Cancelled."));
    });
    plan_.addListener(this);
    fleet_.settings().addListener(this);
    showPlan();
}

StudyView::~StudyView() {
    fleet_.settings().removeListener(this);
    plan_.removeListener(this);
}

void StudyView::buildControls() {
    setObjectName(QStringLiteral("Frame_study"));
    setAutoFillBackground(true);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    auto* bar = new QHBoxLayout;
    const auto button = [&](const QString& text, const QString& tip) {
        auto* b = new QToolButton(this);
        b->setText(text);
        b->setObjectName(text);
        b->setToolTip(tip);
        bar->addWidget(b);
        return b;
    };
    openButton =
        button(tr("Open\u2026"), tr("One meter's logs, plain or compressed, several at once"));
    addButton = button(tr("Add meter\u2026"), tr("Another meter's logs, under a name of its own"));
    runButton = button(tr("This run"), tr("The window's own meters, their readings so far"));
    cancelButton = button(tr("Cancel"), tr("Give up the study under way"));
    cancelButton->setEnabled(false);
    reportButton = button(tr("Report\u2026"), tr("The study as a PDF for a client"));
    progress = new QProgressBar(this);
    progress->setRange(0, 1000);
    progress->setAccessibleName(tr("Study progress"));
    progress->hide();
    bar->addWidget(progress, 1);
    bar->addStretch();
    outer->addLayout(bar);

    auto* fields = new QHBoxLayout;
    const auto field = [&](const QString& name, QWidget* widget) {
        auto* label = new QLabel(name, this);
        label->setBuddy(widget);
        widget->setAccessibleName(name);
        fields->addWidget(label);
        fields->addWidget(widget);
    };
    intervalBox = new QComboBox(this);
    for (const int s : kIntervals) {
        intervalBox->addItem(q(study::intervalName(s)), s);
    }
    field(tr("Interval"), intervalBox);
    coverageBox = new QDoubleSpinBox(this);
    coverageBox->setRange(1, 100);
    coverageBox->setDecimals(0);
    coverageBox->setSuffix(QStringLiteral(" %"));
    field(tr("Coverage"), coverageBox);
    powerFactorEdit = new QLineEdit(this);
    powerFactorEdit->setFixedWidth(52);
    field(tr("PF"), powerFactorEdit);
    ratingEdit = new QLineEdit(this);
    ratingEdit->setPlaceholderText(tr("A"));
    ratingEdit->setFixedWidth(52);
    field(tr("Rating"), ratingEdit);
    newLoadEdit = new QLineEdit(this);
    newLoadEdit->setPlaceholderText(tr("A"));
    newLoadEdit->setFixedWidth(52);
    field(tr("New load"), newLoadEdit);
    demandBox = new QComboBox(this);
    demandBox->addItem(tr("sliding"));
    demandBox->addItem(tr("block"));
    field(tr("Demand"), demandBox);
    fields->addStretch();
    outer->addLayout(fields);

    // The rest scrolls where the window is small, and grows with it.
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    sources = new NamedLabel(tr("study sources"), content);
    sources->setWordWrap(true);
    status = new NamedLabel(tr("study status"), content);
    status->setWordWrap(true);
    layout->addWidget(sources);
    layout->addWidget(status);
    auto* summary = new QGridLayout;
    meterBox = new QComboBox(content);
    meterBox->setAccessibleName(tr("Study meter"));
    summary->addWidget(meterBox, 0, 0);
    periodLabel = new NamedLabel(tr("study period"), content);
    summary->addWidget(periodLabel, 0, 1);
    daysLabel = new NamedLabel(tr("study days"), content);
    peakLabel = new NamedLabel(tr("study peak"), content);
    slidingPeakLabel = new NamedLabel(tr("study sliding peak"), content);
    loadFactorLabel = new NamedLabel(tr("study load factor"), content);
    energyLabel = new NamedLabel(tr("study energy"), content);
    imbalanceLabel = new NamedLabel(tr("study imbalance"), content);
    summary->addWidget(daysLabel, 1, 0);
    summary->addWidget(loadFactorLabel, 1, 1);
    summary->addWidget(peakLabel, 2, 0);
    summary->addWidget(energyLabel, 2, 1);
    summary->addWidget(slidingPeakLabel, 3, 0);
    summary->addWidget(imbalanceLabel, 3, 1);
    layout->addLayout(summary);
    necLabel = new NamedLabel(tr("study 220.87"), content);
    necLabel->setWordWrap(true);
    necLabel->hide();
    layout->addWidget(necLabel);
    auto* charts = new QGridLayout;
    demandChart = makeChart(content, tr("Demand over time"));
    energyChart = makeChart(content, tr("Daily energy"));
    dayChart = makeChart(content, tr("Average day"));
    durationChart = makeChart(content, tr("Duration curve"));
    int place = 0;
    for (QCustomPlot* chart : {demandChart, energyChart, dayChart, durationChart}) {
        // Each under its name, the one the screen reader gives it.
        auto* title = new QLabel(chart->accessibleName(), content);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        charts->addWidget(title, place / 2 * 2, place % 2);
        charts->addWidget(chart, place / 2 * 2 + 1, place % 2);
        charts->setRowStretch(place / 2 * 2 + 1, 1);
        ++place;
    }
    layout->addLayout(charts, 1);
    peaksTable = new QTableView(content);
    peaksTable->setAccessibleName(tr("Top peaks"));
    peaks = new PeaksModel(peaksTable);
    peaksTable->setModel(peaks);
    peaksTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    peaksTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    peaksTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    peaksTable->verticalHeader()->setDefaultSectionSize(20);
    peaksTable->setMinimumHeight(160);
    layout->addWidget(peaksTable);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    connect(openButton, &QToolButton::clicked, this, &StudyView::openFiles);
    connect(addButton, &QToolButton::clicked, this, &StudyView::addMeter);
    connect(runButton, &QToolButton::clicked, this, &StudyView::studyThisRun);
    connect(cancelButton, &QToolButton::clicked, this, &StudyView::cancel);
    connect(reportButton, &QToolButton::clicked, this, &StudyView::writeReport);
    connect(meterBox, &QComboBox::currentIndexChanged, this, [this] { showMeter(); });
    connect(peaksTable, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { choosePeak(index.row()); });
    for (QLineEdit* edit : {powerFactorEdit, ratingEdit, newLoadEdit}) {
        connect(edit, &QLineEdit::editingFinished, this, [this] {
            if (!showing_ && takeFields()) {
                restudy();
            }
        });
    }
    for (QComboBox* box : {intervalBox, demandBox}) {
        connect(box, &QComboBox::currentIndexChanged, this, [this] {
            if (!showing_) {
                takeFields();
            }
        });
    }
    connect(coverageBox, &QDoubleSpinBox::editingFinished, this, [this] {
        if (!showing_) {
            takeFields();
        }
    });
}

void StudyView::setInitialFolder(QString folder) {
    saveCommand_.setInitialFolder(std::move(folder));
}

void StudyView::tell(const QString& title, const QString& text) {
    if (notify_) {
        notify_(title, text);
    } else {
        QMessageBox::warning(this, title, text);
    }
}

void StudyView::openFiles() {
    const QString logs = tr("Logs, plain or compressed (*.csv *.csv-* *.gz)");
    const QStringList paths =
        openDialog_.exec(saveCommand_.folder(), logs + QStringLiteral("|*.csv *.csv-* *.gz|") +
                                                    tr("All files (*)") + QStringLiteral("|*|"));
    if (paths.isEmpty()) {
        return;
    }
    std::vector<std::string> files;
    for (const QString& path : paths) {
        files.push_back(path.toStdString());
    }
    plan_.openFiles(std::move(files));
}

void StudyView::addMeter() {
    const QString suggested = QStringLiteral("L%1").arg(plan_.meters().size() + 1);
    const auto name = askName_ ? askName_(suggested) : [&]() -> std::optional<QString> {
        bool ok = false;
        const QString given = QInputDialog::getText(this, tr("Add meter"), tr("The meter's name"),
                                                    QLineEdit::Normal, suggested, &ok);
        return ok ? std::optional(given.trimmed()) : std::nullopt;
    }();
    if (!name) {
        return;
    }
    if (!isMeterName(name->toStdString())) {
        status->setText(tr("A meter's name takes letters, digits, - and _, not '%1'.").arg(*name));
        return;
    }
    const QStringList paths = openDialog_.exec(
        saveCommand_.folder(), tr("Logs, plain or compressed (*.csv *.csv-* *.gz)") +
                                   QStringLiteral("|*.csv *.csv-* *.gz|") + tr("All files (*)") +
                                   QStringLiteral("|*|"));
    std::vector<std::string> files;
    for (const QString& path : paths) {
        files.push_back(path.toStdString());
    }
    if (!files.empty() && !plan_.addMeter(name->toStdString(), std::move(files))) {
        status->setText(tr("There is a meter %1 already.").arg(*name));
    }
}

void StudyView::studyThisRun() {
    plan_.studyThisRun();
}

void StudyView::powerFactorChanged() {
    const auto& factor = fleet_.settings().powerFactor();
    if (parsePowerFactor(powerFactorEdit->text().trimmed().toStdString()) != factor) {
        powerFactorEdit->setText(factor ? q(factor->text()) : QString());
    }
    restudy();
}

bool StudyView::takeFields() {
    study::StudySettings s = plan_.settings();
    s.intervalS = intervalBox->currentData().toInt();
    s.minCoverage = coverageBox->value() / 100;
    s.demand = demandBox->currentIndex() == 1 ? study::Demand::Block : study::Demand::Sliding;
    const QString rating = ratingEdit->text().trimmed();
    const QString load = newLoadEdit->text().trimmed();
    const auto amperes = study::parseAmperes(rating.toStdString());
    const auto newLoad = study::parseAmperes(load.toStdString());
    const QString factor = powerFactorEdit->text().trimmed();
    const auto pf = parsePowerFactor(factor.toStdString());
    if ((!rating.isEmpty() && (!amperes || *amperes <= 0)) || (!load.isEmpty() && !newLoad) ||
        (!factor.isEmpty() && !pf)) {
        status->setText(tr("The rating and the new load take amperes (200A), the PF a power "
                           "factor above 0 and at most 1 (0.95)."));
        return false;
    }
    s.ratingA = rating.isEmpty() ? std::nullopt : amperes;
    s.newLoadA = newLoad.value_or(0);
    // The PF is the run's, shared with the Trend view.
    fleet_.settings().setPowerFactor(factor.isEmpty() ? std::nullopt : pf);
    plan_.setSettings(s);
    return true;
}

void StudyView::showPlan() {
    const QSignalBlocker blockInterval(intervalBox), blockDemand(demandBox);
    showing_ = true;
    const study::StudySettings& s = plan_.settings();
    for (int i = 0; i < intervalBox->count(); ++i) {
        if (intervalBox->itemData(i).toInt() == s.intervalS) {
            intervalBox->setCurrentIndex(i);
        }
    }
    coverageBox->setValue(s.minCoverage * 100);
    demandBox->setCurrentIndex(s.demand == study::Demand::Block ? 1 : 0);
    ratingEdit->setText(s.ratingA ? QString::number(*s.ratingA) : QString());
    newLoadEdit->setText(s.newLoadA > 0 ? QString::number(s.newLoadA) : QString());
    const auto& factor = fleet_.settings().powerFactor();
    powerFactorEdit->setText(factor ? q(factor->text()) : QString());
    showing_ = false;
}

void StudyView::restudy() {
    showPlan();
    QStringList lines;
    std::vector<StudyRunner::RunMeter> run;
    if (plan_.thisRun()) {
        for (const Meter* meter : fleet_.meters()) {
            run.push_back({meter->name(), &meter->recording().history()});
            lines << tr("%1: this run, %2 readings")
                         .arg(q(meter->name()))
                         .arg(meter->recording().history().size());
        }
    }
    for (const study::MeterFiles& meter : plan_.meters()) {
        const QString first = QFileInfo(q(meter.files.front())).fileName();
        lines << (meter.files.size() == 1 ? tr("%1: %2").arg(q(meter.name), first)
                                          : tr("%1: %2 files, %3 \u2026")
                                                .arg(q(meter.name))
                                                .arg(meter.files.size())
                                                .arg(first));
    }
    sources->setText(lines.join(QLatin1Char('\n')));
    if (run.empty() && plan_.meters().empty()) {
        return;
    }
    study::StudySettings settings = plan_.settings();
    settings.powerFactor = fleet_.settings().powerFactor();
    runner_.start(plan_.meters(), run, settings);
    progress->setValue(0);
    progress->show();
    cancelButton->setEnabled(true);
    status->setText(tr("Studying\u2026"));
}

void StudyView::cancel() {
    runner_.cancel();
}

void StudyView::showResult() {
    progress->hide();
    cancelButton->setEnabled(false);
    if (!runner_.error().empty()) {
        // A file that is no log says so here, naming it; the window goes on.
        status->setText(tr("Could not study: %1").arg(q(runner_.error())));
        status->setStyleSheet(QStringLiteral("color: #c62828"));
        return;
    }
    status->setStyleSheet({});
    const auto& result = runner_.result();
    status->clear();
    // The sources again, each with its period.
    QStringList lines = sources->text().split(QLatin1Char('\n'));
    const auto summaries = study::meterSummaries(*result);
    for (int i = 0; i < lines.size() && i < static_cast<int>(summaries.size()); ++i) {
        lines[i] += QStringLiteral(", ") + q(summaries[static_cast<std::size_t>(i)].period);
    }
    sources->setText(lines.join(QLatin1Char('\n')));
    {
        const QSignalBlocker blocker(meterBox);
        meterBox->clear();
        for (const auto& meter : result->meters) {
            meterBox->addItem(q(meter.name));
        }
        if (result->total) {
            meterBox->addItem(tr("\u03A3 total"));
        }
    }
    peaks->setStudy(result);
    showMeter();
    drawCharts();
}

void StudyView::showMeter() {
    const auto& result = runner_.result();
    if (!result || result->meters.empty()) {
        return;
    }
    // The meters in their order, then the total.
    const auto chosen = static_cast<std::size_t>(std::max(0, meterBox->currentIndex()));
    const bool total = chosen >= result->meters.size() && result->total;
    const study::MeterSummary s =
        total ? study::totalSummary(*result)
              : study::meterSummaries(*result)[std::min(chosen, result->meters.size() - 1)];
    periodLabel->setText(q(s.period));
    daysLabel->setText(q(s.days));
    peakLabel->setText(q(s.peak));
    slidingPeakLabel->setText(q(s.slidingPeak));
    loadFactorLabel->setText(q(s.loadFactor));
    loadFactorLabel->setVisible(!total); // each meter's own: the current is not summed
    energyLabel->setText(q(s.energy));
    imbalanceLabel->setText(q(study::imbalanceLine(*result)));
    imbalanceLabel->setVisible(result->imbalance.has_value());
    necLabel->setVisible(result->nec.has_value());
    if (result->nec) {
        QString text = q(study::necLine(*result));
        for (const std::string& note : study::necNotes(*result)) {
            text += QLatin1Char('\n') + q(note);
        }
        necLabel->setText(text);
        const char* colour = !result->nec->passes     ? "#c62828"
                             : result->nec->qualifies ? "#2e7d32"
                                                      : "#ef6c00";
        necLabel->setStyleSheet(QStringLiteral("border: 2px solid %1; padding: 4px; color: %1")
                                    .arg(QLatin1String(colour)));
    }
    if (total) {
        report::drawNote(*dayChart, tr("The average day is each meter's own: choose a meter."));
    } else {
        report::drawAverageDay(*dayChart,
                               result->meters[std::min(chosen, result->meters.size() - 1)]);
    }
    dayChart->replot();
}

void StudyView::drawCharts() {
    const auto& result = runner_.result();
    report::drawDemand(*demandChart, *result);
    report::drawDailyEnergy(*energyChart, *result);
    report::drawDurationCurve(*durationChart, *result);
    for (QCustomPlot* chart : {demandChart, energyChart, durationChart}) {
        chart->replot();
    }
}

void StudyView::choosePeak(int row) {
    const auto& result = runner_.result();
    if (!result || row < 0 || row >= peaks->rowCount()) {
        return;
    }
    const PeaksModel::Peak& peak = peaks->peak(row);
    QStringList files;
    for (const std::string& file : result->meters[peak.meter].files) {
        files << q(file);
    }
    emit peakChosen(files, peak.interval->startMs - kAroundMs,
                    peak.interval->startMs + peak.interval->lengthS * 1000LL + kAroundMs);
}

SaveOutcome StudyView::writeReport() {
    const auto& result = runner_.result();
    if (!result) {
        tell(tr("Report"), tr("There is no study yet: open logs, or study this run."));
        return {};
    }
    const auto path = saveCommand_.askFile(SaveView::Report);
    if (!path) {
        return {};
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QByteArray pdf;
    std::string error;
    const bool ok = report::renderStudyReport(*result, pdf, error) &&
                    writeFileAtomically(path->toStdString(), pdf.toStdString(), error);
    QApplication::restoreOverrideCursor();
    if (!ok) {
        tell(tr("Report"), tr("Could not write %1:\n%2").arg(*path, q(error)));
    }
    return {ok ? SaveOutcome::Saved : SaveOutcome::Failed, *path, q(error)};
}

SaveOutcome StudyView::save() {
    const auto& result = runner_.result();
    if (!result) {
        tell(tr("Save"), tr("There is no study yet: open logs, or study this run."));
        return {};
    }
    SaveCommand::Sources sources;
    sources.study = result.get();
    return saveCommand_.save(SaveView::Study, sources);
}

} // namespace talviren
