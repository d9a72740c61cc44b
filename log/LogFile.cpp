#include "log/LogFile.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace talviren {

bool isGzip(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1f &&
           static_cast<unsigned char>(bytes[1]) == 0x8b;
}

namespace {

// The uncompressed size a gzip member gives in its last four bytes (modulo 4 GiB).
std::size_t statedSize(std::string_view packed) {
    if (packed.size() < 18) {
        return 0;
    }
    const auto* end = reinterpret_cast<const unsigned char*>(packed.data() + packed.size());
    return static_cast<std::size_t>(end[-4]) | static_cast<std::size_t>(end[-3]) << 8 |
           static_cast<std::size_t>(end[-2]) << 16 | static_cast<std::size_t>(end[-1]) << 24;
}

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

} // namespace

LogFile::LogFile(std::string path) : LogFile(std::move(path), 0) {}

LogFile LogFile::beginning(std::string path, std::size_t bytes) {
    return LogFile(std::move(path), bytes == 0 ? 1 : bytes);
}

LogFile::LogFile(std::string path, std::size_t limit) : path_(std::move(path)) {
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        error_ = "cannot open " + path_ + ": " + std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        error_ = "cannot read " + path_ + ": it is no file";
        return;
    }
    if (info.st_size == 0) {
        ::close(fd);
        error_ = path_ + " is empty";
        return;
    }
    map(fd, static_cast<std::size_t>(info.st_size));
    ::close(fd);
    if (!error_.empty()) {
        return;
    }
    const std::string_view bytes(static_cast<const char*>(mapped_), mappedSize_);
    if (isGzip(bytes)) {
        compressed_ = true;
        decompress(bytes, limit);
        ::munmap(mapped_, mappedSize_);
        mapped_ = nullptr;
        mappedSize_ = 0;
    }
}

void LogFile::map(int fd, std::size_t size) {
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
        error_ = "cannot read " + path_ + ": " + std::strerror(errno);
        return;
    }
    ::madvise(data, size, MADV_SEQUENTIAL);
    mapped_ = data;
    mappedSize_ = size;
}

void LogFile::decompress(std::string_view packed, std::size_t limit) {
    const std::string damaged = path_ + " is a damaged gzip file";
    if (limit > 0) {
        // The first lines only: zlib stops where asked, with no need of the rest.
        z_stream stream{};
        if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
            error_ = damaged;
            return;
        }
        unpacked_.resize(limit);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
        stream.avail_in = static_cast<uInt>(std::min<std::size_t>(packed.size(), 1u << 30));
        stream.next_out = reinterpret_cast<Bytef*>(unpacked_.data());
        stream.avail_out = static_cast<uInt>(limit);
        const int status = inflate(&stream, Z_SYNC_FLUSH);
        unpacked_.resize(limit - stream.avail_out);
        inflateEnd(&stream);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            error_ = damaged + " (" + (stream.msg ? stream.msg : "no stream") + ")";
        }
        return;
    }
    std::string why;
    if (!gunzip(packed, unpacked_, why)) {
        error_ = damaged + " (" + why + ")";
    }
}

bool gunzip(std::string_view packed, std::vector<char>& text, std::string& error) {
    // Member after member (a file may hold several, end to end); each says its size at its
    // end, the last one the file's.
    const std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor(
        libdeflate_alloc_decompressor());
    // Deflate packs at most 1032 bytes into one: no member needs more room, whatever its last
    // bytes claim.
    const auto most = [](std::string_view rest) { return rest.size() * 1032 + 1024; };
    std::size_t room = std::min(std::max(statedSize(packed), packed.size() * 4), most(packed));
    std::size_t written = 0;
    text.clear();
    while (!packed.empty()) {
        if (!isGzip(packed)) {
            error = "bytes after its end that are no gzip member";
            text.clear();
            return false;
        }
        std::size_t in = 0, out = 0;
        text.resize(written + room);
        const libdeflate_result result = libdeflate_gzip_decompress_ex(
            decompressor.get(), packed.data(), packed.size(), text.data() + written, room, &in,
            &out);
        if (result == LIBDEFLATE_INSUFFICIENT_SPACE && room < most(packed)) {
            room = std::min(room * 2, most(packed));
            continue;
        }
        if (result != LIBDEFLATE_SUCCESS) {
            error = "it is cut short, or its data does not decompress";
            text.clear();
            return false;
        }
        written += out;
        packed.remove_prefix(in);
        room = std::min(std::max<std::size_t>(packed.size() * 4, 1 << 16), most(packed));
    }
    text.resize(written);
    return true;
}

LogFile::~LogFile() {
    if (mapped_) {
        ::munmap(mapped_, mappedSize_);
    }
}

LogFile::LogFile(LogFile&& other) noexcept
    : path_(std::move(other.path_)), error_(std::move(other.error_)),
      compressed_(other.compressed_), mapped_(std::exchange(other.mapped_, nullptr)),
      mappedSize_(std::exchange(other.mappedSize_, 0)), unpacked_(std::move(other.unpacked_)) {}

std::string_view LogFile::text() const {
    if (!error_.empty()) {
        return {};
    }
    return mapped_ ? std::string_view(static_cast<const char*>(mapped_), mappedSize_)
                   : std::string_view(unpacked_.data(), unpacked_.size());
}

} // namespace talviren
