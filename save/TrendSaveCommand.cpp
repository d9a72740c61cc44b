#include "save/TrendSaveCommand.h"

#include "save/ChartPictures.h"
#include "export/TrendFiles.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace talviren {

TrendSaveCommand::TrendSaveCommand(SaveDialog& dialog,
                                   std::function<void(const SaveOutcome&)> reportFailure)
    : dialog_(dialog), reportFailure_(std::move(reportFailure)) {}

QString TrendSaveCommand::filter() {
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("TrendSaveCommand", text);
    };
    return tr("PNG picture (*.png)") + QStringLiteral("|*.png|") + tr("PDF document (*.pdf)") +
           QStringLiteral("|*.pdf|") + tr("SVG drawing (*.svg)") + QStringLiteral("|*.svg|") +
           tr("CSV log (*.csv)") + QStringLiteral("|*.csv|") + tr("Excel workbook (*.xlsx)") +
           QStringLiteral("|*.xlsx|");
}

SaveOutcome TrendSaveCommand::save(const Sources& sources) {
    static const char* const extensions[] = {"png", "pdf", "svg", "csv", "xlsx"};
    const int before = dialog_.selectedTypeIndex() >= Png ? dialog_.selectedTypeIndex() : Png;
    SaveDialogRequest request{QString::fromUtf8(SaveCommand::kPresetName), filter(),
                              QStringLiteral(".") + QLatin1String(extensions[before - 1]),
                              initialFolder_.isEmpty() ? defaultSaveFolder() : initialFolder_};
    const auto path = dialog_.exec(request);
    if (!path) {
        return {};
    }
    int type = dialog_.selectedTypeIndex() >= Png && dialog_.selectedTypeIndex() <= Xlsx
                   ? dialog_.selectedTypeIndex()
                   : Png;
    const QString suffix = QFileInfo(*path).suffix().toLower();
    for (int t = Png; t <= Xlsx; ++t) {
        if (suffix == QLatin1String(extensions[t - 1])) {
            type = t;
        }
    }
    QString error;
    bool ok = false;
    if (type <= Svg) {
        if (!sources.chart) {
            error = QStringLiteral("there is no chart to save");
        } else if (type == Png) {
            ok = writeChartPng(*sources.chart, *path, error);
        } else if (type == Pdf) {
            ok = writeChartPdf(*sources.chart, *path, error);
        } else {
            ok = writeChartSvg(*sources.chart, *path, error);
        }
    } else if (!sources.readings) {
        error = QStringLiteral("there are no readings to save");
    } else {
        std::string reason;
        ok = type == Csv ? writeReadingsCsv(*sources.readings, path->toStdString(), reason,
                                            sources.progress)
                         : writeReadingsWorkbook(*sources.readings, path->toStdString(), reason,
                                                 sources.progress);
        error = QString::fromStdString(reason);
    }
    SaveOutcome outcome = ok ? SaveOutcome{SaveOutcome::Saved, *path, {}}
                             : SaveOutcome{SaveOutcome::Failed, *path, error};
    if (!ok && reportFailure_) {
        reportFailure_(outcome);
    }
    return outcome;
}

} // namespace talviren
