#include "ui/MainWindow.h"

#include "log/CsvLogReader.h"
#include "ui/Fonts.h"
#include "ui/MetersDialog.h"
#include "ui/MetersView.h"
#include "ui/RecordTableModel.h"
#include "ui/Settings.h"
#include "ui/StudyView.h"
#include "ui/TrendView.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QStyle>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>

namespace talviren {

namespace {

constexpr int kTrendTab = 2;
constexpr int kMetersTab = 3;
constexpr int kStudyTab = 4;

QRect place(int left, int top, int width, int height) {
    return {twips(left), twips(top), twips(width), twips(height)};
}

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

// The window icon, drawn so that it needs no image plugin: a clamp meter.
QIcon drawnWindowIcon() {
    QIcon icon;
    for (int size : {16, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 64.0, size / 64.0);
        painter.setPen(QPen(QColor(0xd3, 0x33, 0x33), 6, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(QRectF(14, 4, 36, 36), 0, 180 * 16);
        painter.setPen(QPen(QColor(0x33, 0x33, 0x33), 2));
        painter.setBrush(QColor(0xf2, 0xb7, 0x05));
        painter.drawRoundedRect(QRectF(14, 22, 36, 38), 5, 5);
        painter.setBrush(QColor(0xcf, 0xe8, 0xcf));
        painter.drawRoundedRect(QRectF(20, 28, 24, 12), 2, 2);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

MainWindow::MainWindow(std::unique_ptr<SaveDialog> dialog, std::unique_ptr<SaveDialog> trendDialog,
                       std::unique_ptr<OpenDialog> openDialog, QWidget* parent)
    : QWidget(parent), dialog_(dialog ? std::move(dialog) : std::make_unique<QtSaveDialog>(this)),
      trendDialog_(trendDialog ? std::move(trendDialog) : std::make_unique<QtSaveDialog>(this)),
      openDialog_(openDialog ? std::move(openDialog) : std::make_unique<QtOpenDialog>(this)) {
    loadRunSettings(runSettings_);
    keeper_ = std::make_unique<RunSettingsKeeper>(runSettings_);
    loadStudySettings(studyPlan_);
    studyKeeper_ = std::make_unique<StudyPlanKeeper>(studyPlan_);
    fleet_ = std::make_unique<MeterFleet>(session_, runSettings_);
    fleet_->core().addListener(this);
    session_.addConsumer(&presenter_);
    save_ = std::make_unique<SaveCommand>(*dialog_, [this](const SaveOutcome& outcome) {
        QMessageBox::warning(this, tr("Save"),
                             tr("Could not save %1:\n%2").arg(outcome.path, outcome.error));
    });
    // Every timer runs from the session's creation; the start-up steps then set them.
    buildControls();
    Form_Load();
}

MainWindow::~MainWindow() {
    session_.removeConsumer(&presenter_);
    session_.shutDown();
    // The model listens to the table and the Trend view to the recording, members of the
    // session that are gone before child widgets are deleted.
    DataGrid->setModel(nullptr);
    delete model_;
    delete trendView;
    trendView = nullptr;
    delete metersView;
    metersView = nullptr;
    delete studyView;
    studyView = nullptr;
    fleet_->core().removeListener(this);
    for (Meter* meter : fleet_->meters()) {
        meter->alarms().removeListener(notifier_.get());
    }
    fleet_->totalAlarms().removeListener(notifier_.get());
    fleet_.reset();
}

QToolButton* MainWindow::makeButton(const QString& caption, const char* themeIcon, int standardIcon,
                                    int top) {
    auto* button = new QToolButton(this);
    button->setText(caption);
    button->setObjectName(caption);
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIcon(
        QIcon::fromTheme(QString::fromLatin1(themeIcon),
                         style()->standardIcon(static_cast<QStyle::StandardPixmap>(standardIcon))));
    button->setIconSize(QSize(32, 32));
    button->setGeometry(place(9960, top, 1095, 855));
    return button;
}

QSize MainWindow::defaultSize() {
    return {twips(11745), twips(10050)};
}

void MainWindow::buildControls() {
    setWindowTitle(QString::fromLatin1(kTitle));
    setWindowIcon(drawnWindowIcon());
    // The specified size at the start, and never smaller; larger, or maximised, at will.
    setMinimumSize(defaultSize());
    resize(defaultSize());
    setFont(windowFont(9));

    // Created back to front: where controls overlap, the later one lies on top. The status
    // labels reach to the window's edge: 1455 twips hold "unconnected" or "COM16Unviable" in
    // none of the fonts the window may fall back to.
    constexpr int kStatusWidth = 11745 - 9720;
    Lab_consta = new QLabel(QString::fromLatin1(LinkPresenter::kLinkStatusInitial), this);
    Lab_consta->setGeometry(place(9720, 8040, kStatusWidth, 375));
    Lab_consta->setFont(windowFont(12));
    Lab_comsta = new QLabel(QString::fromLatin1(LinkPresenter::kPortStatusInitial), this);
    Lab_comsta->setGeometry(place(9720, 7440, kStatusWidth, 375));
    Lab_comsta->setFont(windowFont(12));

    downloadProgressBar = new QProgressBar(this);
    downloadProgressBar->setGeometry(place(9720, 8640, 1455, 375));
    downloadProgressBar->setFormat(QStringLiteral("%v/%m"));
    downloadProgressBar->setAccessibleName(tr("Download progress"));
    downloadProgressBar->hide();

    // The tab strip with its pane: the views lie on top of it.
    auto* pane = new QFrame(this);
    pane_ = pane;
    pane->setFrameShape(QFrame::StyledPanel);
    pane->setGeometry(place(840, 600, 8535, 8246).adjusted(0, 24, 0, 0));
    TabStrip1 = new QTabBar(this);
    TabStrip1->setFont(windowFont(12, true));
    TabStrip1->addTab(tr("Realtime"));
    TabStrip1->addTab(tr("Record"));
    TabStrip1->addTab(tr("Trend"));
    TabStrip1->addTab(tr("Meters"));
    TabStrip1->addTab(tr("Study"));
    TabStrip1->setGeometry(place(840, 600, 8535, 8246).adjusted(0, 0, 0, -(twips(8246) - 26)));
    TabStrip1->setExpanding(false);
    TabStrip1->setDrawBase(false);

    Button_close = makeButton(tr("Close"), "window-close", QStyle::SP_DialogCloseButton, 6120);
    Button_help = makeButton(tr("Help"), "help-about", QStyle::SP_MessageBoxInformation, 4800);
    Button_help->setIconSize(QSize(24, 24));
    Button_clear = makeButton(tr("Clear"), "edit-clear", QStyle::SP_DialogResetButton, 3480);
    Button_clear->setEnabled(false);
    Button_save = makeButton(tr("Save"), "document-save", QStyle::SP_DialogSaveButton, 2160);
    Button_read = makeButton(tr("Read"), "go-down", QStyle::SP_ArrowDown, 840);

    DataGrid = new QTableView(this);
    DataGrid->setObjectName(QStringLiteral("DataGrid"));
    DataGrid->setAccessibleName(tr("Record table"));
    model_ = new RecordTableModel(session_.table(), this);
    DataGrid->setModel(model_);
    DataGrid->setFont(windowFont(10.5));
    DataGrid->horizontalHeader()->hide();
    DataGrid->verticalHeader()->hide();
    DataGrid->horizontalHeader()->setDefaultSectionSize(twips(RecordTableLayout::kColumnWidth));
    DataGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Fixed row heights let the view skip measuring rows: 51,510 rows scroll smoothly.
    DataGrid->verticalHeader()->setMinimumSectionSize(1);
    DataGrid->verticalHeader()->setDefaultSectionSize(twips(RecordTableLayout::kRowHeight));
    DataGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DataGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DataGrid->setGeometry(place(RecordTableLayout::kLeft, RecordTableLayout::kTop,
                                RecordTableLayout::kWidth, RecordTableLayout::kHeight));

    Frame_realtime = new QFrame(this);
    Frame_realtime->setObjectName(QStringLiteral("Frame_realtime"));
    Frame_realtime->setAutoFillBackground(true); // it covers the record table
    Frame_realtime->setGeometry(place(960, 1200, 8295, 7422));
    const QFont big = windowFont(36, true);
    const struct {
        int left;
        int top;
        int width;
    } names[2] = {{240, 1680, 2505}, {240, 4920, 2505}},
      values[2] = {{3120, 1680, 5055}, {3000, 4920, 5055}};
    for (int k = 0; k < 2; ++k) {
        Lab_testpro[k] = new QLabel(QString::fromLatin1(RealtimeDisplay::kInitialNames[k].data()),
                                    Frame_realtime);
        Lab_testpro[k]->setGeometry(place(names[k].left, names[k].top, names[k].width, 795));
        Lab_value[k] = new QLabel(QString::fromLatin1(RealtimeDisplay::kInitialValues[k].data()),
                                  Frame_realtime);
        Lab_value[k]->setGeometry(place(values[k].left, values[k].top, values[k].width, 795));
        for (QLabel* label : {Lab_testpro[k], Lab_value[k]}) {
            label->setFont(big);
        }
    }

    // The Trend view lies where the realtime panel lies, over the record table.
    trendView = new TrendView(fleet_->core(), *trendDialog_, *openDialog_, this);
    trendView->setGeometry(Frame_realtime->geometry());
    trendView->setFont(windowFont(9));
    trendView->hide();
    // The alarms, told on the desktop.
    notifier_ = std::make_unique<DesktopNotifier>();
    // The meters of the settings' [meters], the window's own one first; the run's settings
    // (the power factor, the alarms shared out among them and their sum) apply to them.
    fleet_->configure(MetersDialog::usable(storedMeterLines()),
                      QLocale().decimalPoint().toStdString());

    metersView = new MetersView(fleet_->core(), this);
    metersView->setGeometry(Frame_realtime->geometry());
    metersView->setFont(windowFont(9));
    metersView->hide();
    metersView->setEditMeters([this] {
        MetersDialog dialog(storedMeterLines(), this);
        if (dialog.exec() == QDialog::Accepted) {
            setMeterLines(dialog.lines());
        }
    });
    metersReplaced();

    studyView = new StudyView(studyPlan_, fleet_->core(), *trendDialog_, *openDialog_, this);
    studyView->setGeometry(Frame_realtime->geometry());
    studyView->setFont(windowFont(9));
    studyView->hide();
    // A peak of the study: the Trend view on that span of its log, or of the run.
    connect(studyView, &StudyView::peakChosen, this,
            [this](const QStringList& files, qint64 fromMs, qint64 toMs) {
                TabStrip1->setCurrentIndex(kTrendTab);
                if (files.isEmpty()) {
                    trendView->showLive();
                } else {
                    std::vector<std::string> all;
                    for (const QString& file : files) {
                        all.push_back(file.toStdString());
                    }
                    QStringList covering;
                    for (const std::string& file : logsCovering(all, fromMs, toMs)) {
                        covering << QString::fromStdString(file);
                    }
                    if (!trendView->openFiles(covering)) {
                        return;
                    }
                }
                trendView->showSpan(fromMs, toMs);
            });

    // Where each control lies now, and how it follows the window when it grows.
    for (QWidget* grows :
         std::initializer_list<QWidget*>{pane_, TabStrip1, trendView, metersView, studyView}) {
        placed_.push_back({grows, grows->geometry(), true});
    }
    for (QWidget* right : std::initializer_list<QWidget*>{Button_read, Button_save, Button_clear,
                                                          Button_help, Button_close, Lab_comsta,
                                                          Lab_consta, downloadProgressBar}) {
        placed_.push_back({right, right->geometry(), false});
    }
    if (const auto size = storedWindowSize()) {
        resize(size->expandedTo(defaultSize()));
    }
    if (storedWindowMaximized()) {
        setWindowState(windowState() | Qt::WindowMaximized);
    }

    // A click on a tab applies its view, also a click on the tab already shown.
    connect(TabStrip1, &QTabBar::tabBarClicked, this, [this](int index) {
        if (index >= 0) {
            TabStrip1_Click(index);
        }
    });
    connect(TabStrip1, &QTabBar::currentChanged, this, &MainWindow::TabStrip1_Click);
    connect(Button_read, &QToolButton::clicked, this, &MainWindow::Button_read_Click);
    connect(Button_save, &QToolButton::clicked, this, &MainWindow::Button_save_Click);
    connect(Button_clear, &QToolButton::clicked, this, &MainWindow::Button_clear_Click);
    connect(Button_help, &QToolButton::clicked, this, &MainWindow::Button_help_Click);
    connect(Button_close, &QToolButton::clicked, this, &MainWindow::Button_close_Click);
}

void MainWindow::Form_Load() {
    link().startUp();
    Frame_realtime->show();
    viewMode_ = kRealtimeView;
    session_.setPolling(Polling::Live);
    session_.table().ResetRecordTable();
}

void MainWindow::setMeterLines(const QStringList& lines) {
    storeMeterLines(lines);
    fleet_->configure(MetersDialog::usable(lines), QLocale().decimalPoint().toStdString());
}

void MainWindow::metersReplaced() {
    if (!notifier_) {
        return; // the window is being built; it listens once it is
    }
    for (Meter* meter : fleet_->meters()) {
        meter->alarms().addListener(notifier_.get());
    }
    fleet_->totalAlarms().addListener(notifier_.get());
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int dx = std::max(0, width() - defaultSize().width());
    const int dy = std::max(0, height() - defaultSize().height());
    for (const Placed& p : placed_) {
        const bool tabs = p.widget == TabStrip1;
        p.widget->setGeometry(p.grows ? p.home.adjusted(0, 0, dx, tabs ? 0 : dy)
                                      : p.home.translated(dx, 0));
    }
}

void MainWindow::TabStrip1_Click(int index) {
    studyView->setVisible(index == kStudyTab);
    if (index == kStudyTab) {
        // Polls live readings as the Realtime view does; the study reads logs meanwhile.
        Frame_realtime->hide();
        trendView->hide();
        metersView->hide();
        Button_clear->setEnabled(false);
        Button_read->setEnabled(false);
        viewMode_ = kStudyView;
        session_.setPolling(Polling::Live);
        return;
    }
    metersView->setVisible(index == kMetersTab);
    if (index == kMetersTab) {
        // Polls live readings as the Realtime view does.
        Frame_realtime->hide();
        trendView->hide();
        Button_clear->setEnabled(false);
        Button_read->setEnabled(false);
        viewMode_ = kMetersView;
        session_.setPolling(Polling::Live);
        return;
    }
    if (index == kTrendTab) {
        // Polls live readings as the Realtime view does; nothing to read or clear here.
        Frame_realtime->hide();
        trendView->show();
        Button_clear->setEnabled(false);
        Button_read->setEnabled(false);
        viewMode_ = kTrendView;
        session_.setPolling(Polling::Live);
        return;
    }
    trendView->hide();
    if (index == 0) {
        Frame_realtime->show();
        Button_clear->setEnabled(false);
        Button_read->setEnabled(false);
        viewMode_ = kRealtimeView;
        session_.setPolling(Polling::Live);
    } else {
        Frame_realtime->hide();
        viewMode_ = kRecordView;
        session_.setPolling(Polling::KeepAlive);
        Button_clear->setEnabled(true);
        Button_read->setEnabled(true);
    }
}

void MainWindow::Button_read_Click() {
    link().Button_read_Click();
}

void MainWindow::Button_save_Click() {
    // The Meters view saves the readings of every meter, as the Trend view does.
    if (viewMode_ == kTrendView || viewMode_ == kMetersView) {
        trendView->save();
        return;
    }
    if (viewMode_ == kStudyView) {
        studyView->save();
        return;
    }
    SaveCommand::Sources sources;
    sources.grabWindow = [this] { return grab().toImage(); };
    sources.captions = [this] { return presenter_.captions(); };
    sources.table = &session_.table();
    save_->Button_save_Click(viewMode_, sources);
}

void MainWindow::Button_clear_Click() {
    session_.table().ResetRecordTable();
}

bool MainWindow::openFromCommandLine(const QStringList& arguments) {
    bool study = false;
    std::vector<study::MeterFiles> groups;
    QStringList files;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--study")) {
            study = true;
        } else if (a == QLatin1String("--meter") && i + 1 < arguments.size()) {
            groups.push_back({arguments[++i].toStdString(), {}});
        } else if (a.startsWith(QLatin1String("--"))) {
            QMessageBox::warning(this, tr("Open"),
                                 tr("%1 is no option of talviren: it takes FILE..., or --study "
                                    "[--meter NAME] FILE...")
                                     .arg(a));
            return false;
        } else {
            if (groups.empty()) {
                groups.push_back({"log", {}});
            }
            groups.back().files.push_back(a.toStdString());
            files << a;
        }
    }
    std::erase_if(groups, [](const study::MeterFiles& g) { return g.files.empty(); });
    if (files.isEmpty()) {
        return true;
    }
    if (study) {
        TabStrip1->setCurrentIndex(kStudyTab);
        studyPlan_.setMeters(std::move(groups));
        return true;
    }
    TabStrip1->setCurrentIndex(kTrendTab);
    return trendView->openFiles(files);
}

std::unique_ptr<QMessageBox> MainWindow::createHelpBox() {
    // The message separates its lines by carriage returns; a label breaks lines on '\n'.
    QString text = QString::fromLatin1(kHelpText);
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    auto box =
        std::make_unique<QMessageBox>(QMessageBox::Information, QString::fromLatin1(kHelpTitle),
                                      text.trimmed(), QMessageBox::Ok, this);
    box->setTextFormat(Qt::PlainText);
    return box;
}

void MainWindow::Button_help_Click() {
    createHelpBox()->exec();
}

void MainWindow::Button_close_Click() {
    storeWindowSize(isMaximized() ? normalGeometry().size() : size(), isMaximized());
    session_.shutDown();
    hide();
    QCoreApplication::exit(0);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    storeWindowSize(isMaximized() ? normalGeometry().size() : size(), isMaximized());
    link().shutDown();
    event->accept();
}

void MainWindow::showPortStatus(const std::string& caption, const PortDetail& detail) {
    Lab_comsta->setText(fromUtf8(caption));
    QString tip = detail.devicePath.empty() ? tr("No serial device has this number")
                                            : fromUtf8(detail.devicePath);
    if (!detail.failureReason.empty()) {
        tip += QLatin1Char('\n') + fromUtf8(detail.failureReason);
    }
    Lab_comsta->setToolTip(tip);
}

void MainWindow::showLinkStatus(const std::string& caption) {
    Lab_consta->setText(fromUtf8(caption));
}

void MainWindow::showRealtime(const RealtimeDisplay& display) {
    for (int k = 0; k < 2; ++k) {
        Lab_testpro[k]->setText(fromUtf8(display.name(k)));
        Lab_value[k]->setText(fromUtf8(display.value(k)));
    }
}

void MainWindow::showDownloadProgress(int readingsReceived, int readingsExpected) {
    downloadProgressBar->setRange(0, readingsExpected);
    downloadProgressBar->setValue(readingsReceived);
    downloadProgressBar->show();
}

void MainWindow::hideDownloadProgress() {
    downloadProgressBar->hide();
}

} // namespace talviren
