#include "export/StudyFiles.h"

#include "export/AtomicFile.h"
#include "export/StreamingWorkbook.h"
#include "study/StudyOutputs.h"
#include "time/LocalTime.h"

#include <xlsxwriter.h>

#include <ctime>

namespace talviren {

namespace {

// The local time of an interval's start, as a spreadsheet's date.
lxw_datetime localDate(std::int64_t wallMs) {
    const std::time_t seconds = static_cast<std::time_t>(wallMs / 1000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     static_cast<double>(local.tm_sec)};
}

// A sheet's name: what Excel allows (31 characters, none of []:*?/\).
std::string sheetName(const std::string& name) {
    std::string out;
    for (const char c : name) {
        out += std::string_view("[]:*?/\\").find(c) == std::string_view::npos ? c : '_';
    }
    return out.substr(0, 31);
}

} // namespace

bool writeStudyCsv(const study::StudyResult& result, const std::string& path, std::string& error) {
    return writeFileAtomically(path, study::studyCsv(result), error);
}

bool writeStudyWorkbook(const study::StudyResult& result, const std::string& path,
                        std::string& error) {
    StreamingWorkbook book(path);
    if (!book.open(error)) {
        return false;
    }
    lxw_workbook* workbook = book.workbook();
    lxw_format* date = workbook_add_format(workbook);
    format_set_num_format(date, "yyyy-mm-dd hh:mm");
    lxw_format* bold = workbook_add_format(workbook);
    format_set_bold(bold);
    const auto number = [&book](lxw_worksheet* sheet, lxw_row_t row, lxw_col_t col,
                                const std::optional<double>& value) {
        if (value) {
            book.check(worksheet_write_number(sheet, row, col, *value, nullptr));
        }
    };
    // A sheet with its columns' names in bold and room for the start's date and time; null when
    // its name is taken.
    const auto startSheet = [&](const std::string& name, const auto& heads) {
        lxw_worksheet* sheet = book.addSheet(name);
        if (sheet) {
            for (lxw_col_t c = 0; c < heads.size(); ++c) {
                book.check(worksheet_write_string(sheet, 0, c, heads[c], bold));
            }
            book.check(worksheet_set_column(sheet, 0, 0, 17, nullptr));
        }
        return sheet;
    };
    for (const study::MeterStudy& m : result.meters) {
        lxw_worksheet* sheet = startSheet(sheetName(m.name), study::kIntervalColumns);
        if (!sheet) {
            break;
        }
        lxw_row_t row = 1;
        for (const study::Interval& in : m.intervals) {
            lxw_datetime when = localDate(in.startMs);
            book.check(worksheet_write_datetime(sheet, row, 0, &when, date));
            number(sheet, row, 1, in.measuredS);
            number(sheet, row, 2, in.coverage);
            number(sheet, row, 3, in.current);
            number(sheet, row, 4, in.maxCurrent);
            number(sheet, row, 5, in.apparent);
            number(sheet, row, 6, in.power);
            number(sheet, row, 7, in.powerCoverage);
            number(sheet, row, 8, in.energyVAh);
            number(sheet, row, 9, in.energyWh);
            number(sheet, row, 10, in.overloads);
            ++row;
        }
    }
    // No meter is called "total", the sum's name; were one, the save fails and says the name is
    // taken rather than write into no sheet.
    if (lxw_worksheet* sheet =
            result.total && book.good()
                ? startSheet("total", std::array{"start", "apparent_power_va", "power_w"})
                : nullptr) {
        lxw_row_t row = 1;
        for (const study::TotalInterval& in : result.total->intervals) {
            lxw_datetime when = localDate(in.startMs);
            book.check(worksheet_write_datetime(sheet, row, 0, &when, date));
            number(sheet, row, 1, in.apparent);
            number(sheet, row, 2, in.power);
            ++row;
        }
    }
    return book.finish(error);
}

} // namespace talviren
