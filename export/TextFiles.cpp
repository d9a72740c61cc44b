#include "export/TextFiles.h"

namespace talviren {

namespace {

// Characters in a UTF-8 text: "kΩ" is two columns wide in the file, not three bytes.
int characterCount(const std::string& text) {
    int count = 0;
    for (unsigned char byte : text) {
        if ((byte & 0xC0) != 0x80) {
            ++count;
        }
    }
    return count;
}

// Writes text while keeping the current column (counted from 1).
class ColumnWriter {
public:
    explicit ColumnWriter(std::string& out) : out_(out) {}

    void tabTo(int column) {
        if (column < 1) {
            column = 1;
        }
        if (column_ > column) {
            out_ += "\r\n";
            column_ = 1;
        }
        out_.append(static_cast<std::size_t>(column - column_), ' ');
        column_ = column;
    }

    void text(const std::string& text) {
        out_ += text;
        column_ += characterCount(text);
    }

private:
    std::string& out_;
    int column_ = 1;
};

} // namespace

std::string recordTableText(const RecordTable& table) {
    std::string out;
    out.reserve(static_cast<std::size_t>(table.rows()) * 64);
    ColumnWriter writer(out);
    for (int row = 0; row < table.rows(); ++row) {
        const int shift = row % 2 == 1 ? 1 + characterCount(table.cell(row, 0)) : 0;
        writer.tabTo(0);
        writer.text(table.cell(row, 0));
        for (int column = 1; column <= 3; ++column) {
            writer.tabTo(20 * column - shift);
            writer.text(table.cell(row, column));
        }
    }
    return out;
}

std::string realtimeText(const RealtimeCaptions& captions) {
    static constexpr const char* kGap = "     ";
    std::string out;
    for (int k = 0; k < 2; ++k) {
        out += kGap;
        out += captions.names[k];
        out += kGap;
        out += captions.values[k];
        out += "\r\n";
    }
    return out;
}

} // namespace talviren
