#include "export/AtomicFile.h"
#include "export/Workbook.h"
#include "export/XlsWriter.h"

#include <algorithm>
#include <cctype>

namespace talviren {

namespace {

bool endsWithIgnoringCase(const std::string& text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    return std::equal(suffix.begin(), suffix.end(), text.end() - static_cast<long>(suffix.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

} // namespace

bool ExportRecordWorkbook(const RecordTable& table, const std::string& path, std::string& error) {
    if (endsWithIgnoringCase(path, ".xlsx")) {
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
