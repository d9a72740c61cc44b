#pragma once

#include <QString>

class QCustomPlot;

namespace talviren {

// A chart as the screen shows it, written whole or not at all: PNG as pixels, PDF and SVG as
// vectors, each at the chart's size on screen. False with `error` set on failure.
bool writeChartPng(QCustomPlot& chart, const QString& path, QString& error);
bool writeChartPdf(QCustomPlot& chart, const QString& path, QString& error);
bool writeChartSvg(QCustomPlot& chart, const QString& path, QString& error);

} // namespace talviren
