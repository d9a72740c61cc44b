#include "save/Pictures.h"

#include <qcustomplot.h>

#include <QImageWriter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QSvgGenerator>

namespace talviren {

namespace {

// Opens the save file; the device is renamed over the target only by finish().
bool start(QSaveFile& file, QString& error) {
    if (!file.open(QIODevice::WriteOnly)) {
        error = file.errorString();
        return false;
    }
    return true;
}

bool finish(QSaveFile& file, bool painted, QString& error) {
    if (!painted) {
        error = QStringLiteral("the chart could not be drawn");
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = file.errorString();
        return false;
    }
    return true;
}

// Draws the chart at its on-screen size onto a vector device.
bool paintVectors(QCustomPlot& chart, QPaintDevice& device) {
    QCPPainter painter;
    if (!painter.begin(&device)) {
        return false;
    }
    painter.setMode(QCPPainter::pmVectorized);
    painter.setMode(QCPPainter::pmNoCaching);
    painter.setMode(QCPPainter::pmNonCosmetic);
    chart.toPainter(&painter, chart.width(), chart.height());
    return painter.end();
}

bool writeChartPdf(QCustomPlot& chart, const QString& path, QString& error) {
    QSaveFile file(path);
    if (!start(file, error)) {
        return false;
    }
    bool painted = false;
    {
        QPdfWriter pdf(&file);
        pdf.setCreator(QStringLiteral("talviren"));
        pdf.setTitle(QStringLiteral("Trend"));
        // One point per screen pixel: the page is the chart's size.
        pdf.setResolution(72);
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        pdf.setPageSize(QPageSize(QSizeF(chart.width(), chart.height()), QPageSize::Point));
        painted = paintVectors(chart, pdf);
    }
    return finish(file, painted, error);
}

bool writeChartSvg(QCustomPlot& chart, const QString& path, QString& error) {
    QSaveFile file(path);
    if (!start(file, error)) {
        return false;
    }
    bool painted = false;
    {
        QSvgGenerator svg;
        svg.setOutputDevice(&file);
        svg.setSize(chart.size());
        svg.setViewBox(QRect(QPoint(0, 0), chart.size()));
        svg.setTitle(QStringLiteral("Trend"));
        painted = paintVectors(chart, svg);
    }
    return finish(file, painted, error);
}

} // namespace

bool writePicture(const QImage& image, const QString& path, QString& error, const char* encoding) {
    if (image.isNull()) {
        error = QStringLiteral("there is no picture of the window to save");
        return false;
    }
    QSaveFile file(path);
    if (!start(file, error)) {
        return false;
    }
    QImageWriter writer(&file, encoding);
    if (QByteArray(encoding) == "JPG") {
        writer.setQuality(95);
    }
    if (!writer.write(image)) {
        error = writer.errorString();
        file.cancelWriting();
        return false;
    }
    return finish(file, true, error);
}

bool writeChartPicture(QCustomPlot& chart, const QString& path, const QString& encoding,
                       QString& error) {
    if (encoding == QLatin1String("PDF")) {
        return writeChartPdf(chart, path, error);
    }
    if (encoding == QLatin1String("SVG")) {
        return writeChartSvg(chart, path, error);
    }
    return writePicture(chart.toPixmap().toImage(), path, error, "PNG");
}

} // namespace talviren
