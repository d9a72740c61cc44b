// talviren-icons: renders the program's scalable icon as the PNG sizes of the hicolor theme,
// for ./scripts/icons. Not installed.
//   talviren-icons ICON.svg FOLDER   writes FOLDER/SIZExSIZE.png for 16 to 256 pixels

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fputs("usage: talviren-icons ICON.svg FOLDER\n", stderr);
        return 2;
    }
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    if (!svg.isValid()) {
        std::fprintf(stderr, "talviren-icons: cannot read %s\n", argv[1]);
        return 1;
    }
    for (int size : {16, 32, 48, 64, 128, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        svg.render(&painter);
        painter.end();
        const QString path =
            QStringLiteral("%1/%2x%2.png").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        if (!image.save(path, "PNG")) {
            std::fprintf(stderr, "talviren-icons: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
