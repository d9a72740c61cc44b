#pragma once

#include "study/LoadStudy.h"

#include <QColor>

class QCustomPlot;

namespace talviren::report {

// A meter's colour wherever meters are drawn side by side, the run's own (or the first) first.
QColor meterColour(std::size_t index);

// The load study's four charts, drawn into a chart the caller owns (the report's, or the Study
// view's); each replaces what the chart held. Times are the local clock's.

// Demand over time: each meter's interval means of the current as steps and its sliding
// 15-minute-or-interval windows as a line, the rating when there is one, and with several
// meters their total S on the right axis.
void drawDemand(QCustomPlot& plot, const study::StudyResult& result);
// Daily energy: a bar per day and meter, stacked (kWh with a power factor, else kVAh); no bar
// on a day with nothing measured.
void drawDailyEnergy(QCustomPlot& plot, const study::StudyResult& result);
// The average weekday and weekend of one meter: the mean current at each interval of the
// day, with the band from the 10th to the 90th percentile.
void drawAverageDay(QCustomPlot& plot, const study::MeterStudy& meter);
// No chart, only a line of text in its middle (what a chart cannot show for the total).
void drawNote(QCustomPlot& plot, const QString& text);
// The duration curve: each meter's qualifying interval means from the highest, over the hours.
void drawDurationCurve(QCustomPlot& plot, const study::StudyResult& result);

} // namespace talviren::report
