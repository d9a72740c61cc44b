#pragma once

#include "trend/TrendSeries.h"

#include <cstddef>
#include <vector>

namespace talviren {

// Where readings fall on a chart's linear time axis: the pixel of a key is
// x0 + perSecond * (key - origin). Keys are counted from the axis's own origin, not from 1970,
// to keep the precision.
struct PixelAxis {
    double origin = 0;    // a key, in seconds since 1970
    double x0 = 0;        // its pixel
    double perSecond = 1; // pixels per second
    double width = 1;     // pixel columns the axis spans

    double pixel(double key) const { return x0 + perSecond * (key - origin); }
};

// One quantity over a stretch of the time axis, as a chart draws it: lines broken at every gap,
// the pixel columns of overloads, and, where more readings fall into the stretch than twice the
// pixel columns, one min/max envelope per column (first, lowest, highest, last value), so that
// a month draws in as many points as a minute. Plain numbers: values stay in the series' unit,
// the chart maps them to pixels.
class CurveOutline {
public:
    struct Point {
        double x;     // pixel
        double value; // in the unit the series shows
    };

    // Outlines readings begin to end of the series; what was outlined before goes.
    void outline(const TrendSeries& series, std::size_t begin, std::size_t end,
                 const PixelAxis& axis);

    const std::vector<Point>& points() const { return points_; }
    // Line k is points [lineEnd(k - 1), lineEnd(k)); a line of one point is a lone reading.
    const std::vector<std::size_t>& lineEnds() const { return lineEnds_; }
    // Pixel columns with an overload, each once, left to right.
    const std::vector<double>& overloads() const { return overloads_; }
    // Whether the readings were folded into columns.
    bool envelope() const { return envelope_; }

private:
    // A column of the envelope being gathered.
    struct Column {
        bool open = false;
        double x = 0;
        double first = 0, low = 0, high = 0, last = 0;
        bool breakAfter = false; // a gap narrower than the column lies in it
    };

    void endLine();
    void closeColumn();
    void markOverload(double column);
    void gather(double column, double first, double low, double high, double last);

    std::vector<Point> points_;
    std::vector<std::size_t> lineEnds_;
    std::vector<double> overloads_;
    bool envelope_ = false;
    Column column_;
};

} // namespace talviren
