#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talviren {

// A log file's text, whatever it is stored as. A plain file is mapped into memory; one whose
// first bytes are gzip's (1f 8b), whatever its name ("COM1.csv-2026-12-09.gz", or a rotated
// file without the ending), is decompressed into memory whole, every member of it. A file
// that cannot be read, or a gzip stream that is damaged or cut short, has an error instead,
// naming the file.
class LogFile {
public:
    explicit LogFile(std::string path);
    // Only its beginning: at least `bytes` of its text where it has them (its first lines).
    static LogFile beginning(std::string path, std::size_t bytes);
    ~LogFile();
    LogFile(LogFile&& other) noexcept;
    LogFile& operator=(LogFile&&) = delete;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    const std::string& path() const { return path_; }
    // Why it cannot be read; empty when it can.
    const std::string& error() const { return error_; }
    bool compressed() const { return compressed_; }
    std::string_view text() const;

private:
    LogFile(std::string path, std::size_t limit);
    void map(int fd, std::size_t size);
    void decompress(std::string_view packed, std::size_t limit);

    std::string path_;
    std::string error_;
    bool compressed_ = false;
    void* mapped_ = nullptr; // a plain file's mapping (or the compressed bytes while read)
    std::size_t mappedSize_ = 0;
    std::vector<char> unpacked_; // a compressed file's text
};

// Whether these are the first bytes of a gzip stream.
bool isGzip(std::string_view bytes);

// Decompresses a whole gzip stream in memory, every member of it; false with `error` when it is
// damaged or cut short (then `text` is empty).
bool gunzip(std::string_view packed, std::vector<char>& text, std::string& error);

} // namespace talviren
