#pragma once

#include "measure/ReadingSequence.h"
#include "save/SaveCommand.h"
#include "save/SaveDialog.h"

#include <QString>

#include <functional>

class QCustomPlot;

namespace talviren {

// "Save" in the Trend view: the chart as a picture (PNG, PDF, SVG) or the readings it shows
// as a CSV log or a workbook. Its own dialog keeps its own last type, so the saves of the
// Realtime and Record views pre-select as they always did.
class TrendSaveCommand {
public:
    // The five file types, in the order of the dialog.
    enum Type { Png = 1, Pdf, Svg, Csv, Xlsx };

    // `reportFailure` shows one message for a save that failed.
    TrendSaveCommand(SaveDialog& dialog, std::function<void(const SaveOutcome&)> reportFailure);

    // What a save reads: the chart, and the readings it shows.
    struct Sources {
        QCustomPlot* chart = nullptr;
        const ReadingSequence* readings = nullptr;
        WriteProgress progress; // long writes tell how far they are
    };

    // The dialog's type list ("PNG picture (*.png)|*.png|..."), in the window's language.
    static QString filter();

    // Asks for a file and writes it: the type by the name's extension when it is one of the
    // five, else by the type chosen in the dialog.
    SaveOutcome save(const Sources& sources);

    void setInitialFolder(QString folder) { initialFolder_ = std::move(folder); }

private:
    SaveDialog& dialog_;
    std::function<void(const SaveOutcome&)> reportFailure_;
    QString initialFolder_;
};

} // namespace talviren
