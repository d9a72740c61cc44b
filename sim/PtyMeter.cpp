#include "sim/PtyMeter.h"

#include "link/PortNaming.h"
#include "link/Protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace talviren::sim {

namespace fs = std::filesystem;

PtyMeter::PtyMeter(MeterSimulator& meter, bool paced)
    : meter_(meter), paced_(paced), start_(std::chrono::steady_clock::now()), sendClock_(start_) {}

PtyMeter::~PtyMeter() {
    unpin();
    if (slave_ >= 0) {
        ::close(slave_);
    }
    if (master_ >= 0) {
        ::close(master_);
    }
}

bool PtyMeter::open(std::string& error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ::ptsname(master_);
    if (!name) {
        error = std::string("no pseudo-terminal name: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        error = std::string("cannot open ") + name + ": " + std::strerror(errno);
        return false;
    }
    // A new terminal echoes and translates; the meter's line is raw bytes.
    termios settings{};
    ::tcgetattr(slave_, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B9600);
    ::tcsetattr(slave_, TCSANOW, &settings);
    return true;
}

bool PtyMeter::pinAsPort(int portNumber, std::string& error) {
    link_ = ports::pinnedPortLink(portNumber);
    std::error_code code;
    fs::create_directories(link_.parent_path(), code);
    fs::remove(link_, code);
    fs::create_symlink(slavePath_, link_, code);
    if (code) {
        error = "cannot create " + link_.string() + ": " + code.message();
        link_.clear();
        return false;
    }
    return true;
}

void PtyMeter::unpin() {
    if (!link_.empty()) {
        std::error_code code;
        fs::remove(link_, code);
        link_.clear();
    }
}

double PtyMeter::secondsSinceStart() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void PtyMeter::sendDue() {
    if (pending_.empty()) {
        return;
    }
    std::size_t due = pending_.size();
    const auto now = std::chrono::steady_clock::now();
    if (paced_) {
        sendCredit_ +=
            std::chrono::duration<double>(now - sendClock_).count() * protocol::kBytesPerSecond;
        sendCredit_ = std::min(sendCredit_, 16.0); // no bursts after an idle spell
        due = std::min(due, static_cast<std::size_t>(sendCredit_));
    }
    sendClock_ = now;
    if (due == 0) {
        return;
    }
    std::vector<std::uint8_t> chunk(pending_.begin(), pending_.begin() + static_cast<long>(due));
    const ssize_t written = ::write(master_, chunk.data(), chunk.size());
    if (written > 0) {
        pending_.erase(pending_.begin(), pending_.begin() + written);
        if (paced_) {
            sendCredit_ -= static_cast<double>(written);
        }
    }
}

void PtyMeter::pump(int timeoutMs) {
    short events = POLLIN;
    if (!pending_.empty() && paced_) {
        timeoutMs = std::min(timeoutMs, 2); // keep the bytes flowing at line speed
    } else if (!pending_.empty()) {
        events |= POLLOUT; // unpaced: send as fast as the terminal takes them
    }
    if (pending_.empty()) {
        sendClock_ = std::chrono::steady_clock::now();
        sendCredit_ = 1; // the first byte of a reply goes out at once
    }
    pollfd fd{master_, events, 0};
    if (::poll(&fd, 1, timeoutMs) > 0 && (fd.revents & POLLIN)) {
        std::uint8_t commands[64];
        const ssize_t count = ::read(master_, commands, sizeof commands);
        for (ssize_t i = 0; i < count; ++i) {
            const auto reply = meter_.answer(commands[i], secondsSinceStart());
            if (pending_.empty()) {
                sendClock_ = std::chrono::steady_clock::now();
                sendCredit_ = 1;
            }
            pending_.insert(pending_.end(), reply.begin(), reply.end());
        }
    }
    sendDue();
}

} // namespace talviren::sim
