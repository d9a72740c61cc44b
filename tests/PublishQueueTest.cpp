#include "mqtt/PublishQueue.h"
#include "mqtt/MqttSettings.h"

#include <gtest/gtest.h>

using namespace talviren::mqtt;

namespace {

PublishQueue::Item reading(std::uint64_t seq) {
    PublishQueue::Item item;
    item.seq = seq;
    return item;
}

TEST(PublishQueue, ItemsLeaveInOrderOnceEveryMessageOfThemIsAcknowledged) {
    PublishQueue queue;
    for (std::uint64_t seq = 1; seq <= 3; ++seq) {
        queue.push(reading(seq));
    }
    ASSERT_EQ(queue.next()->seq, 1u);
    queue.handed({10, 11});
    ASSERT_EQ(queue.next()->seq, 2u);
    queue.handed({12});
    EXPECT_EQ(queue.waiting(), 1u);
    EXPECT_EQ(queue.inFlight(), 2u);
    queue.acknowledged(12); // the second is done before the first
    queue.acknowledged(99); // not ours
    EXPECT_EQ(queue.inFlight(), 2u) << "the first still holds the line";
    queue.acknowledged(10);
    queue.acknowledged(11);
    EXPECT_EQ(queue.inFlight(), 0u);
    EXPECT_EQ(queue.next()->seq, 3u);
    queue.handed({}); // nothing could be sent of it: nothing to wait for
    EXPECT_EQ(queue.waiting() + queue.inFlight(), 0u);
}

TEST(PublishQueue, PastItsCapacityTheOldestWaitingItemsGoAndAreCounted) {
    PublishQueue queue(4);
    queue.push(reading(1));
    queue.handed({1}); // in flight: never dropped
    for (std::uint64_t seq = 2; seq <= 8; ++seq) {
        queue.push(reading(seq));
    }
    EXPECT_EQ(queue.waiting(), 4u);
    EXPECT_EQ(queue.takeDropped(), 3u);
    EXPECT_EQ(queue.takeDropped(), 0u);
    EXPECT_EQ(queue.next()->seq, 5u);
    queue.acknowledged(1);
    EXPECT_EQ(queue.inFlight(), 0u);
    EXPECT_EQ(PublishQueue::kCapacity, 172'800u);
}

TEST(MqttSettings, UrlsAndIds) {
    struct Case {
        const char* url;
        bool ok;
        bool tls = false;
        const char* host = "";
        int port = 0;
        const char* user = "";
    };
    const Case cases[] = {
        {"mqtt://broker.local", true, false, "broker.local", 1883, ""},
        {"mqtt://alice@10.0.0.2:1884/", true, false, "10.0.0.2", 1884, "alice"},
        {"mqtts://broker", true, true, "broker", 8883, ""},
        {"mqtts://bob@[::1]:9883", true, true, "::1", 9883, "bob"},
        {"http://broker", false},
        {"broker:1883", false},
        {"mqtt://", false},
        {"mqtt://host:", false},
        {"mqtt://host:0", false},
        {"mqtt://host:65536", false},
        {"mqtt://host:12a", false},
        {"mqtt://host/path", false},
        {"mqtt://a:pw@host", false},
        {"mqtt://@host", false},
        {"mqtt://ho st", false},
        {"mqtt://[::1", false},
    };
    for (const Case& c : cases) {
        MqttSettings settings;
        std::string error;
        ASSERT_EQ(parseMqttUrl(c.url, settings, error), c.ok) << c.url << ": " << error;
        if (!c.ok) {
            EXPECT_NE(error.find("--mqtt"), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(settings.tls, c.tls) << c.url;
        EXPECT_EQ(settings.host, c.host) << c.url;
        EXPECT_EQ(settings.port, c.port) << c.url;
        EXPECT_EQ(settings.user, c.user) << c.url;
    }
    EXPECT_TRUE(isMeterId("bench-3_b"));
    EXPECT_FALSE(isMeterId("a/b"));
    EXPECT_FALSE(isMeterId(""));
    EXPECT_EQ(meterIdFromHost("pi.local lab"), "pi_local_lab");
}

} // namespace
