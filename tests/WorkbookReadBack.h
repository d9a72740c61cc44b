#pragma once

// Files read back by independent readers: Debian's Python readers for workbooks
// (tests/read_workbook.py: xlrd for .xls, openpyxl for .xlsx; tests/read_trend_workbook.py) and
// Python's csv module (tests/read_csv.py), never the writers under test.

#include "records/RecordTable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace talviren::testing {

// The lines a shell command prints (without their line breaks); the command must succeed.
inline std::vector<std::string> commandLines(const std::string& command) {
    FILE* pipe = ::popen(command.c_str(), "r");
    std::vector<std::string> lines;
    if (!pipe) {
        ADD_FAILURE() << "cannot run " << command;
        return lines;
    }
    char buffer[8192];
    std::string current;
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        current += buffer;
        if (!current.empty() && current.back() == '\n') {
            current.pop_back();
            lines.push_back(current);
            current.clear();
        }
    }
    EXPECT_EQ(::pclose(pipe), 0) << "failed: " << command;
    return lines;
}

// A reader script of tests/ run by Debian's Python on a file, its lines.
inline std::vector<std::string> readBackWith(const char* script, const std::string& path,
                                             const std::string& environment = {}) {
    return commandLines(environment + " /usr/bin/python3 " + std::string(TALVIREN_SOURCE_DIR) +
                        "/tests/" + script + " '" + path + "'");
}

// "size\trows\tcols", then "row\tcolumn\talignment\ttext" for every cell.
inline std::vector<std::string> readWorkbookBack(const std::string& path) {
    return readBackWith("read_workbook.py", path);
}

// What the reader must print for a table: every cell centred at (r + 1, c + 1).
inline std::vector<std::string> expectedWorkbookCells(const RecordTable& table) {
    std::vector<std::string> lines = {"size\t" + std::to_string(table.rows()) + "\t7"};
    for (int r = 0; r < table.rows(); ++r) {
        for (int c = 0; c < 7; ++c) {
            lines.push_back(std::to_string(r + 1) + "\t" + std::to_string(c + 1) + "\tcenter\t" +
                            table.cell(r, c));
        }
    }
    return lines;
}

} // namespace talviren::testing
