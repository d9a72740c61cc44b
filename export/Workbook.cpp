#include "export/Workbook.h"

#include "export/StreamingWorkbook.h"
#include "export/XlsWriter.h"

#include <xlsxwriter.h>

namespace talviren {

bool writeXlsxWorkbook(const RecordTable& table, const std::string& path, std::string& error) {
    StreamingWorkbook book(path);
    if (!book.open(error)) {
        return false;
    }
    lxw_worksheet* sheet = book.addSheet("");
    if (!sheet) {
        return book.finish(error);
    }
    lxw_format* centred = workbook_add_format(book.workbook());
    format_set_align(centred, LXW_ALIGN_CENTER);
    // The columns carry the centred format, so only cells with text are written: empty cells
    // show centred all the same, and the sheet's XML shrinks to a third for a downloaded table,
    // whose columns four to seven are always empty.
    book.check(worksheet_set_column(sheet, 0, static_cast<lxw_col_t>(table.columns() - 1),
                                    LXW_DEF_COL_WIDTH, centred));
    for (int r = 0; r < table.rows() && book.good(); ++r) {
        for (int c = 0; c < table.columns() && book.good(); ++c) {
            const std::string& text = table.cell(r, c);
            if (!text.empty()) {
                book.check(worksheet_write_string(sheet, static_cast<lxw_row_t>(r),
                                                  static_cast<lxw_col_t>(c), text.c_str(),
                                                  centred));
            }
        }
    }
    return book.finish(error);
}

bool ExportRecordWorkbook(const RecordTable& table, const std::string& path, WorkbookFormat format,
                          std::string& error) {
    if (format == WorkbookFormat::Xlsx) {
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
