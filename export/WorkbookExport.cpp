#include "export/AtomicFile.h"
#include "export/FileName.h"
#include "export/Workbook.h"
#include "export/XlsWriter.h"

namespace talviren {

bool ExportRecordWorkbook(const RecordTable& table, const std::string& path, std::string& error) {
    if (hasExtension(path, ".xlsx")) {
        return writeXlsxWorkbook(table, path, error);
    }
    const auto bytes = xlsWorkbook(table);
    if (!bytes) {
        error = "the table has more rows than an Excel 97-2003 sheet holds; save it as .xlsx";
        return false;
    }
    return writeFileAtomically(path, *bytes, error);
}

} // namespace talviren
