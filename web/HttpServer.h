#pragma once

#include "web/EventStreams.h"
#include "web/HttpAddress.h"
#include "web/IoLoop.h"
#include "web/WebSite.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

struct MHD_Daemon;
struct MHD_Connection;

namespace talviren::web {

// The web site served over HTTP by libmicrohttpd, run by the program's own event loop: the
// library has no thread of its own here, so a request, a reading and the log never wait for
// each other behind a lock, and an event goes out on the loop's next turn. The library parses
// the requests; the site answers them; the event streams send from the feed.
class HttpServer : private EventStreams::Connections {
public:
    struct Limits {
        std::size_t maxClients = 64; // connections at once; one more gets 503
        // Memory of one connection: requests up to about this long reach the site's 8 KiB
        // check; longer ones the library refuses itself (431, or 414 for the request line).
        std::size_t connectionMemory = 64 * 1024;
        unsigned idleTimeoutS = 60; // a connection that does nothing is closed
        std::size_t maxBacklog = EventStreams::kMaxBacklog;
        std::chrono::milliseconds keepAlive{15'000}; // a comment on quiet event streams
        int streamSendBuffer = 128 * 1024;           // the socket's own share of a stream's backlog
    };

    HttpServer(const WebSite& site, LiveFeed& feed, IoLoop& loop, Limits limits);
    HttpServer(const WebSite& site, LiveFeed& feed, IoLoop& loop)
        : HttpServer(site, feed, loop, Limits{}) {}
    ~HttpServer() override;
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on `address`; false with `error` ("cannot listen on 127.0.0.1:8080: Address
    // already in use") when it cannot.
    bool listen(const HttpAddress& address, std::string& error);
    // The port listened on (the one the system chose for port 0).
    std::uint16_t port() const { return port_; }

    // Connections open now, and the event streams among them.
    std::size_t clients() const { return open_; }
    std::size_t streams() const { return streams_.count(); }

private:
    struct Client;
    struct Stream;
    struct Callbacks; // libmicrohttpd's callbacks, in the source file
    friend struct Callbacks;

    // The site's answer to a whole request, queued on its connection.
    int answer(MHD_Connection* connection, Client& client, const char* url, const char* method);
    // The event stream as the answer: read from the streams as the connection can take it.
    int startStream(MHD_Connection* connection, const HttpResponse& response);
    // Lets the library do what is due: accept, read, answer, send, time out.
    void pump();
    // Asks for pump() on the loop's next turn.
    void runSoon();

    void due() override;
    void wake(std::uint64_t stream) override;
    void drop(std::uint64_t stream) override;

    const WebSite& site_;
    IoLoop& loop_;
    Limits limits_;
    EventStreams streams_;
    std::unordered_map<std::uint64_t, Stream*> streamsById_;
    MHD_Daemon* daemon_ = nullptr;
    std::uint16_t port_ = 0;
    std::size_t open_ = 0;
    std::size_t admitted_ = 0;
    std::chrono::steady_clock::time_point nextKeepAlive_;
    bool runScheduled_ = false; // a run on the loop's next turn is asked for
};

} // namespace talviren::web
