#pragma once

#include "meters/FleetCore.h"
#include "save/SaveCommand.h"
#include "save/SaveDialog.h"
#include "session/StudyRunner.h"
#include "study/StudyPlan.h"
#include "ui/NamedLabel.h"

#include <QWidget>

#include <functional>
#include <optional>

class QComboBox;
class QCustomPlot;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QTableView;
class QToolButton;

namespace talviren {

class PeaksModel;

// The Study view: a load study in the window, of one or more meters' logs or of the run itself,
// with the numbers and rules of talviren-cli study: a summary per meter and for the total, four
// charts, the top peaks, the 220.87 panel, a PDF report and the intervals saved. It studies on
// a worker thread (the window goes on polling), and edits the study's plan and the run's power
// factor; it owns neither.
class StudyView : public QWidget, private study::StudyPlanListener, private RunSettingsListener {
    Q_OBJECT

public:
    // How the view tells the user something: a title and a text (a message box by default).
    using Notify = std::function<void(const QString& title, const QString& text)>;
    // Asks the name of a meter added (none: cancelled); an input dialog by default.
    using AskName = std::function<std::optional<QString>(const QString& suggested)>;

    StudyView(study::StudyPlan& plan, FleetCore& fleet, SaveDialog& saveDialog,
              OpenDialog& openDialog, QWidget* parent = nullptr);
    ~StudyView() override;

    // "Open…": one meter's files, studied in place of what was.
    void openFiles();
    // "Add meter…": another meter's files, under a name the user gives.
    void addMeter();
    // "This run": the window's own meters, their recordings so far.
    void studyThisRun();
    // Studies what the plan says now (the last study under way is given up).
    void restudy();
    // "Cancel".
    void cancel();
    // "Report…": the PDF of talviren-cli study --report.
    SaveOutcome writeReport();
    // "Save": the intervals, as CSV or a workbook.
    SaveOutcome save();

    StudyRunner& runner() { return runner_; }
    void setNotify(Notify notify) { notify_ = std::move(notify); }
    void setNameAsker(AskName ask) { askName_ = std::move(ask); }
    void setInitialFolder(QString folder);

    // Controls, named as the tests and the screen reader know them.
    QToolButton* openButton = nullptr;
    QToolButton* addButton = nullptr;
    QToolButton* runButton = nullptr;
    QToolButton* cancelButton = nullptr;
    QToolButton* reportButton = nullptr;
    QComboBox* intervalBox = nullptr;
    QDoubleSpinBox* coverageBox = nullptr;
    QLineEdit* powerFactorEdit = nullptr;
    QLineEdit* ratingEdit = nullptr;
    QLineEdit* newLoadEdit = nullptr;
    QComboBox* demandBox = nullptr;
    QProgressBar* progress = nullptr;
    NamedLabel* sources = nullptr; // the meters, their files and periods
    NamedLabel* status = nullptr;  // what is going on, or why a study could not be made
    // The summary of the meter shown (the first, or the one chosen) and of the total.
    QComboBox* meterBox = nullptr;
    NamedLabel* periodLabel = nullptr;      // "study period"
    NamedLabel* daysLabel = nullptr;        // "study days"
    NamedLabel* peakLabel = nullptr;        // "study peak"
    NamedLabel* slidingPeakLabel = nullptr; // "study sliding peak"
    NamedLabel* loadFactorLabel = nullptr;  // "study load factor"
    NamedLabel* energyLabel = nullptr;      // "study energy"
    NamedLabel* imbalanceLabel = nullptr;   // "study imbalance"
    NamedLabel* necLabel = nullptr;         // "study 220.87"
    QCustomPlot* demandChart = nullptr;
    QCustomPlot* energyChart = nullptr;
    QCustomPlot* dayChart = nullptr;
    QCustomPlot* durationChart = nullptr;
    QTableView* peaksTable = nullptr;
    PeaksModel* peaks = nullptr;

signals:
    // A peak was chosen: the Trend view is to show that span of these logs (none: the run's
    // own recording).
    void peakChosen(const QStringList& files, qint64 fromMs, qint64 toMs);

private:
    void sourcesChanged() override { restudy(); }
    void settingsChanged() override { restudy(); }
    void powerFactorChanged() override;

    void buildControls();
    // The fields into the plan's settings (kept); false, with the reason shown, when one is
    // refused.
    bool takeFields();
    void showPlan();
    void showResult();
    void showMeter();
    void drawCharts();
    void choosePeak(int row);
    void tell(const QString& title, const QString& text);

    study::StudyPlan& plan_;
    FleetCore& fleet_;
    OpenDialog& openDialog_;
    SaveCommand saveCommand_;
    StudyRunner runner_;
    Notify notify_;
    AskName askName_;
    bool showing_ = false; // the fields are being written by the view itself
};

} // namespace talviren
