#pragma once

#include "export/FileTypes.h"
#include "save/SaveDialog.h"

#include <QImage>
#include <QString>

#include <functional>
#include <optional>

class QCustomPlot;

namespace talviren {

// How a save ended.
struct SaveOutcome {
    enum Result { Cancelled, Saved, Failed };
    Result result = Cancelled;
    QString path;  // the chosen file
    QString error; // the reason, when it failed
};

// "Save": asks for a file in the view's dialog and writes it as the table of file types
// chooses: the live view as a picture or two-line text file, the record table as a fixed-column
// text file or a workbook, the trend as a picture of its chart or its readings as a CSV log or
// a workbook. Apart from the window, which hands in what it shows.
class SaveCommand {
public:
    static constexpr const char* kPresetName = "TALVIREN";

    // `reportFailure` shows one message for a save that failed.
    SaveCommand(SaveDialog& dialog, std::function<void(const SaveOutcome&)> reportFailure);

    // What a view hands in. The picture of the window is taken before the dialog opens, the
    // captions and the table are read after it closes.
    struct Sources {
        std::function<QImage()> grabWindow;
        std::function<RealtimeCaptions()> captions;
        const RecordTable* table = nullptr;
        QCustomPlot* chart = nullptr;
        const ReadingSequence* readings = nullptr;
        std::optional<PowerFactor> powerFactor;       // with the readings: real power too
        std::vector<MeterReadings> meters;            // several meters: a file or a sheet each
        const std::vector<SumPoint>* total = nullptr; // and their sum
        const study::StudyResult* study = nullptr;    // a load study's intervals
        WriteProgress progress;                       // long writes tell how far they are
    };

    // Saves what a view shows.
    SaveOutcome save(SaveView view, const Sources& sources);
    // Saves the record table in the Record view (2), else the live view.
    SaveOutcome Button_save_Click(int viewMode, const Sources& sources);
    SaveOutcome SaveRealtimeView(const Sources& sources) {
        return save(SaveView::Realtime, sources);
    }
    SaveOutcome SaveRecordTable(const Sources& sources) { return save(SaveView::Record, sources); }

    // Asks for the file of a save in `view`, offering the type that the last choice
    // pre-selects; nothing on Cancel.
    std::optional<QString> askFile(SaveView view);

    // Folder the dialogs open in (the tests point it elsewhere).
    void setInitialFolder(QString folder) { initialFolder_ = std::move(folder); }
    QString folder() const {
        return initialFolder_.isEmpty() ? defaultSaveFolder() : initialFolder_;
    }

private:
    SaveDialog& dialog_;
    std::function<void(const SaveOutcome&)> reportFailure_;
    QString initialFolder_;
};

} // namespace talviren
