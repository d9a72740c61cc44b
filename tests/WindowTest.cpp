#include "QtTestSupport.h"

#include "ui/Fonts.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace talviren;

namespace {

// A window that sees only the ports the test pins (none here).
struct WindowRig {
    WindowRig() {
        window.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    }
    MainWindow window;
};

TEST(MainWindow, StartUpState) {
    WindowRig rig;
    MainWindow& w = rig.window;
    EXPECT_EQ(w.windowTitle(), "TALVIREN");
    EXPECT_EQ(w.size(), QSize(783, 670));
    EXPECT_EQ(w.viewMode(), 1);
    EXPECT_EQ(w.TabStrip1->currentIndex(), 0);
    EXPECT_EQ(w.TabStrip1->tabText(0), "Realtime");
    EXPECT_EQ(w.TabStrip1->tabText(1), "Record");
    EXPECT_FALSE(w.Frame_realtime->isHidden());
    EXPECT_TRUE(w.Button_read->isEnabled());
    EXPECT_FALSE(w.Button_clear->isEnabled());
    EXPECT_TRUE(w.Button_save->isEnabled());
    EXPECT_TRUE(w.Button_help->isEnabled());
    EXPECT_TRUE(w.Button_close->isEnabled());
    EXPECT_EQ(w.Lab_comsta->text(), "COM status");
    EXPECT_EQ(w.Lab_consta->text(), "unconnected");
    EXPECT_EQ(w.Lab_testpro[0]->text(), "AC I:");
    EXPECT_EQ(w.Lab_value[0]->text(), "0mA");
    EXPECT_EQ(w.Lab_testpro[1]->text(), "AC U:");
    EXPECT_EQ(w.Lab_value[1]->text(), "000.0V");
    EXPECT_EQ(w.DataGrid->model()->rowCount(), 2);
    EXPECT_EQ(w.DataGrid->model()->columnCount(), 7);
    EXPECT_EQ(w.DataGrid->model()->index(0, 0).data().toString(), "NO.");
    EXPECT_EQ(w.DataGrid->columnWidth(3), 73);
    EXPECT_EQ(w.DataGrid->rowHeight(1), 20);
    EXPECT_EQ(w.Lab_value[0]->font().pointSize(), 36);
    EXPECT_TRUE(w.Lab_value[0]->font().bold());
    EXPECT_TRUE(w.downloadProgressBar->isHidden());
    // The panel lies over the table and hides it.
    EXPECT_EQ(w.Frame_realtime->geometry(), QRect(64, 80, 553, 495));
    EXPECT_TRUE(w.Frame_realtime->geometry().contains(w.DataGrid->geometry()));
    EXPECT_GT(w.children().indexOf(w.Frame_realtime), w.children().indexOf(w.DataGrid));
    EXPECT_EQ(w.Button_read->geometry(), QRect(664, 56, 73, 57));
    EXPECT_EQ(w.Button_close->geometry(), QRect(664, 408, 73, 57));
}

TEST(MainWindow, ViewSwitchingRules) {
    WindowRig rig;
    MainWindow& w = rig.window;
    w.TabStrip1->setCurrentIndex(1);
    EXPECT_EQ(w.viewMode(), 2);
    EXPECT_TRUE(w.Frame_realtime->isHidden());
    EXPECT_TRUE(w.Button_read->isEnabled());
    EXPECT_TRUE(w.Button_clear->isEnabled());
    w.TabStrip1_Click(1); // the same tab again
    EXPECT_EQ(w.viewMode(), 2);
    EXPECT_TRUE(w.Button_clear->isEnabled());
    w.TabStrip1->setCurrentIndex(0);
    EXPECT_EQ(w.viewMode(), 1);
    EXPECT_FALSE(w.Frame_realtime->isHidden());
    EXPECT_FALSE(w.Button_read->isEnabled());
    EXPECT_FALSE(w.Button_clear->isEnabled());
    EXPECT_TRUE(w.Button_save->isEnabled());
}

TEST(MainWindow, ClearLaysTheTableOutAgainAndSurvivesViewChanges) {
    WindowRig rig;
    MainWindow& w = rig.window;
    auto& table = const_cast<RecordTable&>(w.recordTable());
    table.setRows(10);
    table.setCell(3, 1, "12A");
    w.TabStrip1->setCurrentIndex(1);
    w.TabStrip1->setCurrentIndex(0);
    w.TabStrip1->setCurrentIndex(1);
    EXPECT_EQ(w.DataGrid->model()->rowCount(), 10);
    EXPECT_EQ(w.DataGrid->model()->index(3, 1).data().toString(), "12A");
    w.Button_clear->click();
    EXPECT_EQ(w.DataGrid->model()->rowCount(), 2);
    EXPECT_EQ(w.DataGrid->model()->index(0, 0).data().toString(), "NO.");
    EXPECT_EQ(w.DataGrid->model()->index(3, 1).data().toString(), "");
}

TEST(MainWindow, HelpShowsTwoLinesWithTheExactTitle) {
    WindowRig rig;
    EXPECT_STREQ(MainWindow::kHelpText,
                 "Quorvane V1.0 20230203\r Please contact us for more information!\r");
    const auto box = rig.window.createHelpBox();
    EXPECT_EQ(box->windowTitle(), "Thank you for using our product.");
    EXPECT_EQ(box->text(), "Quorvane V1.0 20230203\n Please contact us for more information!");
    EXPECT_EQ(box->icon(), QMessageBox::Information);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
}

TEST(MainWindow, ReadDoesNothingInTheRealtimeViewOrWithoutAPort) {
    WindowRig rig;
    MainWindow& w = rig.window;
    w.Button_read->click();
    EXPECT_EQ(w.link().state(), LinkState::Scanning);
    w.TabStrip1->setCurrentIndex(1);
    EXPECT_EQ(w.link().polling(), Polling::KeepAlive);
    w.Button_read->click();
    EXPECT_EQ(w.link().state(), LinkState::Scanning) << "no port is open";
    EXPECT_TRUE(w.downloadProgressBar->isHidden());
}

TEST(MainWindow, ControlsCarryAccessibleNames) {
    WindowRig rig;
    MainWindow& w = rig.window;
    for (QToolButton* button :
         {w.Button_read, w.Button_save, w.Button_clear, w.Button_help, w.Button_close}) {
        EXPECT_FALSE(button->text().isEmpty());
        EXPECT_TRUE(button->accessibleName().isEmpty() ||
                    button->accessibleName() == button->text());
    }
    EXPECT_FALSE(w.DataGrid->accessibleName().isEmpty());
    EXPECT_FALSE(w.downloadProgressBar->accessibleName().isEmpty());
}

// Every caption of the status labels shows whole, in every font the window can fall back to: in
// a picture of the window, the text's ink ends before the label's edge, which lies inside the
// window.
TEST(MainWindow, StatusCaptionsShowWholeInEveryFontTheWindowMayUse) {
    WindowRig rig;
    MainWindow& w = rig.window;
    w.show();
    QStringList families;
    for (const QString& family : windowFontCandidates()) {
        if (QFontDatabase::families().contains(family)) {
            families << family;
        }
    }
    families << QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    const QString captions[] = {"COM status",    "unconnected",
                                "Connected",     "\u901A\u4FE1\u5931\u8D25",
                                "COM16Unviable", "COM16 Open"};
    for (const QString& family : families) {
        for (QLabel* label : {w.Lab_comsta, w.Lab_consta}) {
            const QFont font = label->font();
            QFont tried(family);
            tried.setPointSizeF(12);
            label->setFont(tried);
            for (const QString& caption : captions) {
                label->setText(caption);
                const QRect place = label->geometry();
                EXPECT_LE(place.right(), w.width() - 1) << "beyond the window's edge";
                EXPECT_LE(QFontMetrics(tried).horizontalAdvance(caption), place.width())
                    << family.toStdString() << ": " << caption.toStdString();
                const QImage shot = w.grab(place).toImage();
                int inkRight = -1;
                for (int x = 0; x < shot.width(); ++x) {
                    for (int y = 0; y < shot.height(); ++y) {
                        if (qGray(shot.pixel(x, y)) < 128) {
                            inkRight = x;
                        }
                    }
                }
                EXPECT_GE(inkRight, 0) << "nothing drawn";
                EXPECT_LT(inkRight, shot.width() - 1)
                    << family.toStdString() << ": " << caption.toStdString() << " cut off";
            }
            label->setFont(font);
        }
    }
}

} // namespace
