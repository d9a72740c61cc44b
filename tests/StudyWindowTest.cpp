// The Study view in the window, with a meter on a pseudo-terminal: a month of compressed logs
// studied while every live reading goes on being logged, a study given up midway, a peak that
// opens the Trend view, a file that is no log, and the window grown.

#include "QtTestSupport.h"
#include "TimeZone.h"
#include "WorkbookReadBack.h"

#include "HttpTestSupport.h"
#include "log/CsvLogReader.h"
#include "session/StudyRunner.h"
#include "ui/MainWindow.h"
#include "ui/MetersView.h"
#include "ui/PeaksModel.h"
#include "ui/StudyView.h"
#include "ui/TrendCurve.h"
#include "ui/TrendView.h"

#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

// Days of the service's compressed logs, made by the script the accessibility test uses.
QStringList makeLogs(const QString& folder, int days) {
    QDir().mkpath(folder);
    const std::vector<std::string> made =
        commandLines("/usr/bin/python3 " + std::string(TALVIREN_SOURCE_DIR) +
                     "/tests/study_logs.py '" + folder.toStdString() + "' " + std::to_string(days) +
                     " --gzip && ls '" + folder.toStdString() + "'");
    QStringList files;
    for (const std::string& name : made) {
        files << folder + QLatin1Char('/') + QString::fromStdString(name);
    }
    return files;
}

// The times of a log's readings.
std::vector<std::int64_t> loggedTimes(const QString& path) {
    struct Times : LogReadingSink {
        std::vector<std::int64_t> times;
        void reading(std::int64_t ms, const MeterReading&, std::string_view,
                     std::string_view) override {
            times.push_back(ms);
        }
    } sink;
    readCsvLog(path.toStdString(), sink);
    return sink.times;
}

struct StudyRig {
    // The settings in `home` (a folder of the rig's own by default).
    explicit StudyRig(QString home = {}) {
        home_ = home.isEmpty() ? config.path() : home;
        ::setenv("XDG_CONFIG_HOME", qPrintable(home_), 1);
        auto owned = std::make_unique<ScriptedOpenDialog>();
        open = owned.get();
        window = std::make_unique<MainWindow>(nullptr, nullptr, std::move(owned));
        window->serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
        window->studyView->setNotify(
            [this](const QString&, const QString& text) { messages << text; });
        window->trendView->setNotify(
            [this](const QString&, const QString& text) { messages << text; });
        window->show();
    }
    StudyView& view() { return *window->studyView; }
    bool studied(int timeoutMs = 60000) {
        return waitFor([this] { return !view().runner().running(); }, timeoutMs) &&
               view().runner().result();
    }

    QTemporaryDir config;
    QString home_;
    const TimeZone zone{"UTC"};
    ScriptedOpenDialog* open = nullptr;
    std::unique_ptr<MainWindow> window;
    QStringList messages;
};

TEST(StudyWindow, AMonthStudiedWhileTheMeterIsPolledAndEveryReadingLogged) {
    StudyRig rig;
    SimProcess sim(rig.config.path());
    ASSERT_TRUE(sim.start({"--port", "1", "--function", "1"}));
    ASSERT_TRUE(waitFor([&] { return handedOver(rig.window->link().state()); }, 8000));
    const QString log = rig.config.filePath("live.csv");
    std::string file, error;
    ASSERT_TRUE(rig.window->fleet().core().startLogs(log.toStdString(), file, error)) << error;
    const QStringList month = makeLogs(rig.config.filePath("logs"), 31);
    ASSERT_EQ(month.size(), 31);
    // Twice, the second asked for while the first runs: it is given up, the second counts.
    rig.window->openFromCommandLine(QStringList{"--study"} + month.mid(0, 20));
    rig.window->openFromCommandLine(QStringList{"--study"} + month);
    EXPECT_EQ(rig.window->viewMode(), MainWindow::kStudyView);
    ASSERT_TRUE(rig.studied());
    EXPECT_EQ(rig.view().daysLabel->text(), "31 of 31 days measured");
    EXPECT_EQ(rig.view().daysLabel->accessibleDescription(), rig.view().daysLabel->text());
    EXPECT_TRUE(rig.view().peakLabel->text().startsWith("Peak 15 min "))
        << rig.view().peakLabel->text().toStdString();
    EXPECT_EQ(rig.view().peaks->rowCount(), 10);
    // Two readings more, then the log, which spans the study: no reading missed while it ran.
    const std::uint64_t before = rig.window->session().recording().liveCount();
    ASSERT_TRUE(
        waitFor([&] { return rig.window->session().recording().liveCount() >= before + 2; }, 3000));
    rig.window->fleet().core().stopLogs();
    const std::vector<std::int64_t> times = loggedTimes(log);
    ASSERT_GE(times.size(), before + 2);
    std::int64_t longest = 0;
    for (std::size_t i = 1; i < times.size(); ++i) {
        longest = std::max(longest, times[i] - times[i - 1]);
    }
    EXPECT_LE(longest, 1250) << "a reading missed while the study ran";
    EXPECT_EQ(times.size(), rig.window->session().recording().liveCount());
}

TEST(StudyWindow, CancelMidwayAndAPeakThatOpensTheTrendViewOnItsInterval) {
    StudyRig rig;
    const QStringList month = makeLogs(rig.config.filePath("logs"), 31);
    rig.open->answers.push_back(month);
    rig.window->TabStrip1->setCurrentIndex(4);
    rig.view().openButton->click();
    ASSERT_TRUE(waitFor([&] { return rig.view().progress->value() > 0; }, 20000));
    EXPECT_TRUE(rig.view().cancelButton->isEnabled());
    rig.view().cancelButton->click();
    EXPECT_FALSE(rig.view().runner().running());
    EXPECT_FALSE(rig.view().cancelButton->isEnabled());
    EXPECT_EQ(rig.view().status->text(), "Cancelled.");
    // What the study given up still hands over once its worker ends is dropped.
    ASSERT_TRUE(waitFor([&] { return rig.view().runner().idle(); }, 20000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(rig.view().runner().result()) << "nothing of the study given up";
    // Again, to its end; then a double click on the highest peak.
    rig.view().restudy();
    ASSERT_TRUE(rig.studied());
    const PeaksModel::Peak& peak = rig.view().peaks->peak(0);
    const std::int64_t start = peak.interval->startMs;
    QTableView& table = *rig.view().peaksTable;
    table.scrollToTop();
    const QRect cell = table.visualRect(rig.view().peaks->index(0, 1));
    // As a hand does it: a press and a release, then the second press a double click.
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_TRUE(waitFor([&] { return rig.window->viewMode() == MainWindow::kTrendView; }, 5000));
    EXPECT_TRUE(rig.window->trendView->showingLog());
    const QCPRange shown = rig.window->trendView->chart->timeAxis()->range();
    EXPECT_NEAR(shown.lower, start / 1000.0 - 300, 1);
    EXPECT_NEAR(shown.upper, start / 1000.0 + 900 + 300, 1);
    EXPECT_TRUE(rig.window->trendView->sourceLabel->text().contains("readings"));
    EXPECT_LE(rig.window->trendView->chart->currentCurve()->series()->size(), 2u * 86400u)
        << "only the day of the peak is read";
    EXPECT_TRUE(rig.messages.isEmpty()) << rig.messages.join(' ').toStdString();
}

TEST(StudyWindow, AFileThatIsNoLogSaysSoAndTheWindowGoesOn) {
    StudyRig rig;
    const QString garbage = rig.config.filePath("notes.csv");
    ASSERT_TRUE(writeTextFile(garbage, "shopping list\nmilk\n"));
    rig.window->openFromCommandLine({"--study", garbage});
    ASSERT_TRUE(waitFor([&] { return !rig.view().runner().running(); }, 10000));
    EXPECT_TRUE(rig.view().status->text().contains("notes.csv is no talviren log"))
        << rig.view().status->text().toStdString();
    EXPECT_FALSE(rig.view().runner().result());
    // And in the Trend view, as Open… does.
    EXPECT_FALSE(rig.window->openFromCommandLine({garbage}));
    ASSERT_EQ(rig.messages.size(), 1);
    EXPECT_TRUE(rig.messages[0].contains("notes.csv")) << rig.messages[0].toStdString();
    EXPECT_TRUE(rig.window->isVisible());
}

TEST(StudyWindow, TheWindowGrowsItsViewsNotTheSpecifiedOnesAndKeepsItsSize) {
    QRect realtime, grid, trend, save;
    QSize grown;
    QTemporaryDir home;
    {
        StudyRig rig(home.path());
        MainWindow& w = *rig.window;
        ASSERT_EQ(w.size(), MainWindow::defaultSize());
        realtime = w.Frame_realtime->geometry();
        grid = w.DataGrid->geometry();
        trend = w.trendView->geometry();
        save = w.Button_save->geometry();
        EXPECT_EQ(w.studyView->geometry(), trend) << "where the other views lie";
        w.resize(w.size() + QSize(300, 200));
        ASSERT_TRUE(waitFor([&] { return w.trendView->width() == trend.width() + 300; }, 2000));
        EXPECT_EQ(w.trendView->geometry(), trend.adjusted(0, 0, 300, 200));
        EXPECT_EQ(w.studyView->geometry(), trend.adjusted(0, 0, 300, 200));
        EXPECT_EQ(w.metersView->geometry(), trend.adjusted(0, 0, 300, 200));
        EXPECT_EQ(w.Button_save->geometry(), save.translated(300, 0)) << "by the right edge";
        EXPECT_EQ(w.Frame_realtime->geometry(), realtime) << "the specified layout";
        EXPECT_EQ(w.DataGrid->geometry(), grid);
        grown = w.size();
        w.close();
    }
    StudyRig again(home.path());
    EXPECT_EQ(again.window->size(), grown) << "kept in talviren.conf";
}

} // namespace
