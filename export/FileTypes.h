#pragma once

#include "export/TextFiles.h"
#include "export/TrendFiles.h"
#include "measure/Reading.h"
#include "measure/ReadingSequence.h"
#include "power/PowerFactor.h"
#include "records/RecordTable.h"
#include "study/LoadStudy.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace talviren {

// Where a file is saved from: a view's save, the Trend view's log, talviren-cli download, or the
// Study view's report.
enum class SaveView : std::uint8_t { Realtime, Record, Trend, Log, Download, Study, Report };

// What a save writes from; each type reads what it needs.
struct SaveData {
    const RealtimeCaptions* captions = nullptr;              // the live view's texts
    const RecordTable* table = nullptr;                      // the record table
    const std::vector<DecodedReading>* downloaded = nullptr; // the readings of a download
    const ReadingSequence* readings = nullptr;               // the readings a trend shows
    std::optional<PowerFactor> powerFactor; // the trend's power factor: a column of real power
    // With several meters: each one's readings (a file or a sheet each) and their sum.
    std::vector<MeterReadings> meters;
    const std::vector<SumPoint>* total = nullptr;
    const study::StudyResult* study = nullptr; // a load study's intervals
};

struct FileType;

// Writes a data file of a type, whole or not at all; false with `error` set on failure.
using FileWriter = bool (*)(const FileType& type, const SaveData& data, const std::string& path,
                            std::string& error, const WriteProgress& progress);

// One file type of one view: its extension, the dialog's label for it, and its writer.
struct FileType {
    SaveView view;
    std::string_view extension; // without its dot
    std::string_view label;     // in the dialog's list; empty: chosen by the name alone
    int group;                  // a name's extension chooses among the types of one group
    std::string_view encoding;  // pictures: "JPG", "PNG", "BMP", "PDF", "SVG"; else a format
    FileWriter writer;          // none for pictures, which the window and the chart draw

    // A picture: drawn by the window or the chart, in `encoding`. (The log has neither writer
    // nor encoding: the recording appends to it.)
    bool picture() const { return writer == nullptr && !encoding.empty(); }
};

// The types of a view: those of the dialog's list first, in its order, then those a name can
// choose besides (a picture as .png, a workbook as .xlsx).
std::span<const FileType> fileTypes(SaveView view);

// The dialog's list: "label|*.ext|label|*.ext|".
std::string dialogFilter(SaveView view);

// The type the dialog offers first, when the type chosen last (1-based, 0 before the first
// dialog) was `selectedIndex`.
const FileType& preselectedType(SaveView view, int selectedIndex);

// The type a file is written as: the one chosen in the dialog (`selectedIndex`, 1-based; for
// talviren-cli, which has no dialog, 0), unless the name's extension is another type of the same
// group. The groups keep each view's rule: the Realtime and Record views write the type chosen,
// with the encoding of a picture or a workbook by the name; the Trend view and talviren-cli go
// by the name.
const FileType& chooseFileType(SaveView view, int selectedIndex, std::string_view path);

// Writes a data file as its type says; false with `error` set on failure.
bool writeDataFile(const FileType& type, const SaveData& data, const std::string& path,
                   std::string& error, const WriteProgress& progress = {});

// The readings of a download, a row each: number, then the fields of the CSV log.
std::string downloadCsv(const std::vector<DecodedReading>& readings);

} // namespace talviren
