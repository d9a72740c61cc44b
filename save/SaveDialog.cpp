#include "save/SaveDialog.h"

#include <QDir>

#include <QFileDialog>
#include <QRegularExpression>
#include <algorithm>

namespace talviren {

QStringList typeLabels(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList labels;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        labels << parts[i];
    }
    return labels;
}

QString typeExtension(const QString& label) {
    static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
    return pattern.match(label).captured(1);
}

QString defaultSaveFolder() {
    const QString folder = QDir::home().filePath(QStringLiteral("TALVIREN"));
    if (QDir(folder).exists() || QDir().mkpath(folder)) {
        return folder;
    }
    return QDir::homePath();
}

std::optional<QString> QtSaveDialog::exec(const SaveDialogRequest& request) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList labels = typeLabels(request.filter);
    dialog.setNameFilters(labels);
    const int preselected = std::clamp(selectedTypeIndex(), 1, static_cast<int>(labels.size()));
    dialog.selectNameFilter(labels.value(preselected - 1));
    dialog.setDefaultSuffix(request.defaultExt.mid(request.defaultExt.startsWith('.') ? 1 : 0));
    // Like the system dialogs of other platforms, a typed name without extension gets the
    // extension of the type shown when the user changes it.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& label) {
                         const QString ext = typeExtension(label);
                         if (!ext.isEmpty()) {
                             dialog.setDefaultSuffix(ext);
                         }
                     });
    dialog.setDirectory(request.initDir);
    dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    setSelectedTypeIndex(static_cast<int>(labels.indexOf(dialog.selectedNameFilter())) + 1);
    return dialog.selectedFiles().constFirst();
}

QStringList QtOpenDialog::exec(const QString& folder, const QString& filter) {
    QFileDialog dialog(parent_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles); // a month of daily logs at once
    dialog.setNameFilters(typeLabels(filter));
    dialog.setDirectory(folder);
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return dialog.selectedFiles();
}

} // namespace talviren
