// Alarms in the window: the dialog, the settings, the banner and shading of the Trend view,
// and desktop notifications to a notification service on a private session bus.

#include "QtTestSupport.h"

#include "ui/AlarmsDialog.h"
#include "ui/DesktopNotifier.h"
#include "ui/Settings.h"
#include "ui/TrendView.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

TimedReading reading(int centiamps, int tick) {
    TimedReading r;
    static_cast<DecodedReading&>(r) = decodeReading({1, centiamps, 1, 2300, 0}, ".");
    r.wallMs = 1'765'000'000'000 + tick * 500LL;
    r.steadyNs = tick * 500'000'000LL;
    return r;
}

TEST(AlarmsDialog, ChecksEveryLineWithTheCliWordsAsItIsTyped) {
    AlarmsDialog dialog(
        {"hi: current > 13A", "broken: current > 5V", "hi: current < 1A", "p: power > 1kW"}, false);
    EXPECT_EQ(dialog.problem(0), "");
    EXPECT_EQ(dialog.problem(1).toStdString(), parseAlarm("broken: current > 5V").error);
    EXPECT_EQ(dialog.problem(2), "alarm 'hi': the name is given twice");
    EXPECT_EQ(dialog.problem(3), "alarm 'p': power needs a power factor: set PF");
    dialog.list->setCurrentRow(1);
    EXPECT_EQ(dialog.editor->text(), "broken: current > 5V");
    QTest::keyClick(dialog.editor, Qt::Key_Backspace);
    QTest::keyClick(dialog.editor, Qt::Key_Backspace);
    QTest::keyClicks(dialog.editor, "5A for 2s");
    EXPECT_EQ(dialog.check->text(), "OK");
    QTest::keyClicks(dialog.editor, " clear 9A");
    EXPECT_TRUE(dialog.check->text().contains("the clear limit must be at or below"));
    dialog.removeButton->click(); // the broken line goes
    dialog.addButton->click();
    QTest::keyClicks(dialog.editor, "ol: overload");
    EXPECT_EQ(dialog.lines(), (QStringList{"hi: current > 13A", "hi: current < 1A",
                                           "p: power > 1kW", "ol: overload"}));
}

TEST(TrendView, AlarmsComeFromTheSettingsAndShowAsABannerAndAShadedStretch) {
    QTemporaryDir folder;
    ScriptedDialog saveDialog;
    ScriptedOpenDialog openDialog;
    RunSettings settings;
    RunSettingsKeeper keeper(settings);
    Meter meter(defaultMeters().front());
    FleetCore fleet(settings);
    fleet.setMeters({&meter});
    Recording& live = meter.recording();
    const AlarmEngine& engine = meter.alarms();
    TrendView view(fleet, saveDialog, openDialog);
    view.resize(553, 495);
    view.show();
    std::vector<QStringList> asked;
    view.setAlarmEditor([&](const QStringList& lines, bool) {
        asked.push_back(lines);
        return std::optional<QStringList>(
            {"hi: current > 13A", "bad: current >> 5", "p: power > 1kW", "no name at all"});
    });
    view.alarmsButton->click();
    ASSERT_EQ(engine.rules().size(), 1u) << "the broken line and power without a PF wait";
    EXPECT_EQ(engine.rules()[0].name, "hi");
    const QString kept = QString::fromUtf8(readAll(settingsFile()));
    EXPECT_TRUE(kept.contains("[alarms]\nbad=current >> 5\nhi=current > 13A\np=power > 1kW\n"))
        << kept.toStdString();
    view.alarmsButton->click();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1], (QStringList{"bad: current >> 5", "hi: current > 13A", "p: power > 1kW"}));

    live.add(reading(1200, 0));
    EXPECT_TRUE(view.alarmBanner->isHidden());
    live.add(reading(1400, 1));
    EXPECT_FALSE(view.alarmBanner->isHidden());
    EXPECT_EQ(view.alarmBanner->text(), "\u26A0 hi: current 14A > 13A");
    live.add(reading(1450, 2));
    view.chart->replot();
    ASSERT_EQ(view.chart->alarmStretches().size(), 1u);
    EXPECT_EQ(view.chart->alarmStretches()[0], std::make_pair(1'765'000'000.5, 1'765'000'001.0))
        << "open: up to the newest";
    live.add(reading(1290, 3));
    EXPECT_TRUE(view.alarmBanner->isHidden());
    EXPECT_EQ(view.chart->alarmStretches()[0], std::make_pair(1'765'000'000.5, 1'765'000'001.5));

    EXPECT_TRUE(view.setPowerFactorText("0.5"));
    EXPECT_EQ(engine.rules().size(), 2u) << "power alarms with a PF";
    EXPECT_TRUE(view.setPowerFactorText(""));
    storeAlarms({});
}

// A notification service of the test's own, on a private bus.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        uint replaces;
        QString summary;
        QString body;
        int urgency;
    };
    std::vector<Call> calls;

public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        calls.push_back({replaces, summary, body, hints.value("urgency").toInt()});
        return 41 + static_cast<uint>(calls.size());
    }
};

class PrivateBus {
public:
    PrivateBus() {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
        daemon_.waitForReadyRead(5000);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        daemon_.terminate();
        daemon_.waitForFinished(3000);
    }
    QDBusConnection connect(const QString& name) const {
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
};

TEST(DesktopNotifier, OneCriticalNotificationPerRaiseWhichTheClearReplaces) {
    PrivateBus bus;
    QDBusConnection service = bus.connect("notification-service");
    ASSERT_TRUE(service.isConnected()) << service.lastError().message().toStdString();
    FakeNotifications fake;
    ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &fake,
                                       QDBusConnection::ExportAllSlots));
    AlarmEngine engine;
    DesktopNotifier notifier(bus.connect("talviren"));
    engine.addListener(&notifier);
    engine.configure({*parseAlarm("hi: current > 13A").rule}, std::nullopt, 0);
    engine.reading(reading(1400, 0));
    engine.reading(reading(1200, 1)); // cleared before the service answered the raise
    ASSERT_TRUE(waitFor([&] { return fake.calls.size() >= 2; }, 5000));
    EXPECT_EQ(fake.calls[0].replaces, 0u);
    EXPECT_EQ(fake.calls[0].summary, "Alarm hi raised");
    EXPECT_EQ(fake.calls[0].body, "current 14A > 13A");
    EXPECT_EQ(fake.calls[0].urgency, 2) << "critical";
    EXPECT_EQ(fake.calls[1].replaces, 42u) << "the clear replaces the raise's notification";
    EXPECT_EQ(fake.calls[1].summary, "Alarm hi cleared");
    engine.reading(reading(1400, 2));
    ASSERT_TRUE(waitFor([&] { return fake.calls.size() >= 3; }, 5000));
    EXPECT_EQ(fake.calls[2].replaces, 0u) << "a new raise, a new notification";
    waitFor([] { return false; }, 200);
    EXPECT_EQ(fake.calls.size(), 3u);
    engine.removeListener(&notifier);
}

TEST(DesktopNotifier, WithoutAServiceNothingBreaks) {
    PrivateBus bus; // no notification service on it
    AlarmEngine engine;
    DesktopNotifier notifier(bus.connect("alone"));
    engine.addListener(&notifier);
    engine.configure({*parseAlarm("hi: current > 13A").rule}, std::nullopt, 0);
    engine.reading(reading(1400, 0));
    waitFor([] { return false; }, 300); // the call fails in the event loop
    engine.reading(reading(1200, 1));
    engine.reading(reading(1400, 2));
    EXPECT_EQ(engine.state(0), AlarmEngine::State::Raised);
    engine.removeListener(&notifier);
}

} // namespace

#include "AlarmWindowTest.moc"
