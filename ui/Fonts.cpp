#include "ui/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace talviren {

QStringList windowFontCandidates() {
    return {QStringLiteral("SimSun"),
            QString::fromUtf8("\u5B8B\u4F53"),
            QStringLiteral("Noto Serif CJK SC"),
            QStringLiteral("Noto Sans CJK SC"),
            QStringLiteral("AR PL UMing CN"),
            QStringLiteral("WenQuanYi Zen Hei")};
}

QString windowFontFamily() {
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const QString& candidate : windowFontCandidates()) {
            if (installed.contains(candidate)) {
                return candidate;
            }
        }
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

QFont windowFont(double points, bool bold) {
    QFont font(windowFontFamily());
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

} // namespace talviren
