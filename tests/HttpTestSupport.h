#pragma once

#include "QtTestSupport.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace talviren::testing {

// A port of 127.0.0.1 nobody listens on now.
inline quint16 freeTcpPort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

// A blocking TCP connection to 127.0.0.1:port (with a receive buffer of `receiveBuffer` bytes
// when given), or -1.
inline int connectLoopback(quint16 port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Writes `text` to a new file at `path`.
inline bool writeTextFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

// An HTTP reply as it came over the wire.
struct HttpReply {
    int status = 0; // 0: no reply
    QByteArray head;
    QByteArray body;

    QByteArray header(const QByteArray& name) const {
        for (const QByteArray& line : head.split('\n')) {
            if (line.toLower().startsWith(name.toLower() + ":")) {
                return line.mid(name.size() + 1).trimmed();
            }
        }
        return {};
    }
};

// A request line and headers as a client writes them; the connection closes after the reply.
inline QByteArray httpRequest(const QByteArray& method, const QByteArray& target,
                              const QByteArray& headers = {}) {
    return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
           "Connection: close\r\n\r\n";
}

// Sends `request` as it is and reads the reply, the event loop running meanwhile (the server
// may be in this process).
inline HttpReply httpExchange(quint16 port, const QByteArray& request, int timeoutMs = 5000) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!waitFor([&] { return socket.state() == QAbstractSocket::ConnectedState; }, timeoutMs)) {
        return {};
    }
    socket.write(request);
    QByteArray data;
    const auto complete = [&] {
        data += socket.readAll();
        const qsizetype end = data.indexOf("\r\n\r\n");
        if (end < 0) {
            return false;
        }
        const QRegularExpression length(QStringLiteral("\r\ncontent-length: *(\\d+)"),
                                        QRegularExpression::CaseInsensitiveOption);
        const auto match = length.match(QString::fromLatin1(data.left(end)));
        return match.hasMatch() && data.size() - end - 4 >= match.captured(1).toLongLong();
    };
    waitFor([&] { return complete() || socket.state() == QAbstractSocket::UnconnectedState; },
            timeoutMs);
    complete();
    HttpReply reply;
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (!data.startsWith("HTTP/1.") || end < 0) {
        return reply;
    }
    reply.status = data.mid(9, 3).toInt();
    reply.head = data.left(end);
    reply.body = data.mid(end + 4);
    return reply;
}

// A plain client of an event stream, over HTTP/1.0 so that the body is the stream itself.
class EventStreamClient {
public:
    EventStreamClient(quint16 port, const QByteArray& headers = {},
                      const QByteArray& target = "/api/events") {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        socket_.write("GET " + target + " HTTP/1.0\r\n" + headers + "\r\n");
    }
    // The events so far, as {event, id, data}.
    struct Event {
        QByteArray name;
        QByteArray id;
        QByteArray data;
    };
    std::vector<Event> events() {
        received_ += socket_.readAll();
        std::vector<Event> found;
        const qsizetype start = received_.indexOf("\r\n\r\n");
        if (start < 0) {
            return found;
        }
        for (const QByteArray& frame : splitFrames(received_.mid(start + 4))) {
            Event event;
            for (const QByteArray& line : frame.split('\n')) {
                if (line.startsWith("event: ")) {
                    event.name = line.mid(7);
                } else if (line.startsWith("id: ")) {
                    event.id = line.mid(4);
                } else if (line.startsWith("data: ")) {
                    event.data = line.mid(6);
                }
            }
            if (!event.name.isEmpty()) {
                found.push_back(event);
            }
        }
        return found;
    }
    // The ids of the readings so far, in order.
    std::vector<int> readingIds() {
        std::vector<int> ids;
        for (const Event& event : events()) {
            if (event.name == "reading") {
                ids.push_back(event.id.toInt());
            }
        }
        return ids;
    }
    QByteArray statusLine() {
        received_ += socket_.readAll();
        return received_.left(received_.indexOf("\r\n"));
    }
    QTcpSocket& socket() { return socket_; }

private:
    // Whole frames only: each ends with an empty line.
    static QList<QByteArray> splitFrames(const QByteArray& stream) {
        QList<QByteArray> frames;
        qsizetype from = 0;
        for (qsizetype end = stream.indexOf("\n\n"); end >= 0; end = stream.indexOf("\n\n", from)) {
            frames.append(stream.mid(from, end - from));
            from = end + 2;
        }
        return frames;
    }

    QTcpSocket socket_;
    QByteArray received_;
};

} // namespace talviren::testing
