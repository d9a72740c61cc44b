#include "save/SaveCommand.h"

#include "export/AtomicFile.h"
#include "export/TextFiles.h"
#include "export/Workbook.h"

#include <QFileInfo>
#include <QImageWriter>
#include <QSaveFile>

namespace talviren {

namespace {

constexpr int kRecordView = 2;

SaveOutcome written(const QString& path, bool ok, QString error) {
    return ok ? SaveOutcome{SaveOutcome::Saved, path, {}}
              : SaveOutcome{SaveOutcome::Failed, path, std::move(error)};
}

} // namespace

bool writePicture(const QImage& image, const QString& path, QString& error, const char* encoding) {
    if (image.isNull()) {
        error = QStringLiteral("there is no picture of the window to save");
        return false;
    }
    const QString suffix = QFileInfo(path).suffix().toLower();
    QByteArray format = "JPG";
    if (encoding) {
        format = encoding;
    } else if (suffix == QLatin1String("png")) {
        format = "PNG";
    } else if (suffix == QLatin1String("bmp")) {
        format = "BMP";
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    QImageWriter writer(&file, format);
    if (format == "JPG") {
        writer.setQuality(95);
    }
    if (!writer.write(image)) {
        error = writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

SaveCommand::SaveCommand(SaveDialog& dialog, std::function<void(const SaveOutcome&)> reportFailure)
    : dialog_(dialog), reportFailure_(std::move(reportFailure)) {}

QString SaveCommand::initialFolder() {
    return initialFolder_.isEmpty() ? defaultSaveFolder() : initialFolder_;
}

SaveOutcome SaveCommand::finish(SaveOutcome outcome) {
    if (outcome.result == SaveOutcome::Failed && reportFailure_) {
        reportFailure_(outcome);
    }
    return outcome;
}

SaveOutcome SaveCommand::Button_save_Click(int viewMode, const Sources& sources) {
    if (viewMode == kRecordView && sources.table) {
        return SaveRecordTable(*sources.table);
    }
    return SaveRealtimeView(sources);
}

SaveOutcome SaveCommand::SaveRealtimeView(const Sources& sources) {
    const bool picturePreselected = dialog_.selectedTypeIndex() <= 1;
    SaveDialogRequest request{QString::fromUtf8(kPresetName), QString::fromUtf8(kRealtimeFilter),
                              picturePreselected ? QStringLiteral(".jpg") : QStringLiteral(".txt"),
                              initialFolder()};
    // The picture shows the window as it was when Save was pressed, before the dialog opened.
    // It is taken from the window itself on every save: the clipboard is the user's.
    const QImage snapshot = sources.grabWindow ? sources.grabWindow() : QImage();
    const auto path = dialog_.exec(request);
    if (!path) {
        return {};
    }
    if (dialog_.selectedTypeIndex() <= 1) {
        QString error;
        const bool ok = writePicture(snapshot, *path, error);
        return finish(written(*path, ok, error));
    }
    const RealtimeCaptions captions = sources.captions ? sources.captions() : RealtimeCaptions{};
    std::string error;
    const bool ok = writeFileAtomically(path->toStdString(), realtimeText(captions), error);
    return finish(written(*path, ok, QString::fromStdString(error)));
}

SaveOutcome SaveCommand::SaveRecordTable(const RecordTable& table) {
    const bool textPreselected = dialog_.selectedTypeIndex() <= 1;
    SaveDialogRequest request{QString::fromUtf8(kPresetName), QString::fromUtf8(kRecordFilter),
                              textPreselected ? QStringLiteral(".txt") : QStringLiteral(".xls"),
                              initialFolder()};
    const auto path = dialog_.exec(request);
    if (!path) {
        return {};
    }
    // The table is read as it is now, after the dialog: a download may have changed it.
    std::string error;
    const std::string target = path->toStdString();
    const bool ok = dialog_.selectedTypeIndex() <= 1
                        ? writeFileAtomically(target, recordTableText(table), error)
                        : ExportRecordWorkbook(table, target, error);
    return finish(written(*path, ok, QString::fromStdString(error)));
}

} // namespace talviren
