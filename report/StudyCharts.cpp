#include "report/StudyCharts.h"

#include "study/StudyOutputs.h"

#include "time/LocalTime.h"

#include <qcustomplot.h>

#include <cmath>
#include <limits>

namespace talviren::report {

using namespace study;

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

double seconds(std::int64_t ms) {
    return static_cast<double>(ms) / 1000.0;
}

void clear(QCustomPlot& plot) {
    plot.clearGraphs();
    plot.clearPlottables();
    plot.clearItems();
    // The legend in a row of its own above the chart, so that it hides no curve.
    if (plot.legend->layout() != plot.plotLayout()) {
        plot.plotLayout()->insertRow(0);
        plot.plotLayout()->addElement(0, 0, plot.legend);
        plot.plotLayout()->setRowStretchFactor(0, 0.001);
        plot.legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
        plot.legend->setMargins(QMargins(2, 0, 2, 0));
        plot.legend->setBorderPen(Qt::NoPen);
    }
    plot.legend->clearItems();
    plot.legend->setVisible(true);
    plot.legend->setFont(QFont(plot.font().family(), 7));
    plot.legend->setBrush(QColor(255, 255, 255, 220));
    plot.yAxis2->setVisible(false);
    plot.xAxis->setTicker(QSharedPointer<QCPAxisTicker>(new QCPAxisTicker));
    for (QCPAxis* axis : {plot.xAxis, plot.yAxis, plot.yAxis2}) {
        axis->setLabel({});
        axis->setTickLabelFont(QFont(plot.font().family(), 7));
        axis->setLabelFont(QFont(plot.font().family(), 8));
    }
}

void timeAxis(QCustomPlot& plot, const StudyResult& r) {
    auto ticker = QSharedPointer<QCPAxisTickerDateTime>(new QCPAxisTickerDateTime);
    ticker->setDateTimeSpec(Qt::LocalTime);
    const double days = static_cast<double>(r.lastDay - r.firstDay + 1);
    ticker->setDateTimeFormat(days > 2 ? QStringLiteral("dd.MM.") : QStringLiteral("HH:mm"));
    ticker->setTickCount(8);
    plot.xAxis->setTicker(ticker);
}

QString meterName(const MeterStudy& m) {
    return QString::fromStdString(m.name);
}

// Fits the value axis from 0 to a little above the highest value drawn.
void fromZero(QCPAxis* axis, double highest) {
    axis->setRange(0, highest > 0 ? highest * 1.1 : 1);
}

} // namespace

QColor meterColour(std::size_t index) {
    static const QColor colours[] = {QColor(0x15, 0x65, 0xc0), QColor(0xc6, 0x28, 0x28),
                                     QColor(0x2e, 0x7d, 0x32), QColor(0x6a, 0x1b, 0x9a),
                                     QColor(0xef, 0x6c, 0x00), QColor(0x00, 0x83, 0x8f),
                                     QColor(0x5d, 0x40, 0x37), QColor(0xad, 0x14, 0x57)};
    return colours[index % std::size(colours)];
}

void drawDemand(QCustomPlot& plot, const StudyResult& r) {
    clear(plot);
    timeAxis(plot, r);
    // Steps of many intervals drawn line by line: a year's are too many for one stroked polyline.
    plot.setPlottingHint(QCP::phFastPolylines, true);
    plot.yAxis->setLabel(QStringLiteral("A"));
    double highest = 0;
    for (std::size_t k = 0; k < r.meters.size(); ++k) {
        const MeterStudy& m = r.meters[k];
        QVector<double> keys, block, sliding;
        for (const Interval& in : m.intervals) {
            const bool counts = in.current && in.coverage >= r.settings.minCoverage;
            keys.push_back(seconds(in.startMs));
            block.push_back(counts ? *in.current : kNone);
            sliding.push_back(in.slidingCurrent.value_or(kNone));
            highest =
                std::max({highest, counts ? *in.current : 0.0, in.slidingCurrent.value_or(0.0)});
        }
        QCPGraph* steps = plot.addGraph();
        steps->setName(meterName(m));
        steps->setLineStyle(QCPGraph::lsStepLeft);
        steps->setPen(QPen(meterColour(k), 1.2));
        steps->setData(keys, block, true);
        QCPGraph* line = plot.addGraph();
        QColor light = meterColour(k);
        light.setAlpha(110);
        // The sliding windows in a light shade of the meter's colour; a solid pen, as a dotted
        // one over a year of intervals takes several times as long to draw.
        line->setPen(QPen(light, 1));
        line->setData(keys, sliding, true);
        line->removeFromLegend();
    }
    if (r.settings.ratingA) {
        auto* rating = new QCPItemStraightLine(&plot);
        rating->point1->setCoords(0, *r.settings.ratingA);
        rating->point2->setCoords(1, *r.settings.ratingA);
        rating->setPen(QPen(QColor(0xc6, 0x28, 0x28), 1.5, Qt::DashLine));
        auto* label = new QCPItemText(&plot);
        label->position->setTypeX(QCPItemPosition::ptAxisRectRatio);
        label->position->setCoords(0.01, *r.settings.ratingA);
        label->setPositionAlignment(Qt::AlignLeft | Qt::AlignBottom);
        label->setText(QStringLiteral("rating %1 A").arg(*r.settings.ratingA));
        label->setColor(QColor(0xc6, 0x28, 0x28));
        label->setFont(QFont(plot.font().family(), 7));
        highest = std::max(highest, *r.settings.ratingA);
    }
    fromZero(plot.yAxis, highest);
    if (r.total) {
        plot.yAxis2->setVisible(true);
        plot.yAxis2->setLabel(QStringLiteral("\u03A3 kVA"));
        QVector<double> keys, values;
        double top = 0;
        std::int64_t previous = 0;
        for (const TotalInterval& in : r.total->intervals) {
            if (!keys.isEmpty() && in.startMs - previous > r.settings.intervalS * 1000LL) {
                keys.push_back(seconds(previous + r.settings.intervalS * 1000LL));
                values.push_back(kNone); // a gap in the sum, never a line across it
            }
            keys.push_back(seconds(in.startMs));
            values.push_back(in.apparent / 1000);
            top = std::max(top, in.apparent / 1000);
            previous = in.startMs;
        }
        QCPGraph* sum = plot.addGraph(plot.xAxis, plot.yAxis2);
        sum->setName(QStringLiteral("\u03A3 S"));
        sum->setLineStyle(QCPGraph::lsStepLeft);
        sum->setPen(QPen(QColor(0x21, 0x21, 0x21), 1.2, Qt::DashLine));
        sum->setData(keys, values, true);
        fromZero(plot.yAxis2, top);
    }
    plot.xAxis->setRange(seconds(localDayStartMs(r.firstDay)),
                         seconds(localDayStartMs(r.lastDay + 1)));
}

void drawDailyEnergy(QCustomPlot& plot, const StudyResult& r) {
    clear(plot);
    timeAxis(plot, r);
    const bool real = r.settings.powerFactor.has_value();
    plot.yAxis->setLabel(real ? QStringLiteral("kWh a day") : QStringLiteral("kVAh a day"));
    QCPBars* below = nullptr;
    std::vector<double> heights(r.meters.empty() ? 0 : r.meters.front().days.size(), 0);
    for (std::size_t k = 0; k < r.meters.size(); ++k) {
        const MeterStudy& m = r.meters[k];
        auto* bars = new QCPBars(plot.xAxis, plot.yAxis);
        bars->setName(meterName(m));
        bars->setWidth(86400 * 0.8);
        bars->setPen(Qt::NoPen);
        bars->setBrush(meterColour(k));
        for (std::size_t d = 0; d < m.days.size(); ++d) {
            const Day& day = m.days[d];
            const auto energy = real ? day.energyWh : day.energyVAh;
            if (energy && measured(day)) {
                // At the day's noon, so that the bar stands over its date.
                bars->addData(seconds(day.startMs) + day.hours * 1800, *energy / 1000);
                heights[d] += *energy / 1000;
            }
        }
        if (below) {
            bars->moveAbove(below);
        }
        below = bars;
    }
    fromZero(plot.yAxis, heights.empty() ? 0 : *std::max_element(heights.begin(), heights.end()));
    plot.xAxis->setRange(seconds(localDayStartMs(r.firstDay)),
                         seconds(localDayStartMs(r.lastDay + 1)));
}

void drawAverageDay(QCustomPlot& plot, const MeterStudy& m) {
    clear(plot);
    auto ticker = QSharedPointer<QCPAxisTickerTime>(new QCPAxisTickerTime);
    ticker->setTimeFormat(QStringLiteral("%h:%m"));
    ticker->setTickCount(8);
    plot.xAxis->setTicker(ticker);
    plot.xAxis->setRange(0, 86400);
    plot.yAxis->setLabel(QStringLiteral("A"));
    double highest = 0;
    const struct {
        const std::vector<DayShape>& shapes;
        QString name;
        QColor colour;
    } kinds[] = {{m.weekday, QStringLiteral("weekday"), QColor(0x15, 0x65, 0xc0)},
                 {m.weekend, QStringLiteral("weekend"), QColor(0xef, 0x6c, 0x00)}};
    for (const auto& kind : kinds) {
        QVector<double> keys, mean, low, high;
        for (const DayShape& s : kind.shapes) {
            const int hours = std::stoi(s.time.substr(0, 2)), minutes = std::stoi(s.time.substr(3));
            keys.push_back(hours * 3600.0 + minutes * 60.0);
            mean.push_back(s.mean);
            low.push_back(s.p10);
            high.push_back(s.p90);
            highest = std::max(highest, s.p90);
        }
        QColor band = kind.colour;
        band.setAlpha(45);
        QCPGraph* p10 = plot.addGraph();
        p10->setPen(QPen(band, 0.5));
        p10->setData(keys, low, true);
        p10->removeFromLegend();
        QCPGraph* p90 = plot.addGraph();
        p90->setName(kind.name + QStringLiteral(" 10\u201390 %"));
        p90->setPen(QPen(band, 0.5));
        p90->setBrush(band);
        p90->setChannelFillGraph(p10);
        p90->setData(keys, high, true);
        QCPGraph* line = plot.addGraph();
        line->setName(kind.name + QStringLiteral(" mean"));
        line->setPen(QPen(kind.colour, 1.5));
        line->setData(keys, mean, true);
    }
    fromZero(plot.yAxis, highest);
}

void drawNote(QCustomPlot& plot, const QString& text) {
    clear(plot);
    plot.legend->setVisible(false);
    auto* note = new QCPItemText(&plot);
    note->position->setType(QCPItemPosition::ptAxisRectRatio);
    note->position->setCoords(0.5, 0.5);
    note->setText(text);
    note->setFont(QFont(plot.font().family(), 9));
}

void drawDurationCurve(QCustomPlot& plot, const StudyResult& r) {
    clear(plot);
    plot.xAxis->setLabel(QStringLiteral("hours at or above"));
    plot.yAxis->setLabel(QStringLiteral("A"));
    const double hoursEach = r.settings.intervalS / 3600.0;
    double highest = 0, longest = 0;
    for (std::size_t k = 0; k < r.meters.size(); ++k) {
        const MeterStudy& m = r.meters[k];
        QVector<double> keys, values;
        for (std::size_t i = 0; i < m.durationCurve.current.size(); ++i) {
            keys.push_back(static_cast<double>(i + 1) * hoursEach);
            values.push_back(m.durationCurve.current[i]);
        }
        if (!values.isEmpty()) {
            highest = std::max(highest, values.front());
            longest = std::max(longest, keys.back());
        }
        QCPGraph* curve = plot.addGraph();
        curve->setName(meterName(m));
        curve->setLineStyle(QCPGraph::lsStepLeft);
        curve->setPen(QPen(meterColour(k), 1.5));
        curve->setData(keys, values, true);
    }
    plot.xAxis->setRange(0, longest > 0 ? longest : 1);
    fromZero(plot.yAxis, highest);
}

} // namespace talviren::report
