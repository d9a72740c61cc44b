#include "remote/EventStreamReader.h"

namespace talviren::remote {

void EventStreamReader::reset() {
    pending_.clear();
    event_ = {};
    hasData_ = false;
    firstLine_ = true;
    afterCr_ = false;
    refusal_.clear();
}

bool EventStreamReader::refuse(std::string why) {
    if (refusal_.empty()) {
        refusal_ = std::move(why);
    }
    pending_.clear();
    return false;
}

bool EventStreamReader::feed(std::string_view bytes) {
    if (!refusal_.empty()) {
        return false;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\n' && c != '\r') {
            afterCr_ = false;
            continue;
        }
        if (c == '\n' && afterCr_) {
            afterCr_ = false;
            start = i + 1;
            continue;
        }
        afterCr_ = c == '\r';
        if (pending_.size() + (i - start) > kMaxLine) {
            return refuse("a line longer than 1 MiB");
        }
        pending_.append(bytes.substr(start, i - start));
        line(pending_);
        pending_.clear();
        start = i + 1;
        if (!refusal_.empty()) {
            return false;
        }
    }
    if (pending_.size() + (bytes.size() - start) > kMaxLine) {
        return refuse("a line longer than 1 MiB");
    }
    pending_.append(bytes.substr(start));
    return true;
}

void EventStreamReader::line(std::string_view text) {
    if (firstLine_) {
        firstLine_ = false;
        if (text.starts_with("\xEF\xBB\xBF")) {
            text.remove_prefix(3);
        }
    }
    if (text.empty()) {
        // The event is complete; without data it is nothing.
        if (hasData_) {
            if (event_.name.empty()) {
                event_.name = "message";
            }
            handler_(event_);
        }
        event_.name.clear();
        event_.data.clear();
        hasData_ = false;
        return;
    }
    if (text[0] == ':') {
        return; // a comment: the server keeps the stream alive
    }
    const std::size_t colon = text.find(':');
    const std::string_view field = text.substr(0, colon);
    std::string_view value =
        colon == std::string_view::npos ? std::string_view() : text.substr(colon + 1);
    if (value.starts_with(' ')) {
        value.remove_prefix(1);
    }
    if (field == "data") {
        if (event_.data.size() + value.size() + 1 > kMaxEvent) {
            refuse("an event of more than 1 MiB that never ends");
            return;
        }
        if (hasData_) {
            event_.data += '\n';
        }
        event_.data.append(value);
        hasData_ = true;
    } else if (field == "event") {
        event_.name.assign(value);
    } else if (field == "id") {
        if (value.find('\0') == std::string_view::npos) {
            event_.id.assign(value); // kept for the events after it, as the standard says
        }
    } else if (field == "retry") {
        // Digits only, nine at the most; anything else is passed over.
        long ms = 0;
        bool digits = !value.empty() && value.size() < 10;
        for (std::size_t i = 0; digits && i < value.size(); ++i) {
            digits = value[i] >= '0' && value[i] <= '9';
            ms = ms * 10 + (value[i] - '0');
        }
        if (digits) {
            retryMs_ = ms;
        }
    }
}

} // namespace talviren::remote
