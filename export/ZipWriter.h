#pragma once

#include "export/AtomicFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talviren {

// A ZIP archive written front to back into an atomic file, each entry deflated as it streams
// in (zlib, fastest level: a workbook of a million rows is mostly the same few bytes).
// Sizes above 4 GiB are not supported.
class ZipWriter {
public:
    explicit ZipWriter(AtomicFile& file) : file_(file) {}
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Starts an entry; the previous one is finished first.
    bool begin(const std::string& name);
    // Adds bytes to the entry.
    bool write(std::string_view bytes);
    // Finishes the last entry and writes the directory.
    bool finish();

    const std::string& error() const { return error_; }

private:
    struct Entry {
        std::string name;
        std::uint32_t crc = 0;
        std::uint64_t compressed = 0;
        std::uint64_t size = 0;
        std::uint64_t offset = 0;
    };
    bool end();
    bool deflate(std::string_view bytes, bool last);
    bool put(std::string_view bytes);
    bool fail(std::string what);

    AtomicFile& file_;
    std::vector<Entry> entries_;
    void* stream_ = nullptr; // z_stream of the open entry
    std::uint64_t position_ = 0;
    std::string out_;
    std::string error_;
};

} // namespace talviren
