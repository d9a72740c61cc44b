#pragma once

#include "meters/MeterSource.h"
#include "ui/LinesDialog.h"

#include <vector>

namespace talviren {

// "Meters…": the window's meters as the lines of [meters] ("L1=scan", "L2=COM5",
// "L3=http://cellar.local:8080/ token-file /home/u/.config/talviren/cellar-token"), each
// checked as it is typed.
class MetersDialog : public LinesDialog {
    Q_OBJECT

public:
    explicit MetersDialog(const QStringList& lines, QWidget* parent = nullptr);

    // The problem of each line, read together (an empty text where it is fine).
    static QStringList problems(const QStringList& lines);
    // The meters of the lines that are fine, in their order.
    static std::vector<MeterSource> usable(const QStringList& lines);
};

} // namespace talviren
