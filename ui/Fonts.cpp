#include "ui/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace talviren {

QString windowFontFamily() {
    static const QString family = [] {
        const QStringList installed = QFontDatabase::families();
        for (const char* candidate : {"SimSun", "\u5B8B\u4F53", "Noto Serif CJK SC",
                                      "Noto Sans CJK SC", "AR PL UMing CN", "WenQuanYi Zen Hei"}) {
            if (installed.contains(QString::fromUtf8(candidate))) {
                return QString::fromUtf8(candidate);
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
