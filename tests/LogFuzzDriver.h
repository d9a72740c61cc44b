#pragma once

// Bytes as a compressed log, for the fuzz target and the suite's replay of what it found: the
// decompression and the reader must hold whatever they are given.

#include "log/CsvLogReader.h"
#include "log/LogFile.h"

#include <zlib.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace talviren::testing {

// The first broken invariant, or empty: the bytes read as a gzip stream (and its text as a
// log), and compressed here and decompressed again to the same bytes.
inline std::string replayCompressedLog(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    struct Count : LogReadingSink {
        std::int64_t readings = 0;
        void reading(std::int64_t, const MeterReading&, std::string_view,
                     std::string_view) override {
            ++readings;
        }
    } count;
    std::vector<char> text;
    std::string error;
    if (gunzip(bytes, text, error)) {
        const LogReadResult read = readCsvLogText({text.data(), text.size()}, count);
        if (read.readings != count.readings) {
            return "readings counted apart from those handed on";
        }
    } else if (!text.empty() || error.empty()) {
        return "a refused stream left text, or no reason";
    }
    // Two members end to end, as a file appended to by gzip twice.
    std::string packed;
    for (int member = 0; member < 2; ++member) {
        z_stream stream{};
        if (deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            return "zlib would not start";
        }
        std::string out(deflateBound(&stream, static_cast<uLong>(size)) + 64, '\0');
        stream.next_in = const_cast<Bytef*>(data);
        stream.avail_in = static_cast<uInt>(size);
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        const int status = deflate(&stream, Z_FINISH);
        out.resize(out.size() - stream.avail_out);
        deflateEnd(&stream);
        if (status != Z_STREAM_END) {
            return "zlib would not finish";
        }
        packed += out;
    }
    if (!gunzip(packed, text, error)) {
        return "a stream of two members refused: " + error;
    }
    if (std::string_view(text.data(), text.size()) != std::string(bytes) + std::string(bytes)) {
        return "two members decompressed to other bytes";
    }
    return {};
}

} // namespace talviren::testing
