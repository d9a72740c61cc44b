#pragma once

#include <string>
#include <string_view>

namespace talviren {

// A file written beside its target under a temporary name and renamed over the target only
// on commit, so a failed save never leaves a truncated file or destroys the old one.
class AtomicFile {
public:
    explicit AtomicFile(std::string target);
    ~AtomicFile(); // removes the temporary file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file; false with error() set when the folder refuses it.
    bool open();
    // Path of the temporary file, for writers that want a name (empty before open()).
    const std::string& temporaryPath() const { return temporary_; }
    // Appends bytes to the temporary file.
    bool write(std::string_view bytes);
    // Flushes to disk, renames over the target and flushes the folder.
    bool commit();

    const std::string& error() const { return error_; }

private:
    bool fail(const std::string& what);
    bool syncFolder();

    std::string target_;
    std::string temporary_;
    int fd_ = -1;
    bool committed_ = false;
    std::string error_;
};

// Writes the whole content atomically; false with `error` set on failure.
bool writeFileAtomically(const std::string& path, std::string_view content, std::string& error);

} // namespace talviren
