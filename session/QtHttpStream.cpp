#include "session/QtHttpStream.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace talviren {

QtHttpStream::QtHttpStream(QObject* parent) : QObject(parent) {
    network_.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

QtHttpStream::~QtHttpStream() {
    abort();
}

void QtHttpStream::abort() {
    if (reply_) {
        QNetworkReply* reply = reply_;
        reply_ = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
    handlers_ = {};
}

void QtHttpStream::get(const remote::HttpRequest& request, Handlers handlers) {
    abort();
    handlers_ = std::move(handlers);
    headTold_ = false;
    QNetworkRequest ask{QUrl(QString::fromStdString(request.url))};
    for (const auto& [name, value] : request.headers) {
        ask.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    }
    // An event stream never ends: no transfer timeout, and nothing cached in between.
    ask.setTransferTimeout(0);
    ask.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    ask.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    QNetworkReply* reply = network_.get(ask);
    reply_ = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (reply == reply_) {
            headArrived();
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (reply != reply_) {
            return;
        }
        headArrived();
        const QByteArray bytes = reply->readAll();
        // A copy: the handler may abort, which lets go of the handlers.
        if (const auto body = handlers_.body; reply == reply_ && body) {
            body(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply != reply_) {
            return;
        }
        // A 401 or 404 is an answer, not a failure: its head has been told already.
        const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
        headArrived();
        if (reply != reply_) {
            return;
        }
        const QByteArray rest = reply->readAll();
        if (const auto body = handlers_.body; !rest.isEmpty() && body) {
            body(std::string_view(rest.constData(), static_cast<std::size_t>(rest.size())));
        }
        if (reply != reply_) {
            return;
        }
        const std::string error = reply->error() == QNetworkReply::NoError || answered
                                      ? std::string()
                                      : reply->errorString().toStdString();
        const auto ended = handlers_.ended;
        reply_ = nullptr;
        reply->deleteLater();
        if (ended) {
            ended(error);
        }
    });
}

void QtHttpStream::headArrived() {
    if (headTold_ || !reply_) {
        return;
    }
    const QVariant status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) {
        return; // not yet: no answer has come
    }
    headTold_ = true;
    remote::HttpResponseHead head;
    head.status = status.toInt();
    head.contentType = reply_->header(QNetworkRequest::ContentTypeHeader).toString().toStdString();
    head.missed = reply_->rawHeader("Talviren-Missed").toStdString();
    if (const auto told = handlers_.head) {
        told(head);
    }
}

QtCountdown::QtCountdown(QObject* parent) : QObject(parent) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (callback_) {
            callback_();
        }
    });
}

void QtCountdown::start(std::int64_t ms, std::function<void()> callback) {
    callback_ = std::move(callback);
    timer_.start(static_cast<int>(ms));
}

} // namespace talviren
