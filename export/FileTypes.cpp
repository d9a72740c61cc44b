#include "export/FileTypes.h"

#include "export/AtomicFile.h"
#include "export/FileName.h"
#include "export/StudyFiles.h"
#include "export/TrendFiles.h"
#include "export/Workbook.h"
#include "log/CsvLog.h"

#include <algorithm>

namespace talviren {

namespace {

// A writer's data is missing: says so.
bool nothingToSave(std::string& error) {
    error = "there is nothing to save";
    return false;
}

bool realtimeTextFile(const FileType&, const SaveData& data, const std::string& path,
                      std::string& error, const WriteProgress&) {
    if (!data.captions) {
        return nothingToSave(error);
    }
    return writeFileAtomically(path, realtimeText(*data.captions), error);
}

bool recordTextFile(const FileType&, const SaveData& data, const std::string& path,
                    std::string& error, const WriteProgress&) {
    if (!data.table) {
        return nothingToSave(error);
    }
    return writeFileAtomically(path, recordTableText(*data.table), error);
}

bool recordWorkbook(const FileType& type, const SaveData& data, const std::string& path,
                    std::string& error, const WriteProgress&) {
    if (!data.table) {
        return nothingToSave(error);
    }
    return ExportRecordWorkbook(
        *data.table, path, type.encoding == "XLSX" ? WorkbookFormat::Xlsx : WorkbookFormat::Xls,
        error);
}

bool downloadCsvFile(const FileType&, const SaveData& data, const std::string& path,
                     std::string& error, const WriteProgress&) {
    if (!data.downloaded) {
        return nothingToSave(error);
    }
    return writeFileAtomically(path, downloadCsv(*data.downloaded), error);
}

bool readingsCsv(const FileType&, const SaveData& data, const std::string& path, std::string& error,
                 const WriteProgress& progress) {
    if (data.meters.size() > 1) {
        // A file per meter, named as the logs are: run.csv gives run-L1.csv, run-L2.csv.
        for (const MeterReadings& meter : data.meters) {
            if (!writeReadingsCsv(*meter.readings, csvlog::meterFilePath(path, meter.name), error,
                                  progress, meter.powerFactor)) {
                return false;
            }
        }
        return true;
    }
    if (!data.readings) {
        return nothingToSave(error);
    }
    return writeReadingsCsv(*data.readings, path, error, progress, data.powerFactor);
}

bool readingsWorkbook(const FileType&, const SaveData& data, const std::string& path,
                      std::string& error, const WriteProgress& progress) {
    if (data.meters.size() > 1) {
        return writeMetersWorkbook(data.meters, data.total, path, error, progress);
    }
    if (!data.readings) {
        return nothingToSave(error);
    }
    return writeReadingsWorkbook(*data.readings, path, error, progress, data.powerFactor);
}

bool studyCsv(const FileType&, const SaveData& data, const std::string& path, std::string& error,
              const WriteProgress&) {
    return data.study ? writeStudyCsv(*data.study, path, error) : nothingToSave(error);
}

bool studyWorkbook(const FileType&, const SaveData& data, const std::string& path,
                   std::string& error, const WriteProgress&) {
    return data.study ? writeStudyWorkbook(*data.study, path, error) : nothingToSave(error);
}

// Every type there is. The labels of the Realtime and Record views are the window's own.
constexpr FileType kTypes[] = {
    {SaveView::Realtime, "jpg", "jpg\u683C\u5F0F (*.jpg)", 1, "JPG", nullptr},
    {SaveView::Realtime, "txt", "txt\u683C\u5F0F (*.txt)", 2, "", realtimeTextFile},
    {SaveView::Realtime, "png", "", 1, "PNG", nullptr},
    {SaveView::Realtime, "bmp", "", 1, "BMP", nullptr},

    {SaveView::Record, "txt", "txt\u683C\u5F0F (*.txt)", 1, "", recordTextFile},
    {SaveView::Record, "xls", "excel\u683C\u5F0F (*.xls)", 2, "XLS", recordWorkbook},
    {SaveView::Record, "xlsx", "", 2, "XLSX", recordWorkbook},

    {SaveView::Trend, "png", "PNG picture (*.png)", 1, "PNG", nullptr},
    {SaveView::Trend, "pdf", "PDF document (*.pdf)", 1, "PDF", nullptr},
    {SaveView::Trend, "svg", "SVG drawing (*.svg)", 1, "SVG", nullptr},
    {SaveView::Trend, "csv", "CSV log (*.csv)", 1, "", readingsCsv},
    {SaveView::Trend, "xlsx", "Excel workbook (*.xlsx)", 1, "", readingsWorkbook},

    {SaveView::Log, "csv", "CSV log (*.csv)", 1, "", nullptr},

    {SaveView::Download, "txt", "", 1, "", recordTextFile},
    {SaveView::Download, "xls", "", 1, "XLS", recordWorkbook},
    {SaveView::Download, "xlsx", "", 1, "XLSX", recordWorkbook},
    {SaveView::Download, "csv", "", 1, "", downloadCsvFile},

    {SaveView::Study, "csv", "CSV intervals (*.csv)", 1, "", studyCsv},
    {SaveView::Study, "xlsx", "Excel workbook (*.xlsx)", 1, "", studyWorkbook},

    {SaveView::Report, "pdf", "PDF report (*.pdf)", 1, "PDF", nullptr},
};

// The types of the dialog's list.
std::span<const FileType> listed(SaveView view) {
    const std::span<const FileType> all = fileTypes(view);
    const auto end =
        std::find_if(all.begin(), all.end(), [](const FileType& t) { return t.label.empty(); });
    return all.first(static_cast<std::size_t>(end - all.begin()));
}

} // namespace

std::span<const FileType> fileTypes(SaveView view) {
    const auto first = std::find_if(std::begin(kTypes), std::end(kTypes),
                                    [view](const FileType& t) { return t.view == view; });
    const auto last =
        std::find_if(first, std::end(kTypes), [view](const FileType& t) { return t.view != view; });
    return {first, last};
}

std::string dialogFilter(SaveView view) {
    std::string filter;
    for (const FileType& type : listed(view)) {
        filter += std::string(type.label) + "|*." + std::string(type.extension) + "|";
    }
    return filter;
}

const FileType& preselectedType(SaveView view, int selectedIndex) {
    const std::span<const FileType> types = listed(view);
    if (types.empty()) {
        return fileTypes(view).front();
    }
    const int last = static_cast<int>(types.size());
    return types[static_cast<std::size_t>(std::clamp(selectedIndex, 1, last) - 1)];
}

const FileType& chooseFileType(SaveView view, int selectedIndex, std::string_view path) {
    const FileType& chosen = preselectedType(view, selectedIndex);
    for (const FileType& type : fileTypes(view)) {
        if (type.group == chosen.group && hasExtension(path, "." + std::string(type.extension))) {
            return type;
        }
    }
    return chosen;
}

bool writeDataFile(const FileType& type, const SaveData& data, const std::string& path,
                   std::string& error, const WriteProgress& progress) {
    if (!type.writer) {
        error = "a picture is drawn by the window, not written from data";
        return false;
    }
    return type.writer(type, data, path, error, progress);
}

std::string downloadCsv(const std::vector<DecodedReading>& readings) {
    std::string csv = "number," + std::string(csvlog::kReadingColumns) + "\n";
    int n = 0;
    for (const DecodedReading& reading : readings) {
        csv += std::to_string(++n) + "," + csvlog::readingFields(reading) + "\n";
    }
    return csv;
}

} // namespace talviren
