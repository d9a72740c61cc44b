#include "save/SaveCommand.h"

#include "save/Pictures.h"

namespace talviren {

namespace {

constexpr int kRecordView = 2;

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

SaveCommand::SaveCommand(SaveDialog& dialog, std::function<void(const SaveOutcome&)> reportFailure)
    : dialog_(dialog), reportFailure_(std::move(reportFailure)) {}

SaveOutcome SaveCommand::Button_save_Click(int viewMode, const Sources& sources) {
    return save(viewMode == kRecordView ? SaveView::Record : SaveView::Realtime, sources);
}

std::optional<QString> SaveCommand::askFile(SaveView view) {
    const FileType& offered = preselectedType(view, dialog_.selectedTypeIndex());
    return dialog_.exec({QString::fromLatin1(kPresetName),
                         QString::fromStdString(dialogFilter(view)),
                         QStringLiteral(".") + text(offered.extension), folder()});
}

SaveOutcome SaveCommand::save(SaveView view, const Sources& sources) {
    // The picture shows the window as it was when Save was pressed, before the dialog opened.
    // It is taken from the window itself on every save: the clipboard is the user's.
    const QImage snapshot = sources.grabWindow ? sources.grabWindow() : QImage();
    const auto path = askFile(view);
    if (!path) {
        return {};
    }
    const FileType& type = chooseFileType(view, dialog_.selectedTypeIndex(), path->toStdString());
    QString error;
    bool ok = false;
    if (type.picture()) {
        // The window's picture in the live view, the chart's in the Trend view.
        if (view == SaveView::Realtime) {
            ok = writePicture(snapshot, *path, error, type.encoding.data());
        } else if (sources.chart) {
            ok = writeChartPicture(*sources.chart, *path, text(type.encoding), error);
        } else {
            error = QStringLiteral("there is no chart to save");
        }
    } else {
        // Read now, after the dialog: a reading or a download may have changed them meanwhile.
        const RealtimeCaptions captions =
            sources.captions ? sources.captions() : RealtimeCaptions{};
        SaveData data;
        data.captions = &captions;
        data.table = sources.table;
        data.readings = sources.readings;
        data.powerFactor = sources.powerFactor;
        data.meters = sources.meters;
        data.total = sources.total;
        data.study = sources.study;
        std::string reason;
        ok = writeDataFile(type, data, path->toStdString(), reason, sources.progress);
        error = QString::fromStdString(reason);
    }
    SaveOutcome outcome{ok ? SaveOutcome::Saved : SaveOutcome::Failed, *path,
                        ok ? QString() : error};
    if (!ok && reportFailure_) {
        reportFailure_(outcome);
    }
    return outcome;
}

} // namespace talviren
