#include "export/ZipWriter.h"

#include <zlib.h>

namespace talviren {

namespace {

void put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, std::uint64_t value) {
    put16(out, static_cast<unsigned>(value & 0xFFFF));
    put16(out, static_cast<unsigned>((value >> 16) & 0xFFFF));
}

// 1980-01-01 00:00, as DOS dates go: the entries carry no time of their own.
constexpr unsigned kDosTime = 0;
constexpr unsigned kDosDate = (0 << 9) | (1 << 5) | 1;
constexpr unsigned kDataDescriptor = 0x0008; // sizes and CRC follow the data
constexpr unsigned kUtf8Names = 0x0800;
constexpr unsigned kDeflated = 8;
constexpr std::size_t kChunk = 1 << 18;

} // namespace

ZipWriter::~ZipWriter() {
    if (stream_) {
        deflateEnd(static_cast<z_stream*>(stream_));
        delete static_cast<z_stream*>(stream_);
    }
}

bool ZipWriter::fail(std::string what) {
    if (error_.empty()) {
        error_ = std::move(what);
    }
    return false;
}

bool ZipWriter::put(std::string_view bytes) {
    if (!file_.write(bytes)) {
        return fail(file_.error());
    }
    position_ += bytes.size();
    return true;
}

bool ZipWriter::begin(const std::string& name) {
    if (!end()) {
        return false;
    }
    Entry entry;
    entry.name = name;
    entry.offset = position_;
    entry.crc = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    std::string header;
    put32(header, 0x04034B50);
    put16(header, 20); // version needed: deflate
    put16(header, kDataDescriptor | kUtf8Names);
    put16(header, kDeflated);
    put16(header, kDosTime);
    put16(header, kDosDate);
    put32(header, 0); // CRC, sizes: in the data descriptor
    put32(header, 0);
    put32(header, 0);
    put16(header, static_cast<unsigned>(name.size()));
    put16(header, 0);
    header += name;
    entries_.push_back(std::move(entry));
    auto* stream = new z_stream{};
    if (deflateInit2(stream, Z_BEST_SPEED, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete stream;
        return fail("cannot start the compression");
    }
    stream_ = stream;
    return put(header);
}

bool ZipWriter::deflate(std::string_view bytes, bool last) {
    auto* stream = static_cast<z_stream*>(stream_);
    Entry& entry = entries_.back();
    if (!bytes.empty()) { // crc32 with no buffer would start the sum afresh
        entry.crc = static_cast<std::uint32_t>(crc32(entry.crc,
                                                     reinterpret_cast<const Bytef*>(bytes.data()),
                                                     static_cast<uInt>(bytes.size())));
    }
    entry.size += bytes.size();
    stream->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream->avail_in = static_cast<uInt>(bytes.size());
    int status = Z_OK;
    do {
        out_.resize(kChunk);
        stream->next_out = reinterpret_cast<Bytef*>(out_.data());
        stream->avail_out = static_cast<uInt>(out_.size());
        status = ::deflate(stream, last ? Z_FINISH : Z_NO_FLUSH);
        if (status == Z_STREAM_ERROR) {
            return fail("cannot compress the workbook");
        }
        const std::size_t produced = out_.size() - stream->avail_out;
        entry.compressed += produced;
        if (produced > 0 && !put(std::string_view(out_.data(), produced))) {
            return false;
        }
    } while (stream->avail_out == 0 || (last && status != Z_STREAM_END));
    return true;
}

bool ZipWriter::write(std::string_view bytes) {
    if (!stream_) {
        return fail("no entry to write to");
    }
    while (!bytes.empty()) {
        const std::string_view piece = bytes.substr(0, kChunk);
        if (!deflate(piece, false)) {
            return false;
        }
        bytes.remove_prefix(piece.size());
    }
    return true;
}

bool ZipWriter::end() {
    if (!stream_) {
        return error_.empty();
    }
    const bool ok = deflate({}, true);
    auto* stream = static_cast<z_stream*>(stream_);
    deflateEnd(stream);
    delete stream;
    stream_ = nullptr;
    if (!ok) {
        return false;
    }
    const Entry& entry = entries_.back();
    if (entry.size > 0xFFFFFFFFu || entry.compressed > 0xFFFFFFFFu) {
        return fail("the workbook is larger than 4 GiB");
    }
    std::string descriptor;
    put32(descriptor, 0x08074B50);
    put32(descriptor, entry.crc);
    put32(descriptor, entry.compressed);
    put32(descriptor, entry.size);
    return put(descriptor);
}

bool ZipWriter::finish() {
    if (!end()) {
        return false;
    }
    const std::uint64_t directoryStart = position_;
    std::string directory;
    for (const Entry& entry : entries_) {
        put32(directory, 0x02014B50);
        put16(directory, 20); // made by
        put16(directory, 20); // needed
        put16(directory, kDataDescriptor | kUtf8Names);
        put16(directory, kDeflated);
        put16(directory, kDosTime);
        put16(directory, kDosDate);
        put32(directory, entry.crc);
        put32(directory, entry.compressed);
        put32(directory, entry.size);
        put16(directory, static_cast<unsigned>(entry.name.size()));
        put16(directory, 0); // extra
        put16(directory, 0); // comment
        put16(directory, 0); // disk
        put16(directory, 0); // internal attributes
        put32(directory, 0); // external attributes
        put32(directory, entry.offset);
        directory += entry.name;
    }
    if (directoryStart > 0xFFFFFFFFu) {
        return fail("the workbook is larger than 4 GiB");
    }
    const std::size_t directorySize = directory.size();
    put32(directory, 0x06054B50);
    put16(directory, 0);
    put16(directory, 0);
    put16(directory, static_cast<unsigned>(entries_.size()));
    put16(directory, static_cast<unsigned>(entries_.size()));
    put32(directory, directorySize);
    put32(directory, directoryStart);
    put16(directory, 0);
    return put(directory);
}

} // namespace talviren
