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
    removed_ = false;
    error_.clear();
    lines_ = 0;
    syncedSize_ = 0;
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        return fail("cannot open", errno);
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        return fail("cannot open", errno);
    }
    const off_t size = cutNulTail(info.st_size);
    if (size == 0) {
        const std::string header = std::string(csvlog::kHeader) + "\n";
        return writeAll(header);
    }
    syncedSize_ = size;
    // A line cut short (a crash in the middle of a write elsewhere) must not swallow the first
    // new reading: finish it with a line break.
    const int reader = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    char last = '\n';
    if (reader >= 0) {
        if (::pread(reader, &last, 1, size - 1) != 1) {
            last = '\n';
        }
        ::close(reader);
    }
    return last == '\n' || writeAll("\n");
}

off_t CsvLogWriter::cutNulTail(off_t size) {
    const int reader = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader < 0) {
        return size;
    }
    char block[4096];
    off_t end = size;
    while (end > 0) {
        const off_t start = end > static_cast<off_t>(sizeof block) ? end - sizeof block : 0;
        const ssize_t got = ::pread(reader, block, static_cast<std::size_t>(end - start), start);
        if (got != end - start) {
            break;
        }
        ssize_t i = got;
        while (i > 0 && block[i - 1] == '\0') {
            --i;
        }
        end = start + i;
        if (i > 0) {
            break;
        }
    }
    ::close(reader);
    if (end < size && ::ftruncate(fd_, end) != 0) {
        return size;
    }
    return end;
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

bool CsvLogWriter::appendLines(std::string_view lines, std::int64_t count) {
    if (!writeAll(lines)) {
        return false;
    }
    lines_ += count;
    return true;
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
    if (fd_ < 0 || failed_) {
        return false;
    }
    if (::fdatasync(fd_) != 0) {
        const int error = errno;
        (void)!::ftruncate(fd_, syncedSize_);
        return fail("cannot write", error);
    }
    pending_ = false;
    everSynced_ = true;
    lastSyncNs_ = nowNs;
    // Writes to a file that was deleted (with its folder, or by hand) succeed and go nowhere.
    struct stat info {};
    if (::fstat(fd_, &info) == 0) {
        if (info.st_nlink == 0) {
            removed_ = true;
            return fail("cannot write", ENOENT);
        }
        syncedSize_ = info.st_size;
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
