// talviren-screenshot: runs the window until it shows a live reading (or, with --record,
// downloaded readings) and saves a picture of it. For the demo without a display and for
// the pictures in the README; not installed.

#include "ui/MainWindow.h"

#include <QApplication>
#include <QLabel>
#include <QTabBar>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QString output = QStringLiteral("talviren.png");
    bool record = false;
    double timeoutSeconds = 30;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--record")) {
            record = true;
        } else if (!std::strcmp(argv[i], "--output") && i + 1 < argc) {
            output = QString::fromLocal8Bit(argv[++i]);
        } else if (!std::strcmp(argv[i], "--timeout") && i + 1 < argc) {
            timeoutSeconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: talviren-screenshot [--record] [--output FILE.png] "
                                 "[--timeout SECONDS]\n");
            return 2;
        }
    }
    talviren::MainWindow window;
    window.show();

    bool readPressed = false;
    auto save = [&](int code) {
        const bool ok = window.grab().save(output);
        std::printf("%s %s\n", ok ? "saved" : "could not save", qPrintable(output));
        QCoreApplication::exit(ok ? code : 1);
    };
    QTimer poll;
    poll.setInterval(100);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto& link = window.link();
        if (!link.linkUp()) {
            return;
        }
        if (!record) {
            if (window.Lab_value[0]->text() != QLatin1String("0mA")) {
                poll.stop();
                QTimer::singleShot(600, [&] { save(0); }); // one more reading for good measure
            }
            return;
        }
        if (!readPressed && !link.downloadActive() && !window.scanning()) {
            window.TabStrip1->setCurrentIndex(1);
            window.Button_read_Click();
            readPressed = link.downloadActive();
            return;
        }
        if (readPressed && !link.downloadActive() && window.recordTable().rows() > 2) {
            poll.stop();
            save(0);
        }
    });
    poll.start();
    QTimer::singleShot(static_cast<int>(timeoutSeconds * 1000), [&] {
        std::fprintf(stderr, "talviren-screenshot: no %s within %.0f s\n",
                     record ? "download" : "reading", timeoutSeconds);
        save(1);
    });
    return QApplication::exec();
}
