#include "QtTestSupport.h"
#include "RecordBlocks.h"

#include "export/TextFiles.h"
#include "records/RecordDecoder.h"
#include "save/SaveCommand.h"
#include "sim/MeterSimulator.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTabBar>

#include <gtest/gtest.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

// The save command over a scripted dialog, with failures counted instead of shown.
struct SaveRig {
    SaveRig() {
        save.setInitialFolder(folder.path());
        sources.grabWindow = [] {
            QImage image(40, 30, QImage::Format_RGB32);
            image.fill(Qt::darkGreen);
            return image;
        };
        sources.captions = [this] { return captions; };
        talviren::testing::showBlock(table, sim::MeterSimulator::makeStoredBlock(12, 4), 12, ".");
        sources.table = &table;
    }
    QString path(const char* name) const { return folder.filePath(QString::fromLatin1(name)); }
    void answer(const QString& path, int type) { dialog.answers.push_back({path, type}); }

    QTemporaryDir folder;
    ScriptedDialog dialog;
    std::vector<SaveOutcome> failures;
    SaveCommand save{dialog, [this](const SaveOutcome& o) { failures.push_back(o); }};
    SaveCommand::Sources sources;
    RealtimeCaptions captions{{"AC I: ", "R: "}, {"12.34A", "1.228k\u03A9"}};
    RecordTable table;
};

TEST(Save, RealtimePictureByExtension) {
    SaveRig rig;
    struct Case {
        const char* name;
        QByteArray magic;
    };
    for (const Case& c : {Case{"a.jpg", "\xFF\xD8\xFF"}, Case{"a.png", "\x89PNG"},
                          Case{"a.bmp", "BM"}, Case{"a.pic", "\xFF\xD8\xFF"}}) {
        rig.answer(rig.path(c.name), 1);
        EXPECT_EQ(rig.save.Button_save_Click(1, rig.sources).result, SaveOutcome::Saved);
        EXPECT_TRUE(readAll(rig.path(c.name)).startsWith(c.magic)) << c.name;
        EXPECT_FALSE(QImage(rig.path(c.name)).isNull());
    }
    EXPECT_TRUE(rig.failures.empty());
    EXPECT_EQ(rig.dialog.requests[0].filter,
              QString::fromUtf8("jpg\u683C\u5F0F (*.jpg)|*.jpg|txt\u683C\u5F0F (*.txt)|*.txt|"));
    EXPECT_EQ(rig.dialog.requests[0].fileName, "TALVIREN");
    EXPECT_EQ(rig.dialog.requests[0].defaultExt, ".jpg");
    EXPECT_EQ(rig.dialog.requests[0].initDir, rig.folder.path());
}

TEST(Save, RealtimeTextIsTwoLinesByteForByte) {
    SaveRig rig;
    rig.answer(rig.path("live.txt"), 2);
    rig.save.Button_save_Click(1, rig.sources);
    EXPECT_EQ(readAll(rig.path("live.txt")),
              QByteArray("     AC I:      12.34A\r\n     R:      1.228k\xCE\xA9\r\n"));
}

TEST(Save, CancelWritesNothingAndSaysNothing) {
    SaveRig rig;
    rig.answer(QString(), 2);
    rig.answer(QString(), 2);
    EXPECT_EQ(rig.save.Button_save_Click(1, rig.sources).result, SaveOutcome::Cancelled);
    EXPECT_EQ(rig.save.Button_save_Click(2, rig.sources).result, SaveOutcome::Cancelled);
    EXPECT_TRUE(QDir(rig.folder.path()).isEmpty());
    EXPECT_TRUE(rig.failures.empty());
    EXPECT_EQ(rig.dialog.selectedTypeIndex(), 0) << "Cancel keeps the type of before";
}

TEST(Save, PreselectedTypeCarriesAcrossBothViews) {
    SaveRig rig;
    rig.answer(rig.path("1.txt"), 2); // realtime: text
    rig.answer(rig.path("2.xls"), 2); // record: workbook (pre-selected after the text above)
    rig.answer(rig.path("3.jpg"), 1); // realtime: picture
    rig.answer(rig.path("4.txt"), 1); // record: text
    rig.save.Button_save_Click(1, rig.sources);
    rig.save.Button_save_Click(2, rig.sources);
    rig.save.Button_save_Click(1, rig.sources);
    rig.save.Button_save_Click(2, rig.sources);
    ASSERT_EQ(rig.dialog.requests.size(), 4u);
    EXPECT_EQ(rig.dialog.typeIndexBefore, (std::vector<int>{0, 2, 2, 1}));
    EXPECT_EQ(rig.dialog.requests[0].defaultExt, ".jpg");
    EXPECT_EQ(rig.dialog.requests[1].defaultExt, ".xls");
    EXPECT_EQ(rig.dialog.requests[2].defaultExt, ".txt");
    EXPECT_EQ(rig.dialog.requests[3].defaultExt, ".txt");
    EXPECT_EQ(rig.dialog.requests[1].filter,
              QString::fromUtf8("txt\u683C\u5F0F (*.txt)|*.txt|excel\u683C\u5F0F (*.xls)|*.xls|"));
    EXPECT_TRUE(readAll(rig.path("2.xls")).startsWith("\xD0\xCF\x11\xE0"));
    EXPECT_EQ(readAll(rig.path("4.txt")).toStdString(), recordTableText(rig.table));
    EXPECT_TRUE(rig.failures.empty());
}

TEST(Save, RecordSaveReplacesAnExistingFile) {
    SaveRig rig;
    QFile old(rig.path("r.txt"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(10000, 'x'));
    old.close();
    rig.answer(rig.path("r.txt"), 1);
    rig.save.Button_save_Click(2, rig.sources);
    EXPECT_EQ(readAll(rig.path("r.txt")).toStdString(), recordTableText(rig.table));
}

TEST(Save, FailedSaveReportsOnceAndKeepsTheOldFile) {
    SaveRig rig;
    rig.answer(rig.path("missing/r.txt"), 1);
    rig.answer(rig.path("missing/r.xls"), 2);
    rig.answer(rig.path("missing/live.jpg"), 1);
    EXPECT_EQ(rig.save.Button_save_Click(2, rig.sources).result, SaveOutcome::Failed);
    EXPECT_EQ(rig.save.Button_save_Click(2, rig.sources).result, SaveOutcome::Failed);
    EXPECT_EQ(rig.save.Button_save_Click(1, rig.sources).result, SaveOutcome::Failed);
    ASSERT_EQ(rig.failures.size(), 3u);
    for (const SaveOutcome& failure : rig.failures) {
        EXPECT_TRUE(failure.path.contains("missing"));
        EXPECT_FALSE(failure.error.isEmpty());
    }
    if (::geteuid() != 0) {
        QFile old(rig.path("keep.txt"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        QFile::setPermissions(rig.folder.path(), QFile::ReadOwner | QFile::ExeOwner);
        rig.answer(rig.path("keep.txt"), 1);
        EXPECT_EQ(rig.save.Button_save_Click(2, rig.sources).result, SaveOutcome::Failed);
        QFile::setPermissions(rig.folder.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        EXPECT_EQ(readAll(rig.path("keep.txt")), "old");
    }
}

TEST(Save, WindowSavesItsOwnViewAndCaptions) {
    auto dialog = std::make_unique<ScriptedDialog>();
    ScriptedDialog* answers = dialog.get();
    QTemporaryDir folder;
    MainWindow w(std::move(dialog));
    w.serialPort().setDeviceLister([] { return std::vector<std::string>{}; });
    w.saveCommand().setInitialFolder(folder.path());
    answers->answers.push_back({folder.filePath("live.txt"), 2});
    answers->answers.push_back({folder.filePath("table.txt"), 1});
    answers->answers.push_back({folder.filePath("shot.png"), 1});
    w.Button_save_Click();
    w.TabStrip1->setCurrentIndex(1);
    w.Button_save_Click();
    w.TabStrip1->setCurrentIndex(0);
    w.Button_save_Click();
    EXPECT_EQ(readAll(folder.filePath("live.txt")),
              QByteArray("     AC I:     0mA\r\n     AC U:     000.0V\r\n"));
    EXPECT_EQ(readAll(folder.filePath("table.txt")),
              QByteArray("NO.") + QByteArray(56, ' ') + "\r\n" + QByteArray(58, ' '));
    const QImage shot(folder.filePath("shot.png"));
    EXPECT_EQ(shot.size(), w.size());
}

} // namespace
