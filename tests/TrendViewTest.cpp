// The Trend view on its own, fed readings as the session hands them out.

#include "QtTestSupport.h"
#include "WorkbookReadBack.h"

#include "TimedReadings.h"
#include "log/CsvLog.h"
#include "measure/ValueText.h"
#include "ui/Settings.h"
#include "ui/StatisticsModel.h"
#include "ui/TrendCurve.h"
#include "ui/TrendView.h"

#include <QDir>
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QTableView>
#include <QToolButton>
#include <QWheelEvent>
#include <QXmlStreamReader>

#include <random>

#include <gtest/gtest.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

constexpr std::int64_t kStart = 1'765'000'000'000;

struct TrendRig {
    TrendRig() {
        loadRunSettings(settings);
        fleet.setMeters({&meter});
        view.setNotify([this](const QString& title, const QString& text) {
            messages.push_back(title + ": " + text);
        });
        view.setDecimalSeparator(".");
        view.setInitialFolder(folder.path());
        view.resize(553, 495);
        view.show();
    }
    // A live reading `ticks` 500 ms ticks after the start.
    TimedReading feed(const MeterReading& raw, int ticks) {
        TimedReading r;
        static_cast<DecodedReading&>(r) = decodeReading(raw, ".");
        r.wallMs = kStart + ticks * 500LL;
        r.steadyNs = ticks * 500'000'000LL;
        live.add(r);
        fed.push_back(r);
        return r;
    }
    QString cell(int row, int column) const {
        const QAbstractItemModel& model = *view.statisticsTable->model();
        return model.data(model.index(row, column)).toString();
    }
    QString rowName(int row) const {
        return view.statisticsTable->model()->headerData(row, Qt::Vertical).toString();
    }
    int rows() const { return view.statisticsTable->model()->rowCount(); }
    void settle() {
        waitFor([] { return false; }, 50);
    }

    QTemporaryDir folder;
    ScriptedDialog saveDialog;
    ScriptedOpenDialog openDialog;
    RunSettings settings;
    RunSettingsKeeper keeper{settings};
    Meter meter{defaultMeters().front()};
    Recording& live = meter.recording();
    FleetCore fleet{settings};
    TrendView view{fleet, saveDialog, openDialog};
    std::vector<QString> messages;
    std::vector<TimedReading> fed;
};

// Ten readings of function 1, a pause, an overloaded current, then function 3.
void feedAScene(TrendRig& rig) {
    for (int t = 0; t < 10; ++t) {
        rig.feed({1, 1200 + t, 1, 2300 + t, 0}, t);
    }
    rig.feed({1, 10001, 5, 2310, 0}, 14); // after a pause of four ticks
    rig.feed({1, 1250, 1, 2311, 0}, 15);
    for (int t = 16; t < 20; ++t) {
        rig.feed({3, 1300, 1, 1228 + t, 0}, t);
    }
}

TEST(TrendView, ChartReadsTheHistoryWithGapsOverloadsAndTheLatestFunction) {
    TrendRig rig;
    feedAScene(rig);
    TrendChart& chart = *rig.view.chart;
    const TrendSeries& current = *chart.currentCurve()->series();
    ASSERT_EQ(current.size(), 16u);
    EXPECT_EQ(current.key(0), kStart / 1000.0);
    EXPECT_EQ(current.sample(3).state, TrendSeries::Sample::Value);
    EXPECT_EQ(current.sample(3).value, 12.03);
    EXPECT_FALSE(current.breakBefore(9));
    EXPECT_TRUE(current.breakBefore(10)) << "a pause of more than two ticks";
    EXPECT_EQ(current.sample(10).state, TrendSeries::Sample::Overload);
    EXPECT_FALSE(current.breakBefore(11));

    // The lower plot shows the latest reading's quantity, in kilo-ohms.
    EXPECT_EQ(chart.secondKind(), QuantityKind::Resistance);
    EXPECT_EQ(chart.secondCurve()->valueAxis()->label(), "R (k\u03A9)");
    const TrendSeries& second = *chart.secondCurve()->series();
    EXPECT_EQ(second.sample(0).state, TrendSeries::Sample::Missing) << "AC U is not drawn here";
    EXPECT_EQ(second.sample(12).value, 1.244);

    chart.replot();
    // Lines: readings 0-9, then 11 (the overload between), then the last five; one mark.
    EXPECT_EQ(chart.currentCurve()->lastDrawn().lines, 2);
    EXPECT_EQ(chart.currentCurve()->lastDrawn().overloads, 1);
    EXPECT_EQ(chart.secondCurve()->lastDrawn().lines, 1);
    EXPECT_FALSE(chart.currentCurve()->lastDrawn().envelope);
}

TEST(TrendView, ManyReadingsDrawAsOneEnvelopeAPixelColumnWide) {
    TrendRig rig;
    for (int t = 0; t < 40000; ++t) {
        const int skip = t >= 20000 ? 4 : 0; // a pause halfway
        rig.feed({1, t == 30000 ? 10001 : 1000 + t % 300,
                  static_cast<std::uint8_t>(t == 30000 ? 5 : 1), 2300, 0},
                 t + skip);
    }
    rig.view.spanButtons[4]->click(); // all of it
    rig.view.chart->replot();
    const TrendCurve::Drawn& drawn = rig.view.chart->currentCurve()->lastDrawn();
    EXPECT_TRUE(drawn.envelope);
    EXPECT_EQ(drawn.lines, 3) << "the pause and the overload break the line";
    EXPECT_EQ(drawn.overloads, 1);
    EXPECT_LE(drawn.points, 4 * rig.view.chart->width()) << "bounded by pixels, not readings";
    // Each reading lands in its own pixel column.
    const QCPAxis* time = rig.view.chart->timeAxis();
    EXPECT_NEAR(drawn.firstX, time->coordToPixel(rig.fed.front().wallMs / 1000.0), 1.0);
    EXPECT_NEAR(drawn.lastX, time->coordToPixel(rig.fed.back().wallMs / 1000.0), 1.0);
    EXPECT_NEAR(drawn.firstOverloadX, time->coordToPixel(rig.fed[30000].wallMs / 1000.0), 1.0);
    bool found = false;
    const QCPRange values =
        rig.view.chart->currentCurve()->getValueRange(found, QCP::sdBoth, QCPRange(0, 1e12));
    EXPECT_TRUE(found);
    EXPECT_EQ(values.lower, 10.0);
    EXPECT_EQ(values.upper, 12.99);
}

TEST(TrendView, FollowsUntilTheTimeAxisIsMovedAndLiveFollowsAgain) {
    TrendRig rig;
    feedAScene(rig);
    TrendChart& chart = *rig.view.chart;
    EXPECT_TRUE(chart.following());
    EXPECT_TRUE(rig.view.liveButton->isChecked());
    rig.view.spanButtons[0]->click(); // 1 min
    const double newest = (kStart + 19 * 500) / 1000.0;
    EXPECT_NEAR(chart.timeAxis()->range().upper, newest + 60 * 0.02, 0.01);
    EXPECT_NEAR(chart.timeAxis()->range().size(), 60 * 1.02, 0.01);
    QWheelEvent wheel(QPointF(200, 100), chart.mapToGlobal(QPointF(200, 100)), {}, {0, 120},
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&chart, &wheel);
    EXPECT_FALSE(chart.following());
    EXPECT_FALSE(rig.view.liveButton->isChecked());
    EXPECT_LT(chart.timeAxis()->range().size(), 60) << "the wheel zoomed in";
    const QCPRange held = chart.timeAxis()->range();
    rig.feed({3, 1300, 1, 1500, 0}, 20);
    EXPECT_EQ(chart.timeAxis()->range(), held) << "no scrolling while not following";
    rig.view.liveButton->click();
    EXPECT_TRUE(chart.following());
    EXPECT_NEAR(chart.timeAxis()->range().upper, newest + 0.5 + 60 * 0.02, 0.01);
}

TEST(TrendView, StatisticsShowTheTextsOfTheReadingsAndResetKeepsTheHistory) {
    TrendRig rig;
    feedAScene(rig);
    rig.feed({2, 85, 0, 10001, 1}, 20); // an overloaded DC voltage
    rig.settle();
    QTableView& table = *rig.view.statisticsTable;
    EXPECT_EQ(table.accessibleName(), "Statistics");
    QStringList headers;
    for (int c = 0; c < table.model()->columnCount(); ++c) {
        headers << table.model()->headerData(c, Qt::Horizontal).toString();
    }
    EXPECT_EQ(headers, (QStringList{"Last", "Min", "Max", "Mean", "Count", "OL"}));
    ASSERT_EQ(rig.rows(), 5);
    EXPECT_EQ(rig.rowName(0), "AC I");
    EXPECT_EQ(rig.rowName(1), "AC U");
    EXPECT_EQ(rig.rowName(2), "DC U");
    EXPECT_EQ(rig.rowName(3), "R");
    EXPECT_EQ(rig.rowName(4), "S") << "apparent power of the AC voltage readings";
    // AC I: 12 to 12.09 A, 12.5 A, 13 A four times, 85 mA; one overload.
    EXPECT_EQ(rig.cell(0, 0), "85mA");
    EXPECT_EQ(rig.cell(0, 1), "85mA");
    EXPECT_EQ(rig.cell(0, 2), "13A");
    const double mean = (120.45 + 12.5 + 52 + 0.085) / 16;
    EXPECT_EQ(rig.cell(0, 3), QString::number(mean, 'f', 4) + "A");
    EXPECT_EQ(rig.cell(0, 4), "16");
    EXPECT_EQ(rig.cell(0, 5), "1");
    EXPECT_EQ(rig.cell(1, 1), "230V");
    EXPECT_EQ(rig.cell(1, 2), "231.1V");
    EXPECT_EQ(rig.cell(2, 0), "OLV");
    EXPECT_EQ(rig.cell(2, 3), "") << "no mean of overloads only";
    EXPECT_EQ(rig.cell(2, 5), "1");
    EXPECT_EQ(rig.cell(3, 1), "1.244k\u03A9");
    EXPECT_EQ(rig.cell(3, 3), "1.2455k\u03A9");
    rig.view.resetButton->click();
    EXPECT_EQ(rig.rows(), 0);
    EXPECT_EQ(rig.live.history().size(), 17u) << "the history stays";
    rig.feed({1, 5, 1, 10, 0}, 21);
    rig.settle();
    ASSERT_EQ(rig.rows(), 3);
    EXPECT_EQ(rig.cell(0, 4), "1");
    EXPECT_EQ(rig.cell(2, 0), "0.05VA");
}

TEST(TrendView, PowerRowStatisticsAndEnergyFollowThePowerFactorLiveAndInALog) {
    TrendRig rig;
    for (int t = 0; t < 3; ++t) {
        rig.feed({2, 1000, 1, 120, 0}, t); // DC voltage: no power
    }
    rig.settle();
    EXPECT_EQ(rig.view.chart->powerCurve(), nullptr) << "no power row without AC voltage";
    EXPECT_TRUE(rig.view.energyLabel->text().isEmpty());
    // 10 A at 230 V for 2 s (4 intervals), an overload, then 20 A at 230 V for 1 s after a gap.
    for (int t = 3; t < 8; ++t) {
        rig.feed({1, 1000, 1, 2300, 0}, t);
    }
    rig.feed({1, 10001, 5, 2300, 0}, 8);
    for (int t = 12; t < 15; ++t) {
        rig.feed({1, 2000, 1, 2300, 0}, t);
    }
    rig.settle();
    TrendChart& chart = *rig.view.chart;
    ASSERT_NE(chart.powerCurve(), nullptr);
    EXPECT_EQ(chart.powerCurve()->valueAxis()->label(), "S (VA)");
    EXPECT_EQ(chart.powerCurve()->series()->sample(4).value, 2300.0);
    chart.replot();
    EXPECT_EQ(chart.powerCurve()->lastDrawn().lines, 2);
    EXPECT_EQ(chart.powerCurve()->lastDrawn().overloads, 1);
    ASSERT_EQ(rig.rows(), 4);
    EXPECT_EQ(rig.rowName(3), "S");
    const QString sRow[6] = {"4600VA", "2300VA", "4600VA", "3162.50VA", "8", "1"};
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(rig.cell(3, c), sRow[c]) << c;
    }
    // 2300 VA × 2 s + 4600 VA × 1 s = 9200 VA·s = 2.556 VAh; the mean of 5 × 2300 and 3 × 4600.
    const QString since = QDateTime::fromMSecsSinceEpoch(kStart).toString("HH:mm:ss");
    const QString sinceDay = QDateTime::fromMSecsSinceEpoch(kStart).toString("yyyy-MM-dd ");
    EXPECT_EQ(rig.view.energyLabel->text(), "E 2.556 VAh since " + sinceDay + since);

    for (const char* bad : {"0", "1.5", "-1", "abc"}) {
        EXPECT_FALSE(rig.view.setPowerFactorText(bad)) << bad;
        EXPECT_EQ(rig.view.powerFactorProblem->text().toStdString(),
                  "PF " + powerFactorRefusal(bad));
        EXPECT_FALSE(rig.view.powerFactor()) << bad;
    }
    rig.view.powerFactorEdit->setText("0.5");
    QTest::keyClick(rig.view.powerFactorEdit, Qt::Key_Return);
    EXPECT_EQ(rig.view.powerFactor(), PowerFactor{500'000});
    EXPECT_TRUE(rig.view.powerFactorProblem->isHidden());
    EXPECT_EQ(chart.powerCurve()->valueAxis()->label(), "P (W) at PF 0.5");
    EXPECT_EQ(chart.powerCurve()->series()->sample(4).value, 1150.0);
    ASSERT_EQ(rig.rows(), 5);
    EXPECT_EQ(rig.rowName(4), "P (PF 0.5)");
    EXPECT_EQ(rig.cell(4, 1), "1150W");
    EXPECT_EQ(rig.cell(4, 3), "1581.25W");
    EXPECT_EQ(rig.view.energyLabel->text(),
              "E 2.556 VAh, 1.278 Wh at PF 0.5 since " + sinceDay + since);
    {
        // Kept for the next window.
        TrendRig next;
        EXPECT_EQ(next.view.powerFactor(), PowerFactor{500'000});
        EXPECT_EQ(next.view.powerFactorEdit->text(), "0.5");
    }

    // A log of the same readings gives the same, computed from its columns.
    const QString path = rig.folder.filePath("power.csv");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(csvlog::kHeader.data(), static_cast<qint64>(csvlog::kHeader.size()));
        file.write("\n");
        for (const TimedReading& r : rig.fed) {
            file.write(csvlog::line(r).c_str());
        }
    }
    rig.view.resetButton->click();
    EXPECT_TRUE(rig.view.energyLabel->text().isEmpty());
    rig.openDialog.answers.push_back({path});
    rig.view.openButton->click();
    ASSERT_TRUE(rig.view.showingLog());
    rig.settle();
    EXPECT_EQ(rig.view.energyLabel->text(),
              "E 2.556 VAh, 1.278 Wh at PF 0.5 since " + sinceDay + since);
    EXPECT_EQ(rig.cell(3, 3), "3162.50VA");
    EXPECT_TRUE(rig.view.setPowerFactorText(""));
    EXPECT_FALSE(rig.view.powerFactor());
    EXPECT_EQ(rig.rows(), 4) << "no P without a power factor";
    EXPECT_EQ(chart.powerCurve()->valueAxis()->label(), "S (VA)");
}

// However short the rows (three of them, a banner above), no two tick labels of the value axes
// touch, within a row or across rows, and none is cut off by the chart's edge.
TEST(TrendView, TickLabelsNeverTouchInShortRows) {
    struct Case {
        std::uint8_t function; // 1: a power row as well
        bool banner;
        int height;
    };
    for (const Case& c :
         {Case{2, false, 495}, Case{1, false, 495}, Case{1, true, 495}, Case{1, true, 380}}) {
        TrendRig rig;
        rig.view.resize(553, c.height);
        for (int t = 0; t < 40; ++t) {
            rig.feed({c.function, 100 * (t % 16), 1, 2290 + t % 7, 0}, t); // 0-15 A, 229-235 V
        }
        if (c.banner) {
            rig.view.alarmBanner->setText("\u26A0 over: current 15A > 10A\n\u26A0 mains: U");
            rig.view.alarmBanner->show();
        }
        rig.settle();
        TrendChart& chart = *rig.view.chart;
        chart.replot();
        rig.settle();
        ASSERT_EQ(chart.axisRects().size(), c.function == 1 ? 3 : 2);
        std::vector<QRectF> boxes;
        for (QCPAxisRect* rect : chart.axisRects()) {
            QCPAxis* axis = rect->axis(QCPAxis::atLeft);
            const QFontMetricsF metrics(axis->tickLabelFont());
            const QVector<double> ticks = axis->tickVector();
            const QVector<QString> labels = axis->tickVectorLabels();
            EXPECT_GE(ticks.size(), 1) << "a row without a single label";
            for (int i = 0; i < ticks.size(); ++i) {
                const double y = axis->coordToPixel(ticks[i]);
                const double width = metrics.horizontalAdvance(labels[i]);
                boxes.emplace_back(rect->left() - width, y - metrics.height() / 2, width,
                                   metrics.height());
            }
        }
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_TRUE(QRectF(chart.rect()).contains(boxes[i]))
                << "cut off: row height " << c.height << ", label " << i;
            for (std::size_t j = i + 1; j < boxes.size(); ++j) {
                EXPECT_FALSE(boxes[i].intersects(boxes[j]))
                    << "function " << int(c.function) << (c.banner ? ", banner" : "") << ", height "
                    << c.height << ": labels " << i << " and " << j;
            }
        }
    }
}

TEST(TrendView, LoggingAppendsEveryLiveReadingAndCancelLogsNothing) {
    TrendRig rig;
    rig.saveDialog.answers.push_back({QString(), 1}); // Cancel
    rig.view.logButton->click();
    EXPECT_FALSE(rig.view.logButton->isChecked());
    EXPECT_EQ(rig.live.log(), nullptr);
    EXPECT_EQ(rig.saveDialog.requests.back().initDir, rig.folder.path());

    const QString path = rig.folder.filePath("log.csv");
    rig.saveDialog.answers.push_back({path, 1});
    rig.view.logButton->click();
    ASSERT_TRUE(rig.view.logButton->isChecked());
    feedAScene(rig);
    rig.settle();
    EXPECT_EQ(rig.view.logLabel->text(), "log.csv: 16 lines");
    // Each line is in the file as soon as the reading arrived, without a close.
    QString expected = QString::fromUtf8(csvlog::kHeader.data(), csvlog::kHeader.size()) + "\n";
    for (const TimedReading& r : rig.fed) {
        expected += QString::fromStdString(csvlog::line(r));
    }
    EXPECT_EQ(QString::fromUtf8(readAll(path)), expected);
    rig.view.logButton->click(); // stops
    EXPECT_EQ(rig.live.log(), nullptr);
    rig.feed({1, 5, 1, 10, 0}, 30);
    EXPECT_EQ(QString::fromUtf8(readAll(path)), expected) << "nothing after the log was closed";
    EXPECT_TRUE(rig.messages.empty());
}

TEST(TrendView, AFullDiskPutsTheLogBehindInRedUntilThereIsRoomAgain) {
    TrendRig rig;
    const QString small = rig.folder.filePath("small");
    QDir().mkpath(small);
    if (!mountSmallFileSystem(small, 16)) {
        GTEST_SKIP() << "no file system of our own can be mounted here";
    }
    const QString filler = small + "/filler";
    {
        QFile file(filler);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, 'x'));
    }
    const QString path = small + "/log.csv";
    rig.saveDialog.answers.push_back({path, 1});
    rig.view.logButton->click();
    int t = 0;
    while (!rig.live.log()->behind() && t < 1000) {
        rig.feed({2, 1234, 1, 310, 1}, t++);
        rig.live.tickLog(t * 500'000'000LL);
    }
    for (int more = 0; more < 20; ++more) {
        rig.feed({2, 1234, 1, 310, 1}, t++);
    }
    rig.settle();
    EXPECT_TRUE(rig.view.logButton->isChecked()) << "the log goes on";
    EXPECT_TRUE(rig.messages.empty()) << "no box in the way";
    const QString shown = rig.view.logLabel->text();
    EXPECT_TRUE(shown.contains(" waiting") && shown.contains("No space left on device"))
        << shown.toStdString();
    EXPECT_TRUE(rig.view.logLabel->styleSheet().contains("#c62828"));

    QFile::remove(filler);
    for (int tick = 0; tick < 100 && rig.live.log()->behind(); ++tick) {
        rig.live.tickLog((t + 20 + tick) * 500'000'000LL);
    }
    rig.settle();
    EXPECT_FALSE(rig.live.log()->behind());
    EXPECT_FALSE(rig.view.logLabel->text().contains("waiting"));
    const QList<QByteArray> lines = readAll(path).split('\n');
    ASSERT_EQ(lines.size(), t + 2) << "the header, every reading once, the last line break";
    const QByteArray line = QByteArray::fromStdString(csvlog::line(rig.fed[0]));
    EXPECT_EQ(lines[1] + '\n', line);
}

TEST(TrendView, OpeningALogShowsItUntilLiveAndSaysHowManyLinesWereSkipped) {
    TrendRig rig;
    feedAScene(rig);
    const QString path = rig.folder.filePath("old.csv");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("time,function,name1,text1,name2,text2,value1,value2\n"
               "2026-12-07T10:00:00.000,1,AC I,12.34A,AC U,231.3V,12.34,231.3\n"
               "2026-12-07T10:00:00.500,1,AC I,12.34A,AC U,231.3V,12.34\n"
               "2026-12-07T10:00:01.000,2,AC I,\"0,5A\",DC U,-31V,0.5,-31\n"
               "not a reading at all\n"
               "2026-12-07T10:00:01.500,2,AC I,0.5A,DC U,OLV,0.5,\n");
    file.close();
    rig.openDialog.answers.push_back({path});
    rig.view.openButton->click();
    ASSERT_TRUE(rig.view.showingLog());
    EXPECT_EQ(rig.view.sourceLabel->text(), "old.csv: 3 readings");
    ASSERT_EQ(rig.messages.size(), 1u);
    EXPECT_TRUE(rig.messages[0].contains("2 lines of old.csv")) << rig.messages[0].toStdString();
    EXPECT_EQ(rig.view.chart->currentCurve()->series()->size(), 3u);
    EXPECT_EQ(rig.view.chart->secondKind(), QuantityKind::DcVoltage);
    EXPECT_FALSE(rig.view.chart->following());
    rig.settle();
    EXPECT_EQ(rig.rowName(0), "AC I");
    EXPECT_EQ(rig.cell(0, 1), "0,5A") << "the texts as they were logged";
    EXPECT_EQ(rig.cell(2, 5), "1");
    // Live readings go on being collected meanwhile.
    rig.feed({1, 1, 1, 1, 0}, 40);
    EXPECT_EQ(rig.live.history().size(), 17u);
    EXPECT_EQ(rig.view.chart->currentCurve()->series()->size(), 3u);
    rig.view.liveButton->click();
    EXPECT_FALSE(rig.view.showingLog());
    EXPECT_EQ(rig.view.chart->currentCurve()->series()->size(), 17u);

    // A file that is no log says so and changes nothing.
    const QString picture = rig.folder.filePath("picture.png");
    QImage(4, 4, QImage::Format_RGB32).save(picture);
    rig.openDialog.answers.push_back({picture});
    rig.view.openButton->click();
    EXPECT_FALSE(rig.view.showingLog());
    ASSERT_EQ(rig.messages.size(), 2u);
    EXPECT_TRUE(rig.messages[1].contains("no talviren log")) << rig.messages[1].toStdString();
    EXPECT_EQ(rig.view.chart->currentCurve()->series()->size(), 17u);
}

// The service's rotated days, compressed, open as they are, several at once.
TEST(TrendView, CompressedRotatedLogsOpenAsTheyAre) {
    TrendRig rig;
    feedAScene(rig);
    QStringList paths;
    for (int day = 0; day < 2; ++day) {
        const QString plain = rig.folder.filePath(QStringLiteral("COM1.csv-2026-12-0%1").arg(day + 7));
        QFile file(plain);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write((std::string(csvlog::kHeader) + "\n").c_str());
        for (std::size_t i = 0; i < rig.fed.size(); ++i) {
            TimedReading r = rig.fed[i];
            r.wallMs += day * 86'400'000LL;
            file.write(csvlog::line(r).c_str());
        }
        file.close();
        ASSERT_EQ(QProcess::execute("gzip", {plain}), 0);
        paths << plain + ".gz";
    }
    rig.openDialog.answers.push_back({paths[1], paths[0]});
    rig.view.openButton->click();
    ASSERT_TRUE(rig.view.showingLog()) << (rig.messages.empty() ? "" : rig.messages[0].toStdString());
    EXPECT_EQ(rig.view.sourceLabel->text(), "2 files: 32 readings");
    EXPECT_EQ(rig.view.chart->currentCurve()->series()->key(0), kStart / 1000.0) << "in time order";
}

TEST(TrendView, EverySaveTypeReadsBack) {
    TrendRig rig;
    feedAScene(rig);
    rig.view.chart->replot();
    const auto saved = [&](const char* name, int type) {
        const QString path = rig.folder.filePath(QString::fromLatin1(name));
        rig.saveDialog.answers.push_back({path, type});
        EXPECT_EQ(rig.view.save().result, SaveOutcome::Saved) << name;
        return path;
    };
    EXPECT_EQ(QImage(saved("t.png", 1)).size(), rig.view.chart->size());
    const QByteArray pdf = readAll(saved("t.pdf", 2));
    EXPECT_TRUE(pdf.startsWith("%PDF-"));
    EXPECT_TRUE(pdf.contains("/MediaBox"));
    EXPECT_TRUE(rig.saveDialog.requests.front().filter.startsWith(
        "PNG picture (*.png)|*.png|PDF document (*.pdf)|*.pdf|SVG drawing (*.svg)|*.svg|"
        "CSV log (*.csv)|*.csv|Excel workbook (*.xlsx)|*.xlsx|"));
    QXmlStreamReader svg(readAll(saved("t.svg", 3)));
    int paths = 0;
    QString root;
    while (!svg.atEnd()) {
        if (svg.readNext() == QXmlStreamReader::StartElement) {
            root = root.isEmpty() ? svg.name().toString() : root;
            paths += svg.name() == QLatin1String("path") || svg.name() == QLatin1String("polyline");
        }
    }
    EXPECT_FALSE(svg.hasError()) << svg.errorString().toStdString();
    EXPECT_EQ(root, "svg");
    EXPECT_GT(paths, 10) << "drawn as vectors";
    // The type follows the name when it names one of the five.
    const QString csv = saved("t.csv", 1);
    const std::vector<std::string> records = readBackWith("read_csv.py", csv.toStdString());
    ASSERT_EQ(records.size(), 17u);
    EXPECT_EQ(records[11],
              "[\"" + csvlog::timeField(rig.fed[10].wallMs) +
                  "\", \"1\", \"AC I\", \"OLA\", \"AC U\", \"231V\", \"\", \"231\", \"\"]")
        << "no apparent power where the current is over range";
    EXPECT_TRUE(records[1].ends_with("\"12\", \"230\", \"2760\"]")) << records[1];
    const QString xlsx = saved("t.xlsx", 5);
    const std::vector<std::string> rows =
        readBackWith("read_trend_workbook.py", xlsx.toStdString());
    ASSERT_EQ(rows.size(), 18u);
    EXPECT_EQ(rows[0], "sheet\tReadings\tA2");
    EXPECT_TRUE(rows[2].starts_with("date:" + csvlog::localTime(kStart).substr(0, 19))) << rows[2];
    EXPECT_TRUE(rows[2].ends_with("\ttext:1\ttext:AC I\ttext:12A\ttext:AC U\ttext:230V\tnumber:12.0"
                                  "\tnumber:230.0\tnumber:2760.0"))
        << rows[2];
    // A save that fails says so once and leaves nothing behind.
    rig.saveDialog.answers.push_back({rig.folder.filePath("none/t.xlsx"), 5});
    EXPECT_EQ(rig.view.save().result, SaveOutcome::Failed);
    ASSERT_EQ(rig.messages.size(), 1u);
    EXPECT_TRUE(rig.messages[0].contains("none/t.xlsx"));
}

// A meter whose readings come with a power factor of their own, as a remote's do.
struct OwnFactor : MeterFeed {
    LinkStatus linkStatus() const override { return {}; }
    bool ownsPowerFactor() const override { return true; }
    std::optional<PowerFactor> ownPowerFactor() const override { return PowerFactor{800'000}; }
};

// Three meters a little apart, one on DC voltage for a while, one over range once, one silent
// for a while: the Σ rows and the workbook's "total" sheet against a sum worked out from the
// meters' own sheets by a script of its own.
TEST(TrendView, TheSumsStatisticsAndItsTotalSheetAgreeWithAnIndependentSum) {
    TrendRig rig;
    Meter l2(*parseMeter("L2", "COM2").source), l3(*parseMeter("L3", "COM3").source);
    OwnFactor own;
    l3.setFeed(&own);
    ASSERT_TRUE(rig.view.setPowerFactorText("0.9"));
    rig.fleet.setMeters({&rig.meter, &l2, &l3});
    std::mt19937 random(11);
    const auto reading = [&](std::uint8_t function, int tick, int laterMs, bool over = false) {
        const int current = 900 + static_cast<int>(random() % 600);
        const int second = 2200 + static_cast<int>(random() % 200);
        TimedReading r = timedReading(
            {function, over ? 10001 : current, static_cast<std::uint8_t>(over ? 5 : 1), second, 0},
            tick);
        r.wallMs += laterMs;
        return r;
    };
    for (int tick = 0; tick < 240; ++tick) {
        rig.live.add(reading(1, tick, 0));
        l2.recording().add(reading(tick >= 100 && tick < 106 ? 2 : 1, tick, 120, tick == 50));
        if (tick < 150 || tick > 154) {
            l3.recording().add(reading(1, tick, 300 + static_cast<int>(random() % 50)));
        }
    }
    rig.settle();
    const QString path = rig.folder.filePath("sum.xlsx");
    rig.saveDialog.answers.push_back({path, 5});
    ASSERT_EQ(rig.view.save().result, SaveOutcome::Saved);
    const std::vector<std::string> worked =
        commandLines("/usr/bin/python3 " + std::string(TALVIREN_SOURCE_DIR) +
                     "/tests/check_sum.py '" + path.toStdString() + "' local=0.9 L2=0.9 L3=0.8");
    ASSERT_EQ(worked.size(), 2u) << (worked.empty() ? "" : worked.front());
    int compared = 0;
    for (int r = 0; r < rig.rows(); ++r) {
        for (const std::string& line : worked) {
            const QStringList expected = QString::fromStdString(line).split('\t');
            if (rig.rowName(r) == QStringLiteral("\u03A3 ") + expected[0]) {
                ++compared;
                for (int c = 0; c < 5; ++c) {
                    EXPECT_EQ(rig.cell(r, c), expected[c + 1]) << line << ", column " << c;
                }
                EXPECT_EQ(rig.cell(r, 5), "");
            }
        }
    }
    EXPECT_EQ(compared, 2) << "a row each for S and P";
    EXPECT_GT(rig.fleet.sum().points().size(), 200u);
    rig.fleet.setMeters({&rig.meter}); // before the two go
}

} // namespace
