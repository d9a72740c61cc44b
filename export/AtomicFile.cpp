#include "export/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace talviren {

AtomicFile::AtomicFile(std::string target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (!temporary_.empty() && !committed_) {
        ::unlink(temporary_.c_str());
    }
}

bool AtomicFile::fail(const std::string& what) {
    error_ = what + ": " + std::strerror(errno);
    return false;
}

bool AtomicFile::open() {
    std::string pattern = target_ + ".XXXXXX";
    fd_ = ::mkstemp(pattern.data());
    if (fd_ < 0) {
        return fail("cannot create a file beside " + target_);
    }
    temporary_ = pattern;
    // mkstemp makes the file private; a saved file gets the user's usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    return true;
}

bool AtomicFile::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail("cannot write " + target_);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool AtomicFile::commit() {
    if (fd_ >= 0) {
        if (::fsync(fd_) != 0) {
            return fail("cannot write " + target_);
        }
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) {
            return fail("cannot write " + target_);
        }
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        return fail("cannot replace " + target_);
    }
    committed_ = true;
    return syncFolder();
}

bool AtomicFile::syncFolder() {
    // The rename lives in the folder: until the folder is on the disk, a power cut can bring
    // back the old file, or none.
    std::filesystem::path folder = std::filesystem::path(target_).parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return fail("cannot write " + target_);
    }
    // Some file systems cannot sync a folder (EINVAL); the file itself is on the disk there.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok || fail("cannot write " + target_);
}

bool writeFileAtomically(const std::string& path, std::string_view content, std::string& error) {
    AtomicFile file(path);
    const bool ok = file.open() && file.write(content) && file.commit();
    if (!ok) {
        error = file.error();
    }
    return ok;
}

} // namespace talviren
