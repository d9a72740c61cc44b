#pragma once

#include <QImage>
#include <QString>

class QCustomPlot;

namespace talviren {

// Writes a picture whole or not at all in `encoding` ("JPG", "PNG", "BMP"); false with `error`
// set on failure.
bool writePicture(const QImage& image, const QString& path, QString& error, const char* encoding);

// A chart as the screen shows it in `encoding`: "PNG" as pixels, "PDF" and "SVG" as vectors,
// each at the chart's size on screen, written whole or not at all.
bool writeChartPicture(QCustomPlot& chart, const QString& path, const QString& encoding,
                       QString& error);

} // namespace talviren
