#pragma once

#include "log/CsvLogWriter.h"
#include "save/SaveDialog.h"
#include "save/TrendSaveCommand.h"
#include "link/LinkObserver.h"
#include "trend/ReadingStatistics.h"
#include "trend/TrendHistory.h"
#include "ui/TrendChart.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QTableWidget;
class QToolButton;

namespace talviren {

// The Trend view: a chart of both quantities over time, their statistics, logging every live
// reading to a CSV file, and opening such a log. It takes the live readings of the session
// for the whole run, whether it is shown or not.
class TrendView : public QWidget, public LinkObserver {
    Q_OBJECT

public:
    // How the view tells the user something: a title and a text (a message box by default).
    using Notify = std::function<void(const QString& title, const QString& text)>;

    // `saveDialog` serves logging and saving, `openDialog` opening; both owned by the caller.
    TrendView(SaveDialog& saveDialog, OpenDialog& openDialog, QWidget* parent = nullptr);
    ~TrendView() override;

    // Readings and link events of the session.
    void liveReading(const TimedReading& reading) override;
    void linkLost() override;

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

    void setInitialFolder(QString folder);
    void setNotify(Notify notify) { notify_ = std::move(notify); }
    // Separator of the texts in the statistics, saves and log (the user's, by default).
    void setDecimalSeparator(std::string separator) { separator_ = std::move(separator); }

    const TrendHistory& liveHistory() const { return live_.history; }
    const ReadingStatistics& liveStatistics() const { return live_.statistics; }
    bool showingLog() const { return shown_ != &live_; }
    const CsvLogWriter* log() const { return log_.get(); }

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

protected:
    void showEvent(QShowEvent* event) override;

private:
    // A history with its statistics: the live one, or one read from a log.
    struct Trend {
        TrendHistory history;
        ReadingStatistics statistics;
        QString name; // the log's file name; empty for the live history
    };

    void buildControls();
    void showTrend(Trend* trend);
    void refreshStatisticsSoon();
    void refreshStatistics();
    void refreshLogLabel();
    void stopLogging(const QString& failure);
    void tell(const QString& title, const QString& text);

    SaveDialog& saveDialog_;
    OpenDialog& openDialog_;
    TrendSaveCommand saveCommand_;
    QString initialFolder_;
    std::string separator_;
    Notify notify_;

    Trend live_;
    std::unique_ptr<Trend> opened_;
    Trend* shown_ = &live_;

    std::unique_ptr<CsvLogWriter> log_;
    QTimer logSync_;
    QTimer statisticsRefresh_;
};

} // namespace talviren
