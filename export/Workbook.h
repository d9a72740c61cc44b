#pragma once

#include "records/RecordTable.h"

#include <string>

namespace talviren {

// Writes the record table as an Office Open XML workbook (.xlsx): first sheet, grid cell
// (r, c) at sheet cell (r + 1, c + 1) as text, every cell centred. Atomic: the target is
// replaced only when the whole workbook was written. False with `error` set on failure.
bool writeXlsxWorkbook(const RecordTable& table, const std::string& path, std::string& error);

// The two workbook formats of the record table.
enum class WorkbookFormat { Xls, Xlsx };

// Writes the record table as an Excel 97-2003 workbook (.xls) or an Office Open XML one
// (.xlsx). Atomic like every save.
bool ExportRecordWorkbook(const RecordTable& table, const std::string& path, WorkbookFormat format,
                          std::string& error);

} // namespace talviren
