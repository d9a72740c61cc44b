// What the user sees after the faults a serial meter and a desktop can throw at the program:
// the real window, the real port adapter, talviren-sim on a pseudo-terminal.

#include "QtTestSupport.h"

#include "ui/MainWindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QSerialPort>
#include <QTabBar>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

const QString kLost = QString::fromUtf8("\u901A\u4FE1\u5931\u8D25");

// The window with a private ports folder and a scripted save dialog.
struct Scenario {
    Scenario() {
        ::setenv("XDG_CONFIG_HOME", qPrintable(config.path()), 1);
        auto scripted = std::make_unique<ScriptedDialog>();
        dialog = scripted.get();
        window = std::make_unique<MainWindow>(std::move(scripted));
        window->serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
        window->saveCommand().setInitialFolder(config.path());
    }
    bool connected(int timeoutMs = 12000) {
        return waitFor([this] { return handedOver(window->link().state()); }, timeoutMs);
    }
    // Fills the table as an earlier download would have.
    void earlierDownload() {
        auto& table = const_cast<RecordTable&>(window->recordTable());
        table.setRows(6);
        for (int r = 0; r < 6; ++r) {
            table.setCell(r, 1, "kept" + std::to_string(r));
        }
    }
    bool tableKept() const {
        const RecordTable& table = window->recordTable();
        if (table.rows() != 6) {
            return false;
        }
        for (int r = 0; r < 6; ++r) {
            if (table.cell(r, 1) != "kept" + std::to_string(r)) {
                return false;
            }
        }
        return true;
    }
    void read() {
        window->TabStrip1->setCurrentIndex(1);
        window->Button_read->click();
    }
    // A meter on COM1 with the given options, a table from an earlier download, and "Read".
    bool startDownload(QStringList simOptions) {
        if (!sim.start(QStringList{"--port", "1"} + simOptions) || !connected()) {
            return false;
        }
        earlierDownload();
        read();
        return true;
    }
    bool blockRequested() {
        return waitFor([this] { return window->link().state() == LinkState::BlockPending; }, 3000);
    }

    QTemporaryDir config;
    SimProcess sim{config.path()};
    ScriptedDialog* dialog = nullptr;
    std::unique_ptr<MainWindow> window;
};

TEST(Faults, CablePulledHalfwayThroughTheBlockKeepsTheTableAndRecovers) {
    Scenario s;
    ASSERT_TRUE(s.startDownload({"--records", "1000"}));
    ASSERT_TRUE(s.blockRequested());
    // Part of the 7,000 bytes are in.
    ASSERT_TRUE(waitFor([&] { return s.window->downloadProgressBar->value() >= 150; }, 5000));
    s.sim.kill();
    ASSERT_TRUE(waitFor([&] { return s.window->Lab_consta->text() == kLost; }, 4000));
    EXPECT_TRUE(s.tableKept());
    EXPECT_FALSE(s.window->serialPort().isOpen());
    const double before = cpuSeconds();
    waitFor([] { return false; }, 1000);
    EXPECT_LT(cpuSeconds() - before, 0.3) << "idle while the meter is gone";
    // The meter comes back on the same port.
    SimProcess again(s.config.path());
    ASSERT_TRUE(again.start({"--port", "1"}));
    ASSERT_TRUE(waitFor([&] { return s.window->Lab_consta->text() == "Connected"; }, 12000));
    EXPECT_TRUE(s.tableKept());
}

TEST(Faults, CablePulledRightAfterReadLosesNothing) {
    Scenario s;
    ASSERT_TRUE(s.startDownload({"--records", "20"}));
    s.sim.kill();
    ASSERT_TRUE(waitFor([&] { return s.window->Lab_consta->text() == kLost; }, 4000));
    EXPECT_TRUE(s.tableKept());
    EXPECT_EQ(s.window->link().state(), LinkState::Scanning);
}

TEST(Faults, BlockThatStopsHalfwayIsDeclaredLostAndTheLinkComesBack) {
    Scenario s;
    ASSERT_TRUE(s.startDownload({"--records", "40", "--cut-block"}));
    ASSERT_TRUE(waitFor([&] { return s.window->Lab_consta->text() == kLost; }, 6000));
    EXPECT_TRUE(s.tableKept());
    ASSERT_TRUE(waitFor([&] { return s.window->Lab_consta->text() == "Connected"; }, 12000));
}

TEST(Faults, GarbageRepliesNeverConnectAndTheScanGoesOn) {
    Scenario s;
    ASSERT_TRUE(s.sim.start({"--port", "1", "--garbage"}));
    ASSERT_TRUE(waitFor([&] { return s.window->Lab_comsta->text() == "COM2Unviable"; }, 3000));
    waitFor([&] { return s.window->Lab_consta->text() == kLost; }, 4000);
    EXPECT_EQ(s.window->Lab_consta->text(), kLost);
    EXPECT_EQ(s.window->link().state(), LinkState::Scanning);
}

TEST(Faults, PortHeldByAnotherProgramIsUnviableUntilReleased) {
    Scenario s;
    ASSERT_TRUE(s.sim.start({"--port", "1"}));
    QSerialPort holder;
    holder.setPortName(s.sim.devicePath());
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    ASSERT_TRUE(waitFor([&] { return s.window->Lab_comsta->text() == "COM1Unviable"; }, 3000));
    EXPECT_TRUE(s.window->Lab_comsta->toolTip().contains(s.sim.devicePath()));
    EXPECT_EQ(s.window->link().state(), LinkState::Scanning);
    holder.close();
    ASSERT_TRUE(waitFor([&] { return s.window->Lab_consta->text() == "Connected"; }, 12000));
    EXPECT_EQ(s.window->Lab_comsta->text(), "COM1 Open");
}

TEST(Faults, PinnedLinkPointingAtNothingIsUnviableWithTheReason) {
    Scenario s;
    const auto folder = std::filesystem::path(s.config.path().toStdString()) / "talviren" / "ports";
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink("/dev/talviren-no-such-device", folder / "COM1");
    ASSERT_TRUE(waitFor([&] { return s.window->Lab_comsta->text() == "COM1Unviable"; }, 2000));
    EXPECT_TRUE(s.window->Lab_comsta->toolTip().contains("No such file"));
}

TEST(Faults, DeviceThatDeniesPermissionIsUnviableWithTheHint) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root is never denied";
    }
    Scenario s;
    const auto folder = std::filesystem::path(s.config.path().toStdString()) / "talviren" / "ports";
    std::filesystem::create_directories(folder);
    const auto device = folder / "locked-device";
    QFile(QString::fromStdString(device.string())).open(QIODevice::WriteOnly);
    std::filesystem::permissions(device, std::filesystem::perms::none);
    std::filesystem::create_symlink(device, folder / "COM1");
    ASSERT_TRUE(waitFor([&] { return s.window->Lab_comsta->text() == "COM1Unviable"; }, 2000));
    EXPECT_TRUE(s.window->Lab_comsta->toolTip().contains("dialout"));
}

TEST(Faults, SaveAndClearDuringADownload) {
    Scenario s;
    ASSERT_TRUE(s.startDownload({"--records", "300"}));
    ASSERT_TRUE(s.blockRequested());
    s.dialog->answers.push_back({s.config.filePath("during.txt"), 1});
    s.window->Button_save_Click();
    EXPECT_TRUE(QFile::exists(s.config.filePath("during.txt")));
    EXPECT_TRUE(s.tableKept()) << "saving reads the table, never changes it";
    s.window->Button_clear->click();
    EXPECT_EQ(s.window->recordTable().rows(), 2);
    ASSERT_TRUE(waitFor([&] { return s.window->recordTable().rows() == 600; }, 6000));
    EXPECT_EQ(s.window->recordTable().cell(598, 0), "NO:300");
    EXPECT_EQ(s.window->Lab_consta->text(), "Connected");
    EXPECT_TRUE(QDir(s.config.path()).entryList({"*.txt.*"}).isEmpty()) << "no half-written file";
}

TEST(Faults, CloseDuringADownloadClosesThePortAndDecodesNothing) {
    Scenario s;
    ASSERT_TRUE(s.startDownload({"--records", "300"}));
    ASSERT_TRUE(s.blockRequested());
    s.window->Button_close->click();
    EXPECT_FALSE(s.window->serialPort().isOpen());
    waitFor([] { return false; }, 3000);
    EXPECT_TRUE(s.tableKept());
}

} // namespace
