// The whole program: the real window with talviren-sim on a pseudo-terminal.

#include "QtTestSupport.h"

#include "ui/MainWindow.h"

#include <QApplication>
#include <QLabel>
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

} // namespace
