#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace talviren::remote {

// One server-sent event: its name ("message" when none was given), its id (empty when none)
// and its data, the data lines joined by line feeds.
struct StreamEvent {
    std::string name;
    std::string id;
    std::string data;
};

// Reads a text/event-stream (the HTML standard's server-sent events) as its bytes come, in any
// pieces: comments and unknown fields are passed over, "retry:" is noted. Refuses, for good, a
// stream that is no such thing from this program's point of view: a line longer than
// kMaxLine, or an event that never ends (kMaxEvent bytes of data and no empty line). Plain C++.
class EventStreamReader {
public:
    static constexpr std::size_t kMaxLine = 1 << 20;
    static constexpr std::size_t kMaxEvent = 1 << 20;

    using Handler = std::function<void(const StreamEvent& event)>;
    explicit EventStreamReader(Handler handler) : handler_(std::move(handler)) {}

    // Takes the next bytes; false once the stream is refused (see refusal()).
    bool feed(std::string_view bytes);
    // Why the stream was refused; empty while it is not.
    const std::string& refusal() const { return refusal_; }
    // The reconnection time the server asked for, in ms (0: none).
    long retryMs() const { return retryMs_; }
    // Starts over, for a new connection.
    void reset();

private:
    void line(std::string_view text);
    bool refuse(std::string why);

    Handler handler_;
    std::string pending_; // a line not ended yet
    StreamEvent event_;
    bool hasData_ = false;
    bool firstLine_ = true; // a byte-order mark may open the stream
    bool afterCr_ = false;  // a CR ended the last line: a LF right after it belongs to it
    long retryMs_ = 0;
    std::string refusal_;
};

} // namespace talviren::remote
