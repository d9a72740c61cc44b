#include "trend/CurveOutline.h"

#include <algorithm>
#include <cmath>

namespace talviren {

void CurveOutline::endLine() {
    const std::size_t start = lineEnds_.empty() ? 0 : lineEnds_.back();
    if (points_.size() > start) {
        lineEnds_.push_back(points_.size());
    }
}

void CurveOutline::closeColumn() {
    if (!column_.open) {
        return;
    }
    points_.push_back({column_.x, column_.first});
    if (column_.low != column_.high) {
        points_.push_back({column_.x, column_.low});
        points_.push_back({column_.x, column_.high});
    }
    points_.push_back({column_.x, column_.last});
    column_.open = false;
    if (column_.breakAfter) {
        column_.breakAfter = false;
        endLine();
    }
}

void CurveOutline::markOverload(double column) {
    if (overloads_.empty() || overloads_.back() != column) {
        overloads_.push_back(column);
    }
}

void CurveOutline::gather(double column, double first, double low, double high, double last) {
    if (!column_.open || column != column_.x) {
        closeColumn();
        column_.open = true;
        column_.x = column;
        column_.first = first;
        column_.low = low;
        column_.high = high;
    }
    column_.low = std::min(column_.low, low);
    column_.high = std::max(column_.high, high);
    column_.last = last;
}

void CurveOutline::outline(const TrendSeries& series, std::size_t begin, std::size_t end,
                           const PixelAxis& axis) {
    points_.clear();
    lineEnds_.clear();
    overloads_.clear();
    column_ = {};
    envelope_ = static_cast<double>(end - begin) > 2 * std::max(axis.width, 1.0);
    constexpr std::size_t kBlock = TrendSeries::kBlock;
    for (std::size_t i = begin; i < end;) {
        // A block inside one pixel column joins the column whole. A gap inside it is narrower
        // than the pixel: the line ends at this column and starts again at the next.
        if (envelope_ && i % kBlock == 0 && i + kBlock <= end) {
            const double column = std::floor(axis.pixel(series.key(i)));
            if (column == std::floor(axis.pixel(series.key(i + kBlock - 1)))) {
                const TrendSeries::Block& b = series.block(i / kBlock);
                if (series.breakBefore(i)) {
                    closeColumn();
                    endLine();
                }
                if (b.hasValue) {
                    gather(column, b.first, b.low, b.high, b.last);
                }
                if (!b.clean && !column_.open) {
                    endLine();
                } else if (!b.clean) {
                    column_.breakAfter = true;
                }
                if (b.overload) {
                    markOverload(column);
                }
                i += kBlock;
                continue;
            }
        }
        const TrendSeries::Sample s = series.sample(i);
        const double x = axis.pixel(series.key(i));
        if (series.breakBefore(i) || s.state != TrendSeries::Sample::Value) {
            closeColumn();
            endLine();
        }
        ++i;
        if (s.state == TrendSeries::Sample::Overload) {
            markOverload(std::floor(x));
        } else if (s.state == TrendSeries::Sample::Value) {
            if (envelope_) {
                gather(std::floor(x), s.value, s.value, s.value, s.value);
            } else {
                points_.push_back({x, s.value});
            }
        }
    }
    closeColumn();
    endLine();
}

} // namespace talviren
