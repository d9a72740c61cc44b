// The whole program: the real window with talviren-sim on a pseudo-terminal.

#include "QtTestSupport.h"

#include "log/CsvLog.h"
#include "trend/HistoryReadings.h"
#include "ui/MainWindow.h"
#include "ui/TrendChart.h"
#include "ui/TrendView.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

TEST(WindowEndToEnd, FindsTheMeterShowsReadingsDownloadsAndRescansAfterSilence) {
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "3", "--records", "60", "--function", "2"}));

    MainWindow w;
    w.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    w.show();
    ASSERT_TRUE(waitFor([&] { return w.Lab_consta->text() == "Connected"; }, 6000));
    EXPECT_EQ(w.Lab_comsta->text(), "COM3 Open");
    EXPECT_TRUE(w.Lab_comsta->toolTip().contains(sim.devicePath()));
    ASSERT_TRUE(waitFor([&] { return w.Lab_testpro[1]->text() == "DC U: "; }, 3000));
    EXPECT_EQ(w.Lab_testpro[0]->text(), "AC I: ");
    EXPECT_TRUE(w.Lab_value[0]->text().endsWith("A"));
    EXPECT_TRUE(w.Lab_value[1]->text().endsWith("V"));

    w.TabStrip1->setCurrentIndex(1);
    w.Button_read->click();
    ASSERT_TRUE(waitFor([&] { return !w.downloadProgressBar->isHidden(); }, 2000));
    ASSERT_TRUE(waitFor([&] { return w.DataGrid->model()->rowCount() == 120; }, 6000));
    EXPECT_EQ(w.DataGrid->model()->index(0, 0).data().toString(), "NO:1");
    EXPECT_EQ(w.DataGrid->model()->index(118, 0).data().toString(), "NO:60");
    EXPECT_FALSE(w.DataGrid->model()->index(119, 1).data().toString().isEmpty());
    EXPECT_TRUE(w.downloadProgressBar->isHidden());

    sim.toggleSilence();
    ASSERT_TRUE(waitFor([&] { return w.Lab_consta->text() == "\u901A\u4FE1\u5931\u8D25"; }, 4000));
    ASSERT_TRUE(waitFor([&] { return w.Lab_comsta->text() == "COM5Unviable"; }, 3000))
        << "the scan resumes after the meter's port";
    EXPECT_EQ(w.DataGrid->model()->rowCount(), 120) << "the table keeps what it showed";

    w.Button_close->click();
    EXPECT_FALSE(w.serialPort().isOpen());
}

TEST(WindowEndToEnd, TrendTabPollsLiveReadingsLogsThemAndLeavesTheOtherTabsAsTheyWere) {
    QTemporaryDir config;
    ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
    SimProcess sim(config.path());
    ASSERT_TRUE(sim.start({"--port", "2", "--function", "3"}));
    auto trendDialog = std::make_unique<ScriptedDialog>();
    ScriptedDialog* dialog = trendDialog.get();
    MainWindow w(nullptr, std::move(trendDialog));
    w.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    w.trendView->setInitialFolder(config.path());
    w.show();
    ASSERT_TRUE(waitFor([&] { return handedOver(w.link().state()); }, 8000));

    w.TabStrip1->setCurrentIndex(2);
    EXPECT_EQ(w.TabStrip1->tabText(2), "Trend");
    EXPECT_EQ(w.viewMode(), 3);
    EXPECT_TRUE(w.Frame_realtime->isHidden());
    EXPECT_TRUE(w.trendView->isVisible());
    EXPECT_FALSE(w.Button_read->isEnabled());
    EXPECT_FALSE(w.Button_clear->isEnabled());
    EXPECT_TRUE(w.Button_save->isEnabled());
    const QString log = config.filePath("live.csv");
    dialog->answers.push_back({log, 1});
    w.trendView->logButton->click();
    ASSERT_TRUE(w.trendView->logButton->isChecked());
    const TrendHistory& history = w.session().recording().history();
    const std::size_t start = history.size();
    for (std::size_t n = start + 1; n <= start + 4; ++n) {
        ASSERT_TRUE(waitFor([&] { return history.size() >= n; }, 1500)) << "a reading a tick";
        EXPECT_EQ(w.link().polling(), Polling::Live);
        EXPECT_TRUE(
            waitFor([&] { return readAll(log).count('\n') >= qsizetype(n - start + 1); }, 1000))
            << "in the log within a second";
    }
    // The log holds the readings the view holds, line by line, and the Realtime captions agree.
    const QStringList lines = QString::fromUtf8(readAll(log)).split('\n', Qt::SkipEmptyParts);
    const HistoryReadings readings(history, history.size(), QLocale().decimalPoint().toStdString());
    ASSERT_GE(lines.size(), 5);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const std::size_t index = start + static_cast<std::size_t>(i) - 1;
        EXPECT_EQ(lines[i].toStdString() + "\n", csvlog::line(readings.at(index)));
    }
    EXPECT_TRUE(lines.back().contains("," + w.Lab_value[1]->text() + ","));
    EXPECT_EQ(w.trendView->chart->secondKind(), QuantityKind::Resistance);

    // The Record view polls keep-alives, so the trend pauses; the line breaks when it goes on.
    w.TabStrip1->setCurrentIndex(1);
    EXPECT_TRUE(w.trendView->isHidden());
    EXPECT_TRUE(w.Button_read->isEnabled());
    EXPECT_TRUE(w.Button_clear->isEnabled());
    EXPECT_EQ(w.link().polling(), Polling::KeepAlive);
    waitFor([] { return false; }, 600); // the reply to the last live poll
    const std::size_t paused = history.size();
    waitFor([] { return false; }, 1600);
    EXPECT_LE(history.size(), paused + 1);
    w.TabStrip1->setCurrentIndex(2);
    ASSERT_TRUE(waitFor([&] { return history.size() > paused + 1; }, 1500));
    EXPECT_TRUE(history[paused + 1].breakBefore || history[paused].breakBefore);
    w.TabStrip1->setCurrentIndex(0);
    EXPECT_FALSE(w.Frame_realtime->isHidden());
    EXPECT_TRUE(w.trendView->isHidden());
    EXPECT_EQ(w.viewMode(), 1);
    EXPECT_FALSE(w.Button_read->isEnabled());
    w.Button_close->click();
}

} // namespace
