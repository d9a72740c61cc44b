#pragma once

#include "export/AtomicFile.h"

#include <xlsxwriter.h>

#include <string>

namespace talviren {

// An .xlsx written in libxlsxwriter's constant-memory mode (rows stream out: a few megabytes
// whatever its size) into a temporary file that replaces the target only when it is whole.
class StreamingWorkbook {
public:
    explicit StreamingWorkbook(const std::string& path);
    ~StreamingWorkbook(); // an unfinished workbook is closed and its temporary file removed
    StreamingWorkbook(const StreamingWorkbook&) = delete;
    StreamingWorkbook& operator=(const StreamingWorkbook&) = delete;

    // Starts the workbook; false with `error` set.
    bool open(std::string& error);
    lxw_workbook* workbook() const { return workbook_; }
    // A new sheet, or null (its name refused, or no memory) with the failure kept.
    lxw_worksheet* addSheet(const std::string& name);
    // Keeps the first failure of a write, which finish() reports.
    void check(lxw_error status) {
        if (status_ == LXW_NO_ERROR) {
            status_ = status;
        }
    }
    // No write has failed so far.
    bool good() const { return status_ == LXW_NO_ERROR; }
    // Closes the workbook and puts it in place; false with `error` naming the file and why.
    bool finish(std::string& error);

private:
    std::string path_;
    AtomicFile file_;
    lxw_workbook* workbook_ = nullptr;
    lxw_error status_ = LXW_NO_ERROR;
};

} // namespace talviren
