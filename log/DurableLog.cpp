#include "log/DurableLog.h"

#include "log/CsvLog.h"

#include <cstdio>
#include <ctime>
#include <sys/statvfs.h>

namespace talviren {

namespace {

// Lines written in one go while catching up: a day that waited goes out in some seconds, a
// batch a tick, so that the readings' path never waits long for it.
constexpr std::size_t kCatchUpBatch = 2000;
// Lines kept for writing again until the next sync: past this many (never at 2 a second, in
// a second), the sync comes early, so that what is kept stays small however fast lines come.
constexpr std::size_t kMostUnsynced = 8192;

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string mebibytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

} // namespace

DurableLog::DurableLog(Settings settings, DurableLogEvents events)
    : settings_(std::move(settings)), events_(std::move(events)) {
    for (std::size_t i = 0; i + 1 < settings_.path.size(); ++i) {
        const char c = settings_.path[i + 1];
        if (settings_.path[i] == '%' && (c == 'Y' || c == 'm' || c == 'd' || c == 'H')) {
            fields_ = true;
        }
    }
}

DurableLog::~DurableLog() {
    close();
}

const std::string& DurableLog::nameFor(std::int64_t wallMs) {
    if (!fields_) {
        return settings_.path;
    }
    // Zones differ from UTC by whole quarter hours: the local hour changes on a minute.
    const std::int64_t minute = wallMs >= 0 ? wallMs / 60'000 : (wallMs - 59'999) / 60'000;
    if (minute == nameMinute_) {
        return name_;
    }
    nameMinute_ = minute;
    const auto seconds = static_cast<std::time_t>(minute * 60);
    std::tm local{};
    localtime_r(&seconds, &local);
    name_.clear();
    const std::string& path = settings_.path;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char next = i + 1 < path.size() ? path[i + 1] : '\0';
        int value = -1;
        const char* format = "%02d";
        switch (path[i] == '%' ? next : '\0') {
        case 'Y':
            value = local.tm_year + 1900;
            format = "%04d";
            break;
        case 'm':
            value = local.tm_mon + 1;
            break;
        case 'd':
            value = local.tm_mday;
            break;
        case 'H':
            value = local.tm_hour;
            break;
        default:
            break;
        }
        if (value < 0) {
            name_ += path[i];
            continue;
        }
        char field[16];
        std::snprintf(field, sizeof field, format, value);
        name_ += field;
        ++i;
    }
    return name_;
}

bool DurableLog::open(std::int64_t wallMs, std::string& error) {
    lastWallMs_ = wallMs;
    open_ = openFile(nameFor(wallMs), nullptr);
    if (!open_) {
        error = writer_->error();
        writer_.reset();
    }
    return open_;
}

bool DurableLog::openFile(const std::string& name, const char* why) {
    writer_ = std::make_unique<CsvLogWriter>(name);
    // Synced at once: a sync that fails later cuts back to the header, never behind it.
    if (!writer_->open() || !writer_->sync(nowNs_)) {
        return false;
    }
    path_ = name;
    if (why && events_.fileStarted) {
        events_.fileStarted(path_, why);
    }
    return true;
}

bool DurableLog::writerFor(const std::string& name) {
    if (writer_ && !writer_->failed() && name == path_) {
        return true;
    }
    if (writer_ && !writer_->failed()) {
        // A new hour or day: what the old file has is made safe before the next one starts.
        if (!sync()) {
            return false;
        }
        return openFile(name, "a new file for the time of the readings");
    }
    return openFile(name, nullptr);
}

bool DurableLog::write(std::vector<Line>& lines) {
    const std::string name = nameFor(lines.front().wallMs);
    if (!writerFor(name)) {
        return false;
    }
    std::string text;
    for (const Line& line : lines) {
        text += line.text;
    }
    if (!writer_->appendLines(text, static_cast<std::int64_t>(lines.size()))) {
        return false;
    }
    for (Line& line : lines) {
        unsynced_.push_back(std::move(line));
    }
    lines.clear();
    return true;
}

void DurableLog::append(const TimedReading& reading) {
    if (!open_) {
        return;
    }
    lastWallMs_ = reading.wallMs;
    Line one{reading.wallMs, csvlog::line(reading)};
    if (behind_) {
        wait(std::move(one));
        return;
    }
    // The way of nearly every line: its file is open, one write.
    if (writer_ && !writer_->failed() && nameFor(one.wallMs) == path_) {
        if (writer_->appendLines(one.text, 1)) {
            unsynced_.push_back(std::move(one));
            if (unsynced_.size() >= kMostUnsynced) {
                sync();
            }
            return;
        }
    }
    std::vector<Line> line;
    line.push_back(std::move(one));
    if (!write(line)) {
        fallBehind(writer_ ? writer_->error() : "cannot write " + nameFor(reading.wallMs));
        wait(std::move(line.front())); // after what a failed sync gave back, if anything
    } else if (unsynced_.size() >= kMostUnsynced) {
        sync();
    }
}

bool DurableLog::sync() {
    lastSyncNs_ = nowNs_;
    if (unsynced_.empty() || !writer_) {
        return true;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (writer_->sync(nowNs_)) {
            linesWritten_ += static_cast<std::int64_t>(unsynced_.size());
            unsynced_.clear();
            return true;
        }
        if (!writer_->removed() || attempt > 0) {
            break;
        }
        // Removed while it ran (by hand, or its folder): the writes went nowhere. Not a fault of
        // the disk: the file is created again with its header, and they go there.
        std::vector<Line> lines = std::move(unsynced_);
        unsynced_.clear();
        if (!openFile(path_, "was removed; created again") || !write(lines)) {
            waitAgain(lines);
            break;
        }
    }
    // What went since the last good sync may never have reached the disk: the writer cut it
    // off the file, and it is written again before whatever waits.
    const std::string error = writer_->error();
    writer_.reset();
    waitAgain(unsynced_);
    fallBehind(error);
    return false;
}

void DurableLog::tick(std::int64_t nowNs) {
    nowNs_ = nowNs;
    if (!open_) {
        return;
    }
    if (!behind_) {
        if (nowNs - lastSyncNs_ >= CsvLogWriter::kSyncIntervalNs) {
            // What is written is made safe first; then no more while the space is short.
            if (sync()) {
                enoughSpace();
            }
        }
        return;
    }
    if (!catchingUp_ && nowNs - lastTryNs_ >= settings_.retryNs) {
        lastTryNs_ = nowNs;
        catchingUp_ = enoughSpace();
    }
    if (catchingUp_) {
        catchUp();
    }
}

void DurableLog::catchUp() {
    std::vector<Line> lines;
    if (!waiting_.empty()) {
        // One file a batch: the lines of the next hour or day go with the next.
        const std::string name = nameFor(waiting_.front().wallMs);
        while (!waiting_.empty() && lines.size() < kCatchUpBatch &&
               nameFor(waiting_.front().wallMs) == name) {
            lines.push_back(std::move(waiting_.front()));
            waiting_.pop_front();
        }
        const std::size_t count = lines.size();
        if (!write(lines)) {
            waitAgain(lines);
            catchingUp_ = false;
            error_ = writer_ ? writer_->error() : "cannot write " + name;
            return;
        }
        if (!sync()) {
            catchingUp_ = false;
            return;
        }
        late_ += count;
    }
    if (waiting_.empty()) {
        behind_ = false;
        catchingUp_ = false;
        error_.clear();
        const std::uint64_t late = late_;
        const std::uint64_t dropped = droppedBehind_;
        late_ = 0;
        droppedBehind_ = 0;
        if (events_.caughtUp) {
            events_.caughtUp(late, dropped);
        }
    }
}

bool DurableLog::enoughSpace() {
    if (settings_.minFreeBytes == 0) {
        return true;
    }
    const std::string& path = path_.empty() ? settings_.path : path_;
    struct statvfs info {};
    if (::statvfs(folderOf(path).c_str(), &info) != 0) {
        return true; // cannot tell: the write will
    }
    const std::uint64_t free = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
    if (free >= settings_.minFreeBytes) {
        return true;
    }
    const std::string reason = "writing " + path + " paused: " + mebibytes(free) +
                               " free on its file system, less than the " +
                               mebibytes(settings_.minFreeBytes) + " kept free";
    if (behind_) {
        error_ = reason;
    } else {
        fallBehind(reason);
    }
    return false;
}

void DurableLog::fallBehind(const std::string& reason) {
    error_ = reason;
    if (behind_) {
        return;
    }
    behind_ = true;
    catchingUp_ = false;
    lastTryNs_ = nowNs_;
    if (events_.fellBehind) {
        events_.fellBehind(reason);
    }
}

void DurableLog::wait(Line line) {
    waiting_.push_back(std::move(line));
    if (waiting_.size() > settings_.maxWaiting) {
        waiting_.pop_front();
        ++dropped_;
        if (droppedBehind_++ == 0 && events_.dropping) {
            events_.dropping(settings_.maxWaiting);
        }
    }
}

void DurableLog::waitAgain(std::vector<Line>& lines) {
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        waiting_.push_front(std::move(*line));
    }
    lines.clear();
}

void DurableLog::reopen(std::int64_t nowNs) {
    if (!open_) {
        return;
    }
    nowNs_ = nowNs;
    if (!sync() || behind_) {
        writer_.reset(); // the next try opens the name anew
        return;
    }
    writer_.reset();
    if (!openFile(nameFor(lastWallMs_), nullptr)) {
        fallBehind(writer_->error());
    }
}

void DurableLog::close() {
    if (!open_) {
        return;
    }
    sync();
    writer_.reset();
    open_ = false;
}

} // namespace talviren
