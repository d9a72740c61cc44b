#pragma once

#include "remote/HttpStream.h"

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QNetworkReply;

namespace talviren {

// remote::HttpStream over Qt Network: one GET at a time, its body handed on as it arrives
// (http and https, the system's certificates).
class QtHttpStream : public QObject, public remote::HttpStream {
    Q_OBJECT

public:
    explicit QtHttpStream(QObject* parent = nullptr);
    ~QtHttpStream() override;

    void get(const remote::HttpRequest& request, Handlers handlers) override;
    void abort() override;

private:
    void headArrived();

    QNetworkAccessManager network_;
    QPointer<QNetworkReply> reply_;
    Handlers handlers_;
    bool headTold_ = false;
};

// remote::Countdown over a single-shot QTimer.
class QtCountdown : public QObject, public remote::Countdown {
    Q_OBJECT

public:
    explicit QtCountdown(QObject* parent = nullptr);
    void start(std::int64_t ms, std::function<void()> callback) override;
    void stop() override { timer_.stop(); }

private:
    QTimer timer_;
    std::function<void()> callback_;
};

} // namespace talviren
