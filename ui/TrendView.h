#pragma once

#include "alarm/AlarmEngine.h"
#include "meters/FleetCore.h"
#include "save/SaveCommand.h"
#include "save/SaveDialog.h"
#include "trend/Recording.h"
#include "ui/NamedLabel.h"
#include "ui/TrendChart.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QToolButton;

namespace talviren {

class MeterChecks;
class StatisticsTable;

// The Trend view: a chart of both quantities over time (and of power where there is AC
// voltage), their statistics and energy, logging every live reading to a CSV file, and opening
// such a log. It draws the run's meters as the fleet holds them (their recordings take the
// live readings for the whole run whether the view is shown or not), or a log read back; with
// several meters each checked one has its traces and rows, and their sum one more. It edits
// the run's settings (the power factor, the alarms, the log) and follows them; it owns none.
class TrendView : public QWidget,
                  private FleetListener,
                  private RunSettingsListener,
                  private AlarmListener {
    Q_OBJECT

public:
    // How the view tells the user something: a title and a text (a message box by default).
    using Notify = std::function<void(const QString& title, const QString& text)>;
    // Edits alarm lines; none when cancelled. The Alarms dialog by default.
    using EditAlarms =
        std::function<std::optional<QStringList>(const QStringList& lines, bool hasPowerFactor)>;

    // Draws the meters of `fleet` and edits its settings; `saveDialog` serves logging and
    // saving, `openDialog` opening. All three are owned by the caller and outlive the view.
    TrendView(FleetCore& fleet, SaveDialog& saveDialog, OpenDialog& openDialog,
              QWidget* parent = nullptr);
    ~TrendView() override;

    // "Save" in the Trend view.
    SaveOutcome save();
    // "Log…" checked: asks for a file and logs every meter; unchecked: stops.
    void setLogging(bool on);
    // "Open…": shows a log in place of the live history.
    void openLog();
    // Shows these logs as one (as Open… does); false, with the reason told, when one is no log.
    bool openFiles(const QStringList& paths);
    // Shows the time from `fromMs` to `toMs` (a peak of a study with its minutes around).
    void showSpan(std::int64_t fromMs, std::int64_t toMs);
    // "Live": back to the live history, following the newest reading.
    void showLive();
    // "Reset": clears the statistics shown, not the history.
    void resetStatistics();
    // The "PF" field's text: empty for none, else a power factor, which becomes the run's;
    // false (with the refusal shown beside the field) for anything else, which changes nothing.
    bool setPowerFactorText(const QString& text);
    // The run's power factor.
    std::optional<PowerFactor> powerFactor() const { return fleet_.settings().powerFactor(); }
    // "Alarms…": edits the run's alarms.
    void editAlarms();
    void setAlarmEditor(EditAlarms edit) { editAlarms_ = std::move(edit); }

    void setInitialFolder(QString folder);
    void setNotify(Notify notify) { notify_ = std::move(notify); }
    // Separator of the texts in the statistics, saves and log (the user's, by default).
    void setDecimalSeparator(std::string separator);

    // True while a log read back is shown instead of the live recording.
    bool showingLog() const { return opened_ != nullptr; }
    // Whether several meters are drawn now (not while a log is shown).
    bool severalMeters() const { return fleet_.several() && !showingLog(); }

    // Controls, named as the tests and the screen reader know them.
    TrendChart* chart = nullptr;
    StatisticsTable* statisticsTable = nullptr;
    QToolButton* spanButtons[5] = {};
    QToolButton* liveButton = nullptr;
    QToolButton* resetButton = nullptr;
    QToolButton* logButton = nullptr;
    QToolButton* openButton = nullptr;
    QLabel* sourceLabel = nullptr;
    QLabel* logLabel = nullptr;
    QLineEdit* powerFactorEdit = nullptr;
    QLabel* powerFactorProblem = nullptr; // why the field's text was refused
    NamedLabel* energyLabel = nullptr;    // "E 1.234 kVAh since 08:00:00"
    QToolButton* alarmsButton = nullptr;
    NamedLabel* alarmBanner = nullptr; // the raised alarms, red, until they clear
    MeterChecks* meterBar = nullptr;   // the meters to draw, with several, and their sum

protected:
    void showEvent(QShowEvent* event) override;

private:
    void metersReplaced() override;
    void readingRecorded(std::size_t index, const TimedReading& reading) override;
    void meterChanged(std::size_t) override { refreshSoon(); }
    void logChanged(std::size_t) override { refreshLogLabel(); }
    void sumAdded(const SumPoint& point) override;
    void logRefused(const std::string& file, const std::string& error) override;
    void powerFactorChanged() override;
    void loggingChanged() override;
    void alarmChanged(const AlarmEvent& event) override;
    void alarmsConfigured() override;

    void buildControls();
    // The meters' checks, one per meter, and the alarms heard, anew.
    void rebuildMeterBar();
    void listenToAlarms(bool listen);
    // The recording the single-meter view shows: the log read back, or the run's own meter.
    const Recording& shown() const;
    // Hands the chart what the checks say.
    void applyTraces();
    void showOpened(std::unique_ptr<Recording> recording, const QString& name);
    void refreshSoon();
    void refreshStatistics();
    void refreshEnergy();
    void refreshLogLabel();
    void refreshBanner();
    void tell(const QString& title, const QString& text);

    FleetCore& fleet_;
    OpenDialog& openDialog_;
    SaveCommand saveCommand_;
    std::string separator_;
    Notify notify_;
    EditAlarms editAlarms_;
    std::unique_ptr<Recording> opened_; // a log read back, while it is shown
    std::vector<AlarmEngine*> heardAlarms_;
    QTimer refresh_;
};

} // namespace talviren
