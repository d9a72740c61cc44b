// Every kind of meter has the same clock on the event loop: a line of its log is on the disk
// within a second of its reading, whether the meter is on a local port or a remote logger.

#include "QtTestSupport.h"
#include "TimedReadings.h"

#include "session/MeterSession.h"
#include "session/RemoteSession.h"

#include <gtest/gtest.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

TEST(MeterClock, EveryKindOfMetersLogIsOnTheDiskWithinASecondOfItsReading) {
    QTemporaryDir folder;
    MeterSession local;
    // A logger nobody answers for: its readings are handed in here, as the follower would.
    RemoteSession remote(*parseMeter("L3", "http://127.0.0.1:9/").source, ".");
    for (Meter* meter : {&local.meter(), &remote.meter()}) {
        const std::string path =
            folder.filePath(QString::fromStdString(meter->name()) + ".csv").toStdString();
        std::string error;
        ASSERT_TRUE(meter->recording().startLog(path, error)) << error;
        const DurableLog& log = *meter->recording().log();
        for (int i = 0; i < 2; ++i) {
            meter->recording().add(timedReading({1, 1234 + i, 1, 2300, 0}, i));
            EXPECT_TRUE(waitFor([&] { return log.linesSynced() == i + 1; }, 1500))
                << meter->name() << ": line " << i + 1 << " not synced within a second";
        }
        meter->recording().stopLog();
    }
}

} // namespace
