#include "export/StreamingWorkbook.h"

namespace talviren {

StreamingWorkbook::StreamingWorkbook(const std::string& path) : path_(path), file_(path) {}

StreamingWorkbook::~StreamingWorkbook() {
    if (workbook_) {
        workbook_close(workbook_);
    }
}

bool StreamingWorkbook::open(std::string& error) {
    if (!file_.open()) {
        error = file_.error();
        return false;
    }
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    workbook_ = workbook_new_opt(file_.temporaryPath().c_str(), &options);
    if (!workbook_) {
        error = "cannot start the workbook " + path_;
        return false;
    }
    return true;
}

lxw_worksheet* StreamingWorkbook::addSheet(const std::string& name) {
    lxw_worksheet* sheet = workbook_add_worksheet(workbook_, name.empty() ? nullptr : name.c_str());
    if (!sheet) {
        // Why the name was refused (taken, too long), or else memory ran out.
        const lxw_error why =
            name.empty() ? LXW_NO_ERROR : workbook_validate_sheet_name(workbook_, name.c_str());
        check(why != LXW_NO_ERROR ? why : LXW_ERROR_MEMORY_MALLOC_FAILED);
    }
    return sheet;
}

bool StreamingWorkbook::finish(std::string& error) {
    // Nothing reaches the file before the close, whose result counts with the writes'.
    const lxw_error closed = workbook_close(workbook_);
    workbook_ = nullptr;
    check(closed);
    if (!good()) {
        error = "cannot write " + path_ + ": " + lxw_strerror(status_);
        return false;
    }
    if (!file_.commit()) {
        error = file_.error();
        return false;
    }
    return true;
}

} // namespace talviren
