#pragma once

#include "export/TextFiles.h"
#include "records/RecordTable.h"
#include "save/SaveDialog.h"

#include <QImage>
#include <QString>

#include <functional>
#include <string>

namespace talviren {

// How a save ended.
struct SaveOutcome {
    enum Result { Cancelled, Saved, Failed };
    Result result = Cancelled;
    QString path;  // the chosen file
    QString error; // the reason, when it failed
};

// "Save": the live view as a picture or two-line text file, the record table as a fixed-column
// text file or a workbook. Apart from the window, which hands in what it shows.
class SaveCommand {
public:
    // File types of the two saves, label and pattern pairs.
    static constexpr const char* kRealtimeFilter =
        "jpg\u683C\u5F0F (*.jpg)|*.jpg|txt\u683C\u5F0F (*.txt)|*.txt|";
    static constexpr const char* kRecordFilter =
        "txt\u683C\u5F0F (*.txt)|*.txt|excel\u683C\u5F0F (*.xls)|*.xls|";
    static constexpr const char* kPresetName = "TALVIREN";

    // `reportFailure` shows one message for a save that failed.
    SaveCommand(SaveDialog& dialog, std::function<void(const SaveOutcome&)> reportFailure);

    // The view's data for one save. Captions are read after the dialog closes.
    struct Sources {
        std::function<QImage()> grabWindow;
        std::function<RealtimeCaptions()> captions;
        const RecordTable* table = nullptr;
    };

    // Saves what the view shows: the record table in the Record view (2), else the live view.
    SaveOutcome Button_save_Click(int viewMode, const Sources& sources);
    SaveOutcome SaveRealtimeView(const Sources& sources);
    SaveOutcome SaveRecordTable(const RecordTable& table);

    // Folder the dialog opens in (the tests point it elsewhere).
    void setInitialFolder(QString folder) { initialFolder_ = std::move(folder); }

private:
    SaveOutcome finish(SaveOutcome outcome);
    QString initialFolder();

    SaveDialog& dialog_;
    std::function<void(const SaveOutcome&)> reportFailure_;
    QString initialFolder_;
};

// Writes a picture atomically, encoded by the name's extension (.png, .bmp, else JPEG) unless
// an encoding ("PNG") is given.
bool writePicture(const QImage& image, const QString& path, QString& error,
                  const char* encoding = nullptr);

} // namespace talviren
