#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace talviren {

// Place and size of the record table in twips (1440 to the inch, 15 to a pixel at 96 dpi).
struct RecordTableLayout {
    static constexpr int kLeft = 1000;
    static constexpr int kTop = 1200;
    static constexpr int kWidth = 8000;
    static constexpr int kHeight = 7200;
    static constexpr int kColumnWidth = 1100;
    static constexpr int kRowHeight = 300;
};

// The grid of text cells that holds the downloaded readings, two rows per reading:
// a heading row ("NO:n" and the quantity names) and a value row.
class RecordTable {
public:
    static constexpr int kColumns = 7;
    static constexpr int kResetRows = 2;
    static constexpr const char* kEmptyTableHeading = "NO.";

    // Told around every change, so a view can refresh once per batch.
    class Listener {
    public:
        virtual ~Listener() = default;
        // Called before the first change of an outermost batch.
        virtual void tableAboutToChange() = 0;
        // Called after the last change of an outermost batch.
        virtual void tableChanged() = 0;
    };

    // Groups changes so listeners hear of them once.
    class Batch {
    public:
        explicit Batch(RecordTable& table);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        RecordTable& table_;
    };

    RecordTable();

    // Sets the one listener (or none).
    void setListener(Listener* listener) { listener_ = listener; }

    int rows() const { return static_cast<int>(rows_.size()); }
    int columns() const { return kColumns; }

    // Text of cell (row, column); empty outside the table.
    const std::string& cell(int row, int column) const;
    // Writes cell (row, column); ignored outside the table.
    void setCell(int row, int column, std::string text);
    // Cuts or grows the table: remaining rows keep their texts, added rows are empty.
    void setRows(int count);

    // Lays the table out empty: two rows, "NO." in the first cell.
    void ResetRecordTable();
    // Writes the heading row of reading n: "NO:n" and, for function codes 1 to 3,
    // the two quantity names.
    void ShowRecordHeading(int n, std::uint8_t function);

private:
    void beginChange();
    void endChange();

    std::vector<std::array<std::string, kColumns>> rows_;
    Listener* listener_ = nullptr;
    int batchDepth_ = 0;
};

} // namespace talviren
