// talviren: the clamp meter's desktop companion.

#include "ui/MainWindow.h"

#include <QApplication>
#include <QScreen>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("talviren"));
    QApplication::setDesktopFileName(QStringLiteral("org.talviren.Talviren"));
    talviren::MainWindow window;
    // Centred on the screen when first shown.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
    window.show();
    // Files given (by the file manager, say): the Trend view, or with --study the Study view.
    window.openFromCommandLine(QApplication::arguments().mid(1));
    return QApplication::exec();
}
