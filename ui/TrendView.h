#pragma once

#include "alarm/AlarmEngine.h"
#include "export/TrendFiles.h"
#include "meters/PhaseSum.h"
#include "save/SaveCommand.h"
#include "save/SaveDialog.h"
#include "trend/Recording.h"
#include "ui/NamedLabel.h"
#include "ui/TrendChart.h"

#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QTableWidget;
class QToolButton;

namespace talviren {

class MeterFleet;

// The Trend view: a chart of both quantities over time (and of power where there is AC
// voltage), their statistics and energy, logging every live reading to a CSV file, and opening
// such a log. It shows the session's recording, which takes
// the live readings for the whole run whether the view is shown or not, or a log read back into
// a recording of its own.
class TrendView : public QWidget,
                  private RecordingListener,
                  private AlarmListener,
                  private PhaseSumListener {
    Q_OBJECT

public:
    // How the view tells the user something: a title and a text (a message box by default).
    using Notify = std::function<void(const QString& title, const QString& text)>;

    // Shows `live`, the session's recording; `saveDialog` serves logging and saving,
    // `openDialog` opening. All three are owned by the caller and outlive the view.
    TrendView(Recording& live, SaveDialog& saveDialog, OpenDialog& openDialog,
              QWidget* parent = nullptr);
    ~TrendView() override;

    // "Save" in the Trend view.
    SaveOutcome save();
    // "Log…" checked: asks for a file and starts logging; unchecked: stops.
    void setLogging(bool on);
    // "Open…": shows a log in place of the live history.
    void openLog();
    // "Live": back to the live history, following the newest reading.
    void showLive();
    // "Reset": clears the statistics shown, not the history.
    void resetStatistics();
    // The "PF" field's text: empty for none, else a power factor; false (with the refusal shown
    // beside the field) for anything else, which changes nothing. Kept in the settings.
    bool setPowerFactorText(const QString& text);
    std::optional<PowerFactor> powerFactor() const { return powerFactor_; }

    void setInitialFolder(QString folder);
    void setNotify(Notify notify) { notify_ = std::move(notify); }
    // Separator of the texts in the statistics, saves and log (the user's, by default).
    void setDecimalSeparator(std::string separator) { separator_ = std::move(separator); }

    // Replaces the alarms of the session: the rules that can be used, at the view's PF.
    using ConfigureAlarms =
        std::function<void(std::vector<AlarmRule> rules, std::optional<PowerFactor> factor)>;
    // Edits alarm lines; none when cancelled. The Alarms dialog by default.
    using EditAlarms =
        std::function<std::optional<QStringList>(const QStringList& lines, bool hasPowerFactor)>;
    // Shows the alarms of `engine` (the session's) and configures them from the settings, now
    // and whenever they or the PF change. Both outlive the view.
    void setAlarms(AlarmEngine& engine, ConfigureAlarms configure);
    void setAlarmEditor(EditAlarms edit) { editAlarms_ = std::move(edit); }
    // The alarms of the other meters and of their sum, shown in the banner too.
    void setOtherAlarms(std::vector<AlarmEngine*> engines);
    // The meters a rule may name (the window's own one first), for the Alarms dialog.
    void setMeterNames(QStringList names);
    // The window's meters (its own one is the live recording): with several, each checked one
    // draws its traces, has rows in the statistics, a log and a file or sheet of its own, and
    // their sum draws in the power row. None, or one meter: the view as it is.
    void setFleet(MeterFleet* fleet);
    // Configures the alarms from the settings again (the meters changed).
    void reapplyAlarms() { applyAlarms(); }
    // Whether several meters are drawn now (not while a log is shown).
    bool severalMeters() const;

    QWidget* meterBar = nullptr;         // the meters to draw, with several
    std::vector<QCheckBox*> meterChecks; // one per meter, the window's own first
    QCheckBox* sumCheck = nullptr;       // the sum
    // "Alarms…": edits the alarms kept in the settings and uses them.
    void editAlarms();

    // True while a log read back is shown instead of the live recording.
    bool showingLog() const { return shown_ != &live_; }

    // Controls, named as the tests and the screen reader know them.
    TrendChart* chart = nullptr;
    QTableWidget* statisticsTable = nullptr;
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

protected:
    void showEvent(QShowEvent* event) override;

private:
    void readingRecorded(const TimedReading& reading) override;
    void sumAdded(const PhaseSumPoint& point) override;
    // Draws what the checks say.
    void applyMeters();
    // Another meter's reading came.
    void otherReading();
    // The statistics rows of one recording, named after its meter with several.
    void appendRows(std::vector<std::pair<QString, std::array<QString, 6>>>& rows,
                    const Recording& recording, const QString& prefix,
                    std::optional<PowerFactor> factor) const;
    void logBehind(bool behind) override;
    void alarmChanged(const AlarmEvent& event) override;
    void alarmsConfigured() override;
    // Configures the session's alarms from the settings.
    void applyAlarms();
    void refreshBanner();

    void buildControls();
    void showRecording(Recording* recording);
    void refreshStatisticsSoon();
    void refreshStatistics();
    void refreshEnergy();
    // Writes one row of the statistics table.
    void setStatisticsRow(int row, const QString& name, const QString (&cells)[6]);
    void refreshLogLabel();
    void uncheckLog();
    void tell(const QString& title, const QString& text);

    OpenDialog& openDialog_;
    SaveCommand saveCommand_;
    std::string separator_;
    Notify notify_;

    Recording& live_;
    std::unique_ptr<Recording> opened_;
    QString openedName_; // the file name of the log shown
    Recording* shown_ = &live_;
    std::optional<PowerFactor> powerFactor_;
    AlarmEngine* alarms_ = nullptr;
    std::vector<AlarmEngine*> otherAlarms_;
    ConfigureAlarms configureAlarms_;
    EditAlarms editAlarms_;
    QStringList meterNames_; // the meters a rule may name, the window's own one first

    QTimer statisticsRefresh_;

    MeterFleet* fleet_ = nullptr;
    std::vector<std::unique_ptr<RecordingListener>> otherWatches_;
    // The sum as it came, for the chart, the saves and the statistics.
    std::vector<SumRow> sumRows_;
    struct SumStats {
        std::int64_t count = 0, watts = 0;
        std::int64_t sumUnits = 0;
        double sumWatts = 0;
        SumRow minimum, maximum, last;
        double minWatts = 0, maxWatts = 0;
    } sumStats_;
};

} // namespace talviren
