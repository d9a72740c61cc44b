#include "export/XlsWriter.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace talviren {

namespace {

// ---- little-endian bytes -------------------------------------------------------------

void put8(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
}
void put16(std::string& out, unsigned value) {
    put8(out, value);
    put8(out, value >> 8);
}
void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}
void set32(std::string& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// ---- BIFF8 records -------------------------------------------------------------------

constexpr std::size_t kMaxRecordData = 8224;

enum RecordId : unsigned {
    kBof = 0x0809,
    kEof = 0x000A,
    kCodepage = 0x0042,
    kWindow1 = 0x003D,
    kFont = 0x0031,
    kXf = 0x00E0,
    kStyle = 0x0293,
    kBoundSheet = 0x0085,
    kSst = 0x00FC,
    kContinue = 0x003C,
    kExtSst = 0x00FF,
    kDimensions = 0x0200,
    kWindow2 = 0x023E,
    kLabelSst = 0x00FD,
    kBlank = 0x0201,
};

void record(std::string& out, unsigned id, const std::string& data) {
    put16(out, id);
    put16(out, static_cast<unsigned>(data.size()));
    out += data;
}

void bof(std::string& out, unsigned substreamType) {
    std::string d;
    put16(d, 0x0600); // BIFF8
    put16(d, substreamType);
    put16(d, 0x0DBB); // build
    put16(d, 0x07CC); // year
    put32(d, 0);      // file history
    put32(d, 0x0006); // lowest version that can read all records
    record(out, kBof, d);
}

// Characters of a UTF-8 text as UTF-16 code units.
std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        std::uint32_t code = byte;
        int extra = 0;
        if (byte >= 0xF0) {
            code = byte & 0x07;
            extra = 3;
        } else if (byte >= 0xE0) {
            code = byte & 0x0F;
            extra = 2;
        } else if (byte >= 0xC0) {
            code = byte & 0x1F;
            extra = 1;
        }
        ++i;
        for (int k = 0; k < extra && i < text.size(); ++k, ++i) {
            code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
    }
    return out;
}

void font(std::string& out) {
    std::string d;
    put16(d, 200);    // 10 point, in twentieths
    put16(d, 0);      // no italic, no strike-out
    put16(d, 0x7FFF); // automatic colour
    put16(d, 400);    // normal weight
    put16(d, 0);      // no super/subscript
    put8(d, 0);       // no underline
    put8(d, 0);       // family
    put8(d, 0);       // character set
    put8(d, 0);
    const std::string_view name = "Arial";
    put8(d, static_cast<unsigned>(name.size()));
    put8(d, 0); // 8-bit characters
    d += name;
    record(out, kFont, d);
}

void xf(std::string& out, bool styleXf, unsigned horizontal) {
    std::string d;
    put16(d, 0);                                          // font 0
    put16(d, 0);                                          // "General" number format
    put16(d, styleXf ? 0xFFF5 : 0x0001);                  // locked; style XFs have no parent
    put8(d, 0x20 | horizontal);                           // vertical bottom, horizontal as given
    put8(d, 0);                                           // no rotation
    put8(d, 0);                                           // no indent
    put8(d, styleXf ? 0xF4 : (horizontal ? 0x10 : 0x00)); // alignment differs from the style
    put32(d, 0);                                          // no borders
    put32(d, 0);
    put16(d, 0x20C0); // default pattern colours
    record(out, kXf, d);
}

// The shared strings: each text once, in first-use order.
struct SharedStrings {
    std::vector<const std::string*> texts;
    std::unordered_map<std::string_view, std::uint32_t> index;
    std::uint32_t total = 0;

    std::uint32_t add(const std::string& text) {
        ++total;
        const auto [it, added] = index.try_emplace(text, static_cast<std::uint32_t>(texts.size()));
        if (added) {
            texts.push_back(&text);
        }
        return it->second;
    }
};

// Writes the SST with its CONTINUE records, and the EXTSST that indexes it. `streamBase` is
// the stream position at which `out` starts, for the absolute offsets of EXTSST.
void sharedStringTable(std::string& out, std::size_t streamBase, const SharedStrings& strings) {
    const std::uint32_t unique = static_cast<std::uint32_t>(strings.texts.size());
    const std::uint32_t bucketSize = std::max<std::uint32_t>(8, (unique + 127) / 128);
    struct Bucket {
        std::uint32_t streamPos;
        unsigned offsetInRecord;
    };
    std::vector<Bucket> buckets;

    std::string data; // the current record's data
    std::size_t recordStart = out.size();
    auto flush = [&](unsigned id) {
        record(out, id, data);
        data.clear();
        recordStart = out.size();
    };
    unsigned recordId = kSst;
    put32(data, strings.total);
    put32(data, unique);

    for (std::uint32_t i = 0; i < unique; ++i) {
        const std::u16string chars = toUtf16(*strings.texts[i]);
        const bool wide =
            std::any_of(chars.begin(), chars.end(), [](char16_t c) { return c > 0xFF; });
        const std::size_t charSize = wide ? 2 : 1;
        // The header and the first character stay in one record.
        if (data.size() + 3 + charSize > kMaxRecordData) {
            flush(recordId);
            recordId = kContinue;
        }
        if (i % bucketSize == 0) {
            buckets.push_back(
                {static_cast<std::uint32_t>(streamBase + recordStart + 4 + data.size()),
                 static_cast<unsigned>(4 + data.size())});
        }
        put16(data, static_cast<unsigned>(chars.size()));
        put8(data, wide ? 0x01 : 0x00);
        for (std::size_t k = 0; k < chars.size(); ++k) {
            if (data.size() + charSize > kMaxRecordData) {
                // A string split across records repeats its width flag in the CONTINUE.
                flush(recordId);
                recordId = kContinue;
                put8(data, wide ? 0x01 : 0x00);
            }
            if (wide) {
                put16(data, chars[k]);
            } else {
                put8(data, chars[k]);
            }
        }
    }
    flush(recordId);

    std::string ext;
    put16(ext, bucketSize);
    for (const Bucket& b : buckets) {
        put32(ext, b.streamPos);
        put16(ext, b.offsetInRecord);
        put16(ext, 0);
    }
    record(out, kExtSst, ext);
}

// ---- OLE2 compound file --------------------------------------------------------------

constexpr std::size_t kSector = 512;
constexpr std::uint32_t kFreeSect = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatSect = 0xFFFFFFFD;
constexpr std::uint32_t kDifSect = 0xFFFFFFFC;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::size_t kHeaderDifat = 109;
constexpr std::size_t kEntriesPerFatSector = kSector / 4;

void directoryEntry(std::string& out, std::u16string_view name, unsigned type, std::uint32_t child,
                    std::uint32_t start, std::uint32_t size) {
    std::string e;
    for (char16_t c : name) {
        put16(e, c);
    }
    e.resize(64, '\0');
    put16(e, name.empty() ? 0 : static_cast<unsigned>(2 * (name.size() + 1)));
    put8(e, type);
    put8(e, 1); // black
    put32(e, kNoStream);
    put32(e, kNoStream);
    put32(e, child);
    e.append(16 + 4 + 16, '\0'); // class id, state bits, times
    put32(e, start);
    put32(e, size);
    put32(e, 0);
    out += e;
}

std::string compoundFile(std::string stream) {
    // Streams below 4096 bytes would belong in the mini stream; padding after the final
    // EOF record keeps the layout to regular sectors, which every reader accepts.
    if (stream.size() < 4096) {
        stream.resize(4096, '\0');
    }
    stream.resize((stream.size() + kSector - 1) / kSector * kSector, '\0');
    const std::size_t streamSectors = stream.size() / kSector;
    const std::size_t directorySectors = 1;

    std::size_t fatSectors = 1;
    std::size_t difatSectors = 0;
    for (;;) {
        const std::size_t total = streamSectors + directorySectors + fatSectors + difatSectors;
        const std::size_t neededFat = (total + kEntriesPerFatSector - 1) / kEntriesPerFatSector;
        const std::size_t neededDifat =
            neededFat > kHeaderDifat ? (neededFat - kHeaderDifat + 126) / 127 : 0;
        if (neededFat == fatSectors && neededDifat == difatSectors) {
            break;
        }
        fatSectors = neededFat;
        difatSectors = neededDifat;
    }
    const std::size_t directoryStart = streamSectors;
    const std::size_t fatStart = directoryStart + directorySectors;
    const std::size_t difatStart = fatStart + fatSectors;

    std::string out;
    out.reserve(kSector * (1 + difatStart + difatSectors));
    // header
    out += "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    out.append(16, '\0');
    put16(out, 0x003E);
    put16(out, 0x0003);
    put16(out, 0xFFFE);
    put16(out, 9); // 512-byte sectors
    put16(out, 6); // 64-byte mini sectors
    out.append(6, '\0');
    put32(out, 0); // directory sectors (version 3)
    put32(out, static_cast<std::uint32_t>(fatSectors));
    put32(out, static_cast<std::uint32_t>(directoryStart));
    put32(out, 0);
    put32(out, 4096);
    put32(out, kEndOfChain); // no mini FAT
    put32(out, 0);
    put32(out, difatSectors ? static_cast<std::uint32_t>(difatStart) : kEndOfChain);
    put32(out, static_cast<std::uint32_t>(difatSectors));
    for (std::size_t i = 0; i < kHeaderDifat; ++i) {
        put32(out, i < fatSectors ? static_cast<std::uint32_t>(fatStart + i) : kFreeSect);
    }
    // the workbook stream
    out += stream;
    // directory: root, the workbook stream, two unused entries
    directoryEntry(out, u"Root Entry", 5, 1, kEndOfChain, 0);
    directoryEntry(out, u"Workbook", 2, kNoStream, 0, static_cast<std::uint32_t>(stream.size()));
    directoryEntry(out, u"", 0, kNoStream, 0, 0);
    directoryEntry(out, u"", 0, kNoStream, 0, 0);
    // FAT
    std::vector<std::uint32_t> fat(fatSectors * kEntriesPerFatSector, kFreeSect);
    for (std::size_t i = 0; i < streamSectors; ++i) {
        fat[i] = i + 1 < streamSectors ? static_cast<std::uint32_t>(i + 1) : kEndOfChain;
    }
    fat[directoryStart] = kEndOfChain;
    for (std::size_t i = 0; i < fatSectors; ++i) {
        fat[fatStart + i] = kFatSect;
    }
    for (std::size_t i = 0; i < difatSectors; ++i) {
        fat[difatStart + i] = kDifSect;
    }
    for (std::uint32_t entry : fat) {
        put32(out, entry);
    }
    // DIFAT sectors for FAT sectors beyond the header's 109
    for (std::size_t d = 0; d < difatSectors; ++d) {
        for (std::size_t k = 0; k < 127; ++k) {
            const std::size_t fatIndex = kHeaderDifat + d * 127 + k;
            put32(out, fatIndex < fatSectors ? static_cast<std::uint32_t>(fatStart + fatIndex)
                                             : kFreeSect);
        }
        put32(out,
              d + 1 < difatSectors ? static_cast<std::uint32_t>(difatStart + d + 1) : kEndOfChain);
    }
    return out;
}

class TableGrid : public GridSource {
public:
    explicit TableGrid(const RecordTable& table) : table_(table) {}
    int rows() const override { return table_.rows(); }
    int columns() const override { return table_.columns(); }
    const std::string& cell(int row, int column) const override { return table_.cell(row, column); }

private:
    const RecordTable& table_;
};

} // namespace

std::optional<std::string> xlsWorkbook(const RecordTable& table) {
    return xlsWorkbook(TableGrid(table));
}

std::optional<std::string> xlsWorkbook(const GridSource& grid) {
    const int rows = grid.rows();
    const int columns = grid.columns();
    if (rows > 65536 || columns > 256) {
        return std::nullopt;
    }
    constexpr unsigned kCentredXf = 16; // after the 15 style XFs and the default cell XF

    // Worksheet cells first, so the shared strings are known.
    SharedStrings strings;
    std::string cells;
    cells.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns) * 14);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            const std::string& text = grid.cell(r, c);
            std::string d;
            put16(d, static_cast<unsigned>(r));
            put16(d, static_cast<unsigned>(c));
            put16(d, kCentredXf);
            if (text.empty()) {
                record(cells, kBlank, d); // an empty cell that still carries the centring
            } else {
                put32(d, strings.add(text));
                record(cells, kLabelSst, d);
            }
        }
    }

    std::string globals;
    bof(globals, 0x0005);
    {
        std::string d;
        put16(d, 0x04B0); // UTF-16
        record(globals, kCodepage, d);
    }
    {
        std::string d;
        put16(d, 0);
        put16(d, 0);
        put16(d, 0x3000);
        put16(d, 0x1E00);
        put16(d, 0x0038);
        put16(d, 0);
        put16(d, 0);
        put16(d, 1);
        put16(d, 0x0258);
        record(globals, kWindow1, d);
    }
    for (int i = 0; i < 4; ++i) {
        font(globals);
    }
    for (int i = 0; i < 15; ++i) {
        xf(globals, true, 0);
    }
    xf(globals, false, 0); // default cell format
    xf(globals, false, 2); // centred
    {
        std::string d;
        put16(d, 0x8000); // built-in style on XF 0
        put8(d, 0);       // "Normal"
        put8(d, 0xFF);
        record(globals, kStyle, d);
    }
    const std::size_t boundSheetAt = globals.size();
    {
        std::string d;
        put32(d, 0); // worksheet position, set below
        put16(d, 0); // visible worksheet
        const std::string_view name = "Sheet1";
        put8(d, static_cast<unsigned>(name.size()));
        put8(d, 0);
        d += name;
        record(globals, kBoundSheet, d);
    }
    sharedStringTable(globals, 0, strings);
    record(globals, kEof, {});
    set32(globals, boundSheetAt + 4, static_cast<std::uint32_t>(globals.size()));

    std::string& stream = globals;
    bof(stream, 0x0010);
    {
        std::string d;
        put32(d, 0);
        put32(d, static_cast<std::uint32_t>(rows));
        put16(d, 0);
        put16(d, static_cast<unsigned>(columns));
        put16(d, 0);
        record(stream, kDimensions, d);
    }
    {
        std::string d;
        put16(d, 0x06B6); // grid lines, headings, zeros, selected sheet
        put16(d, 0);
        put16(d, 0);
        put32(d, 0x40);
        put16(d, 0);
        put16(d, 0);
        put32(d, 0);
        record(stream, kWindow2, d);
    }
    stream += cells;
    record(stream, kEof, {});
    return compoundFile(std::move(stream));
}

} // namespace talviren
