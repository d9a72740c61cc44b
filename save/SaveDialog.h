#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class QWidget;

namespace talviren {

// What a save asks of the dialog.
struct SaveDialogRequest {
    QString fileName;   // preset name
    QString filter;     // types as "label|pattern|label|pattern|"
    QString defaultExt; // appended when the name has none, with its dot
    QString initDir;    // folder the dialog opens in
};

// The file save dialog, shared by every save of a run. It remembers the type last chosen
// (1-based), which decides the type pre-selected next time.
class SaveDialog {
public:
    virtual ~SaveDialog() = default;

    // Shows the dialog; the chosen path, or nothing on Cancel.
    virtual std::optional<QString> exec(const SaveDialogRequest& request) = 0;

    // 1-based type index chosen in the last dialog; 0 before the first one.
    int selectedTypeIndex() const { return selectedTypeIndex_; }

protected:
    void setSelectedTypeIndex(int index) { selectedTypeIndex_ = index; }

private:
    int selectedTypeIndex_ = 0;
};

// Type labels of a filter string: "txt格式 (*.txt)|*.txt|" gives "txt格式 (*.txt)".
QStringList typeLabels(const QString& filter);

// The extension a type label names, without its dot: "txt格式 (*.txt)" gives "txt".
QString typeExtension(const QString& label);

// The folder saves open in, ~/TALVIREN, created when missing; home when it cannot be.
QString defaultSaveFolder();

// The dialog that picks a file to open.
class OpenDialog {
public:
    virtual ~OpenDialog() = default;
    // Shows the dialog; the chosen files (one or more), none on Cancel. filter as for
    // SaveDialogRequest.
    virtual QStringList exec(const QString& folder, const QString& filter) = 0;
};

// The open dialog as the user sees it: QFileDialog.
class QtOpenDialog : public OpenDialog {
public:
    explicit QtOpenDialog(QWidget* parent) : parent_(parent) {}
    QStringList exec(const QString& folder, const QString& filter) override;

private:
    QWidget* parent_;
};

// The dialog as the user sees it: QFileDialog, asking before it replaces a file.
class QtSaveDialog : public SaveDialog {
public:
    explicit QtSaveDialog(QWidget* parent) : parent_(parent) {}
    std::optional<QString> exec(const SaveDialogRequest& request) override;

private:
    QWidget* parent_;
};

} // namespace talviren
