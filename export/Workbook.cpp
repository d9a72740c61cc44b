#include "export/Workbook.h"

#include "export/AtomicFile.h"
#include "export/XlsWriter.h"

#include <xlsxwriter.h>

namespace talviren {

bool writeXlsxWorkbook(const RecordTable& table, const std::string& path, std::string& error) {
    AtomicFile file(path);
    if (!file.open()) {
        error = file.error();
        return false;
    }
    // Constant-memory mode streams the rows out: 51,510 x 7 cells stay at a few megabytes.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* workbook = workbook_new_opt(file.temporaryPath().c_str(), &options);
    if (!workbook) {
        error = "cannot start the workbook " + path;
        return false;
    }
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    lxw_format* centred = workbook_add_format(workbook);
    format_set_align(centred, LXW_ALIGN_CENTER);
    // The columns carry the centred format, so only cells with text are written: empty cells
    // show centred all the same, and the sheet's XML shrinks to a third for a downloaded table,
    // whose columns four to seven are always empty.
    lxw_error status = worksheet_set_column(sheet, 0, static_cast<lxw_col_t>(table.columns() - 1),
                                            LXW_DEF_COL_WIDTH, centred);
    for (int r = 0; r < table.rows() && status == LXW_NO_ERROR; ++r) {
        for (int c = 0; c < table.columns() && status == LXW_NO_ERROR; ++c) {
            const std::string& text = table.cell(r, c);
            if (!text.empty()) {
                status = worksheet_write_string(sheet, static_cast<lxw_row_t>(r),
                                                static_cast<lxw_col_t>(c), text.c_str(), centred);
            }
        }
    }
    // Nothing reaches the file before the close, whose result is the only report.
    const lxw_error closed = workbook_close(workbook);
    if (status == LXW_NO_ERROR) {
        status = closed;
    }
    if (status != LXW_NO_ERROR) {
        error = "cannot write " + path + ": " + lxw_strerror(status);
        return false;
    }
    if (!file.commit()) {
        error = file.error();
        return false;
    }
    return true;
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
