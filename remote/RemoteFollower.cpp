#include "remote/RemoteFollower.h"

#include "json/JsonValue.h"

#include <algorithm>
#include <fstream>
#include <utility>

namespace talviren::remote {

namespace {

// The first line of the token file, read afresh at every connection: a token mended in the
// file is used at the next try.
std::string tokenOf(const std::string& file) {
    if (file.empty()) {
        return {};
    }
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

} // namespace

RemoteFollower::RemoteFollower(RemoteTarget target, HttpStream& http, Countdown& retry,
                               Countdown& silence, RemoteListener& listener,
                               std::string decimalSeparator, const ReadingClock& clock)
    : target_(std::move(target)), http_(http), retry_(retry), silence_(silence),
      listener_(listener), separator_(std::move(decimalSeparator)), clock_(clock),
      reader_([this](const StreamEvent& event) { onEvent(event); }) {}

void RemoteFollower::start() {
    if (state_ == State::Idle) {
        connect();
    }
}

void RemoteFollower::stop() {
    http_.abort();
    retry_.stop();
    silence_.stop();
    state_ = State::Idle;
}

std::vector<std::pair<std::string, std::string>> RemoteFollower::headers() const {
    std::vector<std::pair<std::string, std::string>> list;
    if (const std::string token = tokenOf(target_.tokenFile); !token.empty()) {
        list.emplace_back("Authorization", "Bearer " + token);
    }
    return list;
}

void RemoteFollower::connect() {
    retry_.stop();
    loadReadings();
}

void RemoteFollower::fed() {
    silence_.start(kSilenceMs, [this] { fail("the logger fell silent", false); });
}

bool RemoteFollower::accept(const HttpResponseHead& head, std::string_view contentType) {
    if (head.status == 401) {
        wrongToken_ = true;
        fail("wrong token", true);
        return false;
    }
    wrongToken_ = false;
    if (head.status != 200) {
        refuse("it answers HTTP " + std::to_string(head.status));
        return false;
    }
    if (!head.contentType.starts_with(contentType)) {
        refuse("it answers " + (head.contentType.empty() ? std::string("without a content type")
                                                         : head.contentType));
        return false;
    }
    return true;
}

void RemoteFollower::loadReadings() {
    state_ = State::Loading;
    body_.clear();
    HttpRequest request;
    request.url = target_.baseUrl + "api/readings" +
                  (lastSeq_ > 0 ? "?since=" + std::to_string(lastSeq_) : std::string());
    request.headers = headers();
    HttpStream::Handlers handlers;
    handlers.head = [this](const HttpResponseHead& head) {
        if (!accept(head, "application/json")) {
            return;
        }
        // Readings after the last one taken that the remote no longer keeps: a gap.
        if (!head.missed.empty() && lastSeq_ > 0) {
            const std::uint64_t missed = std::strtoull(head.missed.c_str(), nullptr, 10);
            if (missed > 0) {
                missed_ += missed;
                gapPending_ = true;
            }
        }
    };
    handlers.body = [this](std::string_view bytes) {
        if (state_ != State::Loading) {
            return;
        }
        if (body_.size() + bytes.size() > kMaxReadings) {
            refuse("its readings are over 64 MiB");
            return;
        }
        body_.append(bytes);
        fed();
    };
    handlers.ended = [this](const std::string& error) {
        if (state_ != State::Loading) {
            return;
        }
        if (!error.empty()) {
            fail(error, false);
            return;
        }
        std::string why;
        const auto list = json::parseJson(body_, &why);
        body_.clear();
        if (!list || !list->isArray()) {
            refuse("its readings are no JSON array (" + why + ")");
            return;
        }
        for (const json::JsonValue& element : list->elements()) {
            const auto reading = remoteReading(element, separator_, why);
            if (!reading) {
                refuse(why);
                return;
            }
            take(*reading, false);
        }
        openEvents();
    };
    http_.get(request, std::move(handlers));
    fed();
}

void RemoteFollower::openEvents() {
    state_ = State::Opening;
    reader_.reset();
    HttpRequest request;
    request.url = target_.baseUrl + "api/events";
    request.headers = headers();
    request.headers.emplace_back("Accept", "text/event-stream");
    // Always: with 0 the stream begins with all the logger keeps, so that a reading that came
    // between the two requests is not lost.
    request.headers.emplace_back("Last-Event-ID", std::to_string(lastSeq_));
    HttpStream::Handlers handlers;
    handlers.head = [this](const HttpResponseHead& head) {
        if (!accept(head, "text/event-stream")) {
            return;
        }
        // Up: the next drop is tried again soon.
        state_ = State::Following;
        retryMs_ = kFirstRetryMs;
        offlineSinceMs_.reset();
        problem_.clear();
        refusal_.clear();
        listener_.remoteChanged();
    };
    handlers.body = [this](std::string_view bytes) {
        if (state_ != State::Following) {
            return;
        }
        fed();
        if (!reader_.feed(bytes)) {
            refuse(reader_.refusal());
        }
    };
    handlers.ended = [this](const std::string& error) {
        if (state_ == State::Following || state_ == State::Opening) {
            fail(error.empty() ? std::string("the logger closed the connection") : error, false);
        }
    };
    http_.get(request, std::move(handlers));
    fed();
}

void RemoteFollower::onEvent(const StreamEvent& event) {
    if (state_ != State::Following) {
        return;
    }
    if (event.name == "reading") {
        std::string why;
        const auto json = json::parseJson(event.data, &why);
        const auto reading = json ? remoteReading(*json, separator_, why) : std::nullopt;
        if (!reading) {
            refuse("an event that is no reading (" + why + ")");
            return;
        }
        take(*reading, false);
    } else if (event.name == "link") {
        const auto json = json::parseJson(event.data);
        const json::JsonValue* state = json ? json->member("state") : nullptr;
        const bool up = state && state->text() == std::string_view("connected");
        if (up != remoteMeterUp_) {
            remoteMeterUp_ = up;
            listener_.remoteChanged();
        }
    }
}

void RemoteFollower::take(const RemoteReading& reading, bool breakBefore) {
    if (lastSeq_ > 0 && reading.seq <= lastSeq_) {
        if (reading.reading.wallMs <= lastWallMs_) {
            return; // one the window has
        }
        breakBefore = true; // the remote started again, counting from 1
    } else if (lastSeq_ > 0 && reading.seq > lastSeq_ + 1) {
        // Readings the remote had and no longer sent: lost in the gap.
        if (!gapPending_) {
            missed_ += reading.seq - lastSeq_ - 1;
        }
        breakBefore = true;
    }
    // Both looked at, so that the gap the logger told of ends at this reading.
    const bool told = std::exchange(gapPending_, false);
    breakBefore = breakBefore || told;
    lastSeq_ = reading.seq;
    lastWallMs_ = reading.reading.wallMs;
    listener_.remoteReading(reading, breakBefore);
}

void RemoteFollower::refuse(const std::string& why) {
    fail("not a talviren logger: " + why, true, why);
}

void RemoteFollower::fail(std::string problem, bool refused, std::string refusal) {
    http_.abort();
    silence_.stop();
    const bool wasConnected = state_ == State::Following;
    state_ = State::Waiting;
    problem_ = std::move(problem);
    refusal_ = std::move(refusal);
    if (!offlineSinceMs_ || wasConnected) {
        offlineSinceMs_ = clock_.wallMs();
    }
    // What is refused is no talviren logger now; it may become one, but not soon.
    const std::int64_t wait = refused ? kLongestRetryMs : retryMs_;
    retryMs_ = std::min(retryMs_ * 2, kLongestRetryMs);
    retry_.start(wait, [this] { connect(); });
    listener_.remoteChanged();
}

} // namespace talviren::remote
