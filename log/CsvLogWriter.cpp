#include "log/CsvLogWriter.h"

#include "log/CsvLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talviren {

CsvLogWriter::CsvLogWriter(std::string path) : path_(std::move(path)) {}

CsvLogWriter::~CsvLogWriter() {
    close();
}

bool CsvLogWriter::fail(const std::string& what, int error) {
    if (!failed_) {
        failed_ = true;
        error_ = what + " " + path_ + ": " + std::strerror(error);
    }
    return false;
}

bool CsvLogWriter::open() {
    close();
    failed_ = false;
    error_.clear();
    lines_ = 0;
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        return fail("cannot open", errno);
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        return fail("cannot open", errno);
    }
    if (info.st_size == 0) {
        const std::string header = std::string(csvlog::kHeader) + "\n";
        return writeAll(header);
    }
    // A line cut short (a crash in the middle of a write elsewhere) must not swallow the first
    // new reading: finish it with a line break.
    const int reader = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    char last = '\n';
    if (reader >= 0) {
        if (::pread(reader, &last, 1, info.st_size - 1) != 1) {
            last = '\n';
        }
        ::close(reader);
    }
    return last == '\n' || writeAll("\n");
}

bool CsvLogWriter::writeAll(std::string_view bytes) {
    if (fd_ < 0 || failed_) {
        return false;
    }
    ssize_t written;
    do {
        written = ::write(fd_, bytes.data(), bytes.size());
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(bytes.size())) {
        pending_ = true;
        return true;
    }
    const int error = written < 0 ? errno : ENOSPC;
    if (written > 0) {
        // Part of the line reached the file: take it back, so that the file keeps whole lines.
        struct stat info {};
        if (::fstat(fd_, &info) == 0 && info.st_size >= written) {
            (void)!::ftruncate(fd_, info.st_size - written);
        }
    }
    return fail("cannot write", error);
}

bool CsvLogWriter::append(const TimedReading& reading) {
    return appendLine(csvlog::line(reading));
}

bool CsvLogWriter::appendLine(std::string_view line) {
    if (!writeAll(line)) {
        return false;
    }
    ++lines_;
    return true;
}

bool CsvLogWriter::syncIfDue(std::int64_t nowNs) {
    if (fd_ < 0 || failed_) {
        return !failed_;
    }
    if (!pending_ || (everSynced_ && nowNs - lastSyncNs_ < kSyncIntervalNs)) {
        return true;
    }
    return sync(nowNs);
}

bool CsvLogWriter::sync(std::int64_t nowNs) {
    if (::fdatasync(fd_) != 0) {
        return fail("cannot write", errno);
    }
    pending_ = false;
    everSynced_ = true;
    lastSyncNs_ = nowNs;
    // Writes to a file that was deleted (with its folder, or by hand) succeed and go nowhere.
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && info.st_nlink == 0) {
        return fail("cannot write", ENOENT);
    }
    return true;
}

void CsvLogWriter::close() {
    if (fd_ < 0) {
        return;
    }
    if (pending_ && !failed_) {
        ::fdatasync(fd_);
    }
    ::close(fd_);
    fd_ = -1;
    pending_ = false;
    everSynced_ = false;
}

} // namespace talviren
