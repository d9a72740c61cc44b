#include "records/RecordTable.h"

#include "measure/ValueText.h"

namespace talviren {

namespace {
const std::string kNoText;
}

RecordTable::Batch::Batch(RecordTable& table) : table_(table) {
    table_.beginChange();
}
RecordTable::Batch::~Batch() {
    table_.endChange();
}

RecordTable::RecordTable() {
    ResetRecordTable();
}

void RecordTable::beginChange() {
    if (batchDepth_++ == 0 && listener_) {
        listener_->tableAboutToChange();
    }
}

void RecordTable::endChange() {
    if (--batchDepth_ == 0 && listener_) {
        listener_->tableChanged();
    }
}

const std::string& RecordTable::cell(int row, int column) const {
    if (row < 0 || row >= rows() || column < 0 || column >= kColumns) {
        return kNoText;
    }
    return rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)];
}

void RecordTable::setCell(int row, int column, std::string text) {
    if (row < 0 || row >= rows() || column < 0 || column >= kColumns) {
        return;
    }
    Batch batch(*this);
    rows_[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = std::move(text);
}

void RecordTable::setRows(int count) {
    Batch batch(*this);
    rows_.resize(static_cast<std::size_t>(count < 0 ? 0 : count));
}

void RecordTable::ResetRecordTable() {
    Batch batch(*this);
    rows_.assign(kResetRows, {});
    rows_[0][0] = kEmptyTableHeading;
}

void RecordTable::ShowRecordHeading(int n, std::uint8_t function) {
    Batch batch(*this);
    const int row = 2 * (n - 1);
    setCell(row, 0, "NO:" + std::to_string(n));
    if (const auto symbols = quantitySymbols(function)) {
        setCell(row, 1, std::string(symbols->current));
        setCell(row, 2, std::string(symbols->second));
    }
}

} // namespace talviren
