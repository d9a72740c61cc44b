#include "web/HttpServer.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace talviren::web {

// One connection: whether it came while the server had room.
struct HttpServer::Client {
    bool admitted = false;
};

// One event stream on its connection.
struct HttpServer::Stream {
    HttpServer* server = nullptr;
    MHD_Connection* connection = nullptr;
    std::uint64_t id = 0;
    bool suspended = false; // nothing was due: the library does not look at it until woken
    bool dropped = false;   // too much piled up: the connection is being closed
};

struct HttpServer::Callbacks {
    static MHD_Result request(void* self, MHD_Connection* connection, const char* url,
                              const char* method, const char*, const char*, std::size_t* uploadSize,
                              void** requestState) {
        auto* server = static_cast<HttpServer*>(self);
        // First called when the headers are in. GET and HEAD are answered once the whole
        // request is in, so that the connection may stay open for the next; anything else at
        // once (405), and the library drops what the client still sends.
        const bool readOnly = std::strcmp(method, "GET") == 0 || std::strcmp(method, "HEAD") == 0;
        if (readOnly && *requestState == nullptr) {
            *requestState = server; // seen: the next call, with the whole request, answers
            return MHD_YES;
        }
        if (*uploadSize != 0) {
            *uploadSize = 0; // a body, where none belongs: read past it
            return MHD_YES;
        }
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        auto* client = static_cast<Client*>(info ? info->socket_context : nullptr);
        if (!client) {
            return MHD_NO;
        }
        return server->answer(connection, *client, url, method) == MHD_YES ? MHD_YES : MHD_NO;
    }

    static void connection(void* self, MHD_Connection*, void** context,
                           MHD_ConnectionNotificationCode change) {
        auto* server = static_cast<HttpServer*>(self);
        if (change == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* client = new Client;
            client->admitted = server->admitted_ < server->limits_.maxClients;
            server->admitted_ += client->admitted ? 1 : 0;
            ++server->open_;
            *context = client;
        } else {
            auto* client = static_cast<Client*>(*context);
            server->admitted_ -= client && client->admitted ? 1 : 0;
            --server->open_;
            delete client;
            *context = nullptr;
        }
    }

    static ssize_t streamRead(void* context, std::uint64_t, char* buffer, std::size_t max) {
        auto* stream = static_cast<Stream*>(context);
        if (stream->dropped) {
            return MHD_CONTENT_READER_END_WITH_ERROR;
        }
        const std::size_t taken = stream->server->streams_.take(stream->id, buffer, max);
        if (taken == 0) {
            // Nothing is due: the library leaves the connection alone until wake().
            MHD_suspend_connection(stream->connection);
            stream->suspended = true;
        }
        return static_cast<ssize_t>(taken);
    }

    static void streamEnd(void* context) {
        auto* stream = static_cast<Stream*>(context);
        stream->server->streams_.close(stream->id);
        stream->server->streamsById_.erase(stream->id);
        delete stream;
    }
};

namespace {

std::optional<std::string> value(MHD_Connection* connection, MHD_ValueKind kind, const char* key) {
    const char* found = MHD_lookup_connection_value(connection, kind, key);
    return found ? std::optional<std::string>(found) : std::nullopt;
}

} // namespace

HttpServer::HttpServer(const WebSite& site, LiveFeed& feed, IoLoop& loop, Limits limits)
    : site_(site), loop_(loop), limits_(limits), streams_(feed, *this, limits.maxBacklog) {}

HttpServer::~HttpServer() {
    if (!daemon_) {
        return;
    }
    loop_.unwatch();
    loop_.cancelCall();
    // The library must not be stopped with a connection suspended.
    for (auto& [id, stream] : streamsById_) {
        if (stream->suspended) {
            stream->suspended = false;
            MHD_resume_connection(stream->connection);
        }
    }
    MHD_stop_daemon(daemon_);
}

bool HttpServer::listen(const HttpAddress& address, std::string& error) {
    const auto fail = [&](const char* reason) {
        error = "cannot listen on " + address.text() + ": " + reason;
        return false;
    };
    // The socket is bound here, not by the library, so that a refusal says why.
    const int family = address.ipv6() ? AF_INET6 : AF_INET;
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return fail(std::strerror(errno));
    }
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(address.port);
        ::inet_pton(AF_INET6, address.host.c_str(), &in6->sin6_addr);
        length = sizeof *in6;
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(address.port);
        ::inet_pton(AF_INET, address.host.c_str(), &in4->sin_addr);
        length = sizeof *in4;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 || ::listen(fd, 64) != 0) {
        const int reason = errno;
        ::close(fd);
        return fail(std::strerror(reason));
    }
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) == 0) {
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&storage)->sin_port);
    }
    const unsigned flags =
        MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME | (address.ipv6() ? MHD_USE_IPv6 : 0);
    daemon_ = MHD_start_daemon(
        flags, 0, nullptr, nullptr, &Callbacks::request, this, MHD_OPTION_LISTEN_SOCKET, fd,
        // Beyond this the library refuses connections itself; up to it, we answer 503.
        MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(limits_.maxClients * 4),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, limits_.connectionMemory, MHD_OPTION_CONNECTION_TIMEOUT,
        limits_.idleTimeoutS, MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::connection, this,
        MHD_OPTION_END);
    if (!daemon_) {
        ::close(fd);
        return fail("the HTTP library did not start");
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_EPOLL_FD);
    loop_.watch(info->epoll_fd, [this] { pump(); });
    nextKeepAlive_ = std::chrono::steady_clock::now() + limits_.keepAlive;
    pump();
    return true;
}

void HttpServer::pump() {
    const auto now = std::chrono::steady_clock::now();
    if (now >= nextKeepAlive_) {
        streams_.keepAlive();
        nextKeepAlive_ = now + limits_.keepAlive;
    }
    streams_.deliver(); // the events since the last run, off the readings' path
    MHD_run(daemon_);
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
        nextKeepAlive_ - std::chrono::steady_clock::now());
    MHD_UNSIGNED_LONG_LONG libraryWait = 0;
    if (MHD_get_timeout(daemon_, &libraryWait) == MHD_YES) {
        wait = std::min(wait, std::chrono::milliseconds(libraryWait));
    }
    // This run did all that was asked before it; the next comes when the library or the
    // keep-alive wants one, or sooner when runSoon() asks again.
    runScheduled_ = false;
    loop_.callAfter(static_cast<int>(std::max<std::int64_t>(wait.count(), 0)), [this] { pump(); });
}

int HttpServer::answer(MHD_Connection* connection, Client& client, const char* url,
                       const char* method) {
    HttpRequest request;
    request.method = method;
    request.path = url;
    request.overCapacity = !client.admitted;
    if (const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE)) {
        request.headerBytes = info->header_size;
    }
    request.authorization = value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
    request.lastEventId = value(connection, MHD_HEADER_KIND, "Last-Event-ID");
    request.token = value(connection, MHD_GET_ARGUMENT_KIND, "token");
    request.since = value(connection, MHD_GET_ARGUMENT_KIND, "since");
    const HttpResponse answer = site_.respond(request);
    if (answer.eventStream && request.method == "GET") {
        return startStream(connection, answer);
    }
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (!answer.contentType.empty()) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    }
    for (const auto& [name, text] : answer.headers) {
        MHD_add_response_header(response, name.c_str(), text.c_str());
    }
    if (answer.close) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    }
    const MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

int HttpServer::startStream(MHD_Connection* connection, const HttpResponse& answer) {
    auto* stream = new Stream;
    stream->server = this;
    stream->connection = connection;
    stream->id = streams_.open(answer.resumeAfter);
    streamsById_.emplace(stream->id, stream);
    // A small socket buffer: what waits for a slow reader waits where it is counted.
    if (const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)) {
        ::setsockopt(info->connect_fd, SOL_SOCKET, SO_SNDBUF, &limits_.streamSendBuffer,
                     sizeof limits_.streamSendBuffer);
    }
    MHD_Response* response = MHD_create_response_from_callback(
        MHD_SIZE_UNKNOWN, 16 * 1024, &Callbacks::streamRead, stream, &Callbacks::streamEnd);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, answer.contentType.c_str());
    for (const auto& [name, text] : answer.headers) {
        MHD_add_response_header(response, name.c_str(), text.c_str());
    }
    const MHD_Result queued = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return queued;
}

void HttpServer::due() {
    runSoon();
}

void HttpServer::wake(std::uint64_t id) {
    const auto found = streamsById_.find(id);
    if (found != streamsById_.end() && found->second->suspended) {
        found->second->suspended = false;
        MHD_resume_connection(found->second->connection);
    }
}

void HttpServer::runSoon() {
    // Without a thread of its own the library hears of new events and resumed connections only
    // when it runs: once, on the loop's next turn, however many readings came meanwhile.
    if (!runScheduled_) {
        runScheduled_ = true;
        loop_.callAfter(0, [this] { pump(); });
    }
}

void HttpServer::drop(std::uint64_t id) {
    const auto found = streamsById_.find(id);
    if (found == streamsById_.end()) {
        return;
    }
    Stream* stream = found->second;
    stream->dropped = true;
    // The library has no call to close a connection: end the socket under it, at once and
    // with a reset (nothing more is to be sent), and let it notice.
    if (const MHD_ConnectionInfo* info =
            MHD_get_connection_info(stream->connection, MHD_CONNECTION_INFO_CONNECTION_FD)) {
        const linger reset{1, 0};
        ::setsockopt(info->connect_fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::shutdown(info->connect_fd, SHUT_RDWR);
    }
    if (stream->suspended) {
        stream->suspended = false;
        MHD_resume_connection(stream->connection);
    }
    runSoon();
}

} // namespace talviren::web
