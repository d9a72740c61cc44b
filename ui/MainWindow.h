#pragma once

#include "records/RecordTable.h"
#include "save/SaveCommand.h"
#include "save/SaveDialog.h"
#include "session/MeterFleet.h"
#include "session/MeterSession.h"
#include "ui/DesktopNotifier.h"
#include "ui/LinkPresenter.h"
#include "ui/Settings.h"

#include <QWidget>

#include <memory>

class QFrame;
class QLabel;
class QMessageBox;
class QProgressBar;
class QTabBar;
class QTableView;
class QToolButton;

namespace talviren {

class MetersView;
class RecordTableModel;
class StudyView;
class TrendView;

// The one window: the Realtime, Record and Trend views, the five buttons and the two status
// labels, over the session. Its texts come from the presenter, which hears the engine's events.
class MainWindow : public QWidget, private LinkView, private FleetListener {
    Q_OBJECT

public:
    // Captions and texts of the window.
    static constexpr const char* kTitle = "TALVIREN";
    static constexpr const char* kHelpText =
        "Quorvane V1.0 20230203\r Please contact us for more information!\r";
    static constexpr const char* kHelpTitle = "Thank you for using our product.";

    // `dialog` answers the save dialog of the Realtime and Record views, `trendDialog` that of
    // the Trend view (saving and logging), `openDialog` its open dialog; by default the real
    // ones.
    explicit MainWindow(std::unique_ptr<SaveDialog> dialog = nullptr,
                        std::unique_ptr<SaveDialog> trendDialog = nullptr,
                        std::unique_ptr<OpenDialog> openDialog = nullptr,
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up steps, run once before the window is shown.
    void Form_Load();
    // Applies the view of tab `index` (0 Realtime, 1 Record, 2 Trend, 3 Meters, 4 Study).
    void TabStrip1_Click(int index);
    void Button_read_Click();
    void Button_save_Click();
    void Button_clear_Click();
    void Button_help_Click();
    void Button_close_Click();

    // The information box of "Help", ready to be shown.
    std::unique_ptr<QMessageBox> createHelpBox();

    // The views, as the tab strip orders them and the save tells them apart.
    enum ViewMode : std::int16_t {
        kRealtimeView = 1,
        kRecordView = 2,
        kTrendView = 3,
        kMetersView = 4,
        kStudyView = 5
    };

    MeterSession& session() { return session_; }
    // Every meter of the window, its own one first, and their sum.
    MeterFleet& fleet() { return *fleet_; }
    // What the user set for the run: the power factor, the alarms, the log.
    RunSettings& runSettings() { return runSettings_; }
    // What the Study view studies.
    study::StudyPlan& studyPlan() { return studyPlan_; }
    // The files of the command line: `talviren FILE...` opens them in the Trend view as Open…
    // does, `talviren --study [--meter NAME] FILE...` studies them; false, with the reason
    // shown, for arguments it cannot take.
    bool openFromCommandLine(const QStringList& arguments);
    // Takes meters as the lines of [meters] ("L2=COM5"): kept in the settings and used now.
    void setMeterLines(const QStringList& lines);
    MeterLink& link() { return session_.link(); }
    QtSerialPort& serialPort() { return session_.port(); }
    const RecordTable& recordTable() const { return session_.table(); }
    SaveCommand& saveCommand() { return *save_; }
    // The view shown.
    std::int16_t viewMode() const { return viewMode_; }

    // Controls, named as the tests and the screen reader know them.
    QTabBar* TabStrip1 = nullptr;
    QFrame* Frame_realtime = nullptr;
    QLabel* Lab_testpro[2] = {};
    QLabel* Lab_value[2] = {};
    QTableView* DataGrid = nullptr;
    QToolButton* Button_read = nullptr;
    QToolButton* Button_save = nullptr;
    QToolButton* Button_clear = nullptr;
    QToolButton* Button_help = nullptr;
    QToolButton* Button_close = nullptr;
    QLabel* Lab_comsta = nullptr;
    QLabel* Lab_consta = nullptr;
    QProgressBar* downloadProgressBar = nullptr;
    TrendView* trendView = nullptr;
    MetersView* metersView = nullptr;
    StudyView* studyView = nullptr;

    // The window's size at its start: the specified layout.
    static QSize defaultSize();

protected:
    void closeEvent(QCloseEvent* event) override;
    // The Trend, Meters and Study views grow with the window, the buttons and the status keep
    // to its right edge; the Realtime and Record views keep their specified layout.
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    QToolButton* makeButton(const QString& caption, const char* themeIcon, int standardIcon,
                            int top);
    void showPortStatus(const std::string& caption, const PortDetail& detail) override;
    void showLinkStatus(const std::string& caption) override;
    void showRealtime(const RealtimeDisplay& display) override;
    void showDownloadProgress(int readingsReceived, int readingsExpected) override;
    void hideDownloadProgress() override;
    // The meters changed: the desktop hears their alarms.
    void metersReplaced() override;

    MeterSession session_;
    RunSettings runSettings_;
    study::StudyPlan studyPlan_;
    std::unique_ptr<StudyPlanKeeper> studyKeeper_;
    std::unique_ptr<RunSettingsKeeper> keeper_; // the settings kept for the next start
    std::unique_ptr<MeterFleet> fleet_;
    LinkPresenter presenter_{*this};
    std::int16_t viewMode_ = kRealtimeView;
    RecordTableModel* model_ = nullptr;
    std::unique_ptr<SaveDialog> dialog_;
    std::unique_ptr<SaveDialog> trendDialog_;
    std::unique_ptr<OpenDialog> openDialog_;
    std::unique_ptr<SaveCommand> save_;
    std::unique_ptr<DesktopNotifier> notifier_; // raised alarms on the desktop
    QFrame* pane_ = nullptr;
    // Where each control lies at the default size, and how it follows a larger window.
    struct Placed {
        QWidget* widget;
        QRect home;
        bool grows; // with the window; else it keeps to its right edge
    };
    std::vector<Placed> placed_;
};

} // namespace talviren
