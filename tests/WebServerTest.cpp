// The web server in this process, fed readings faster than a meter gives them: a client that
// stops reading loses its stream once a MiB waits for it, and the others notice nothing.

#include "HttpTestSupport.h"

#include "cli/QtIoLoop.h"
#include "web/HttpServer.h"

#include <gtest/gtest.h>

#include <poll.h>

using namespace talviren;
using namespace talviren::testing;

namespace {

TimedReading reading(int i) {
    TimedReading r;
    static_cast<DecodedReading&>(r) = decodeReading({1, 1000 + i % 500, 1, 2300, 0}, ".");
    r.wallMs = 1'765'000'000'000 + i * 500LL;
    r.steadyNs = i * 500'000'000LL;
    return r;
}

// A client that sends its request and then reads nothing, through a small receive buffer.
int stalledClient(quint16 port) {
    const int fd = connectLoopback(port, 4096);
    const char request[] = "GET /api/events HTTP/1.0\r\n\r\n";
    if (fd >= 0 && ::send(fd, request, sizeof request - 1, 0) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether the server has reset or closed the connection: reading what is left ends in one.
bool closedByServer(int fd) {
    char buffer[65536];
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 2000) <= 0) {
            return false;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return true;
        }
    }
}

TEST(WebServer, AClientThatStopsReadingLosesItsStreamAndTheOthersNoticeNothing) {
    Recording recording;
    AlarmEngine alarms;
    web::LiveFeed feed(recording, alarms, std::nullopt);
    recording.addListener(&feed);
    web::WebSite::Settings settings;
    settings.meterId = "bench";
    web::WebSite site(feed, settings);
    cli::QtIoLoop loop;
    web::HttpServer server(site, feed, loop);
    std::string error;
    ASSERT_TRUE(server.listen({"127.0.0.1", 0}, error)) << error;
    const int stalled = stalledClient(server.port());
    ASSERT_GE(stalled, 0);
    EventStreamClient reader(server.port());
    ASSERT_TRUE(waitFor([&] { return server.streams() == 2; }, 5000));

    // Readings in bursts, far faster than a meter's two a second, until the stalled client
    // is let go; the reader takes its share between the bursts.
    int added = 0;
    while (server.streams() == 2 && added < 40'000) {
        for (int i = 0; i < 50; ++i) {
            recording.add(reading(added++));
        }
        QTest::qWait(2);
    }
    ASSERT_EQ(server.streams(), 1u) << "after " << added << " readings";
    const std::size_t frame = feed.event(feed.nextIndex() - 1)->frame.size();
    EXPECT_GT(added * frame, web::EventStreams::kMaxBacklog) << "not before a MiB waited";
    EXPECT_LT(added * frame, 3 * web::EventStreams::kMaxBacklog) << "nor long after";
    EXPECT_TRUE(closedByServer(stalled));
    ::close(stalled);

    for (int i = 0; i < 100; ++i) {
        recording.add(reading(added++));
    }
    ASSERT_TRUE(waitFor([&] { return reader.readingIds().size() == std::size_t(added); }, 10000))
        << reader.readingIds().size() << " of " << added;
    const std::vector<int> ids = reader.readingIds();
    EXPECT_EQ(ids.front(), 1);
    EXPECT_EQ(ids.back(), added);
    EXPECT_EQ(server.clients(), 1u);
}

} // namespace
