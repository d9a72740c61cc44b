#pragma once

#include "records/RecordTable.h"

#include <optional>
#include <string>

namespace talviren {

// The record table as an Excel 97-2003 workbook (BIFF8 records in an OLE2 compound file):
// one worksheet, grid cell (r, c) at sheet cell (r + 1, c + 1) as text, every cell centred,
// empty cells as formatted blanks. Nothing when the table does not fit a BIFF8 sheet
// (65,536 rows, 256 columns).
std::optional<std::string> xlsWorkbook(const RecordTable& table);

// The same bytes for any grid: rows x columns with cell(r, c) as UTF-8.
class GridSource {
public:
    virtual ~GridSource() = default;
    virtual int rows() const = 0;
    virtual int columns() const = 0;
    virtual const std::string& cell(int row, int column) const = 0;
};
std::optional<std::string> xlsWorkbook(const GridSource& grid);

} // namespace talviren
