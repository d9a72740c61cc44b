#include "ui/TrendCurve.h"

#include <cmath>
#include <limits>

namespace talviren {

TrendCurve::TrendCurve(QCPAxis* keyAxis, QCPAxis* valueAxis)
    : QCPAbstractPlottable(keyAxis, valueAxis) {
    setAntialiased(false); // crisp and fast; the envelope columns are one pixel wide
}

double TrendCurve::selectTest(const QPointF&, bool, QVariant*) const {
    return -1; // the curve cannot be selected
}

QCPRange TrendCurve::getKeyRange(bool& foundRange, QCP::SignDomain) const {
    foundRange = series_ && series_->size() > 0;
    if (!foundRange) {
        return {};
    }
    return {series_->key(0), series_->key(series_->size() - 1)};
}

std::pair<std::size_t, std::size_t> TrendCurve::visible(const QCPRange& keys) const {
    std::size_t begin = series_->lowerBound(keys.lower);
    std::size_t end = series_->lowerBound(keys.upper);
    if (begin > 0) {
        --begin;
    }
    if (end < series_->size()) {
        ++end;
    }
    return {begin, end};
}

QCPRange TrendCurve::getValueRange(bool& foundRange, QCP::SignDomain inSignDomain,
                                   const QCPRange& inKeyRange) const {
    foundRange = false;
    if (!series_ || series_->size() == 0) {
        return {};
    }
    std::size_t begin = 0;
    std::size_t end = series_->size();
    if (inKeyRange != QCPRange()) {
        begin = series_->lowerBound(inKeyRange.lower);
        end = series_->lowerBound(std::nextafter(inKeyRange.upper, HUGE_VAL));
    }
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (std::size_t i = begin; i < end; ++i) {
        const TrendSeries::Sample s = series_->sample(i);
        if (s.state != TrendSeries::Sample::Value ||
            (inSignDomain == QCP::sdPositive && s.value <= 0) ||
            (inSignDomain == QCP::sdNegative && s.value >= 0)) {
            continue;
        }
        low = std::min(low, s.value);
        high = std::max(high, s.value);
        foundRange = true;
    }
    return foundRange ? QCPRange(low, high) : QCPRange();
}

void TrendCurve::draw(QCPPainter* painter) {
    drawn_ = {};
    QCPAxis* keys = keyAxis();
    QCPAxis* values = valueAxis();
    if (!series_ || series_->size() == 0 || !keys || !values) {
        return;
    }
    const auto [begin, end] = visible(keys->range());
    const double width = std::max(1, keys->axisRect()->width());
    drawn_.envelope = static_cast<double>(end - begin) > 2 * width;
    applyDefaultAntialiasingHint(painter);
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);

    QPolygonF line;
    const auto flush = [&] {
        if (line.size() >= 2) {
            painter->drawPolyline(line);
            ++drawn_.lines;
        } else if (line.size() == 1) {
            painter->drawPoint(line.front()); // a reading with gaps on both sides
            ++drawn_.lines;
        }
        drawn_.points += static_cast<int>(line.size());
        line.clear();
    };
    // One column of the envelope: first, lowest, highest and last value in it.
    double column = std::numeric_limits<double>::quiet_NaN();
    double first = 0, low = 0, high = 0, last = 0;
    const auto emitColumn = [&] {
        if (std::isnan(column)) {
            return;
        }
        line.append({column, values->coordToPixel(first)});
        if (low != high) {
            line.append({column, values->coordToPixel(low)});
            line.append({column, values->coordToPixel(high)});
        }
        line.append({column, values->coordToPixel(last)});
        column = std::numeric_limits<double>::quiet_NaN();
    };
    QVector<double> overloads;
    for (std::size_t i = begin; i < end; ++i) {
        const TrendSeries::Sample s = series_->sample(i);
        const double x = keys->coordToPixel(series_->key(i));
        if (series_->breakBefore(i) || s.state != TrendSeries::Sample::Value) {
            emitColumn();
            flush();
        }
        if (s.state == TrendSeries::Sample::Overload) {
            const double px = std::floor(x);
            if (overloads.isEmpty() || overloads.back() != px) {
                overloads.append(px);
            }
            continue;
        }
        if (s.state != TrendSeries::Sample::Value) {
            continue;
        }
        if (!drawn_.envelope) {
            line.append({x, values->coordToPixel(s.value)});
            continue;
        }
        const double px = std::floor(x);
        if (px != column) {
            emitColumn();
            column = px;
            first = low = high = s.value;
        }
        low = std::min(low, s.value);
        high = std::max(high, s.value);
        last = s.value;
    }
    emitColumn();
    flush();

    if (!overloads.isEmpty()) {
        // Overloads have no value to draw: a small red mark at the plot's top edge.
        const double top = values->axisRect()->top() + 2;
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0xd3, 0x2f, 0x2f));
        for (double px : overloads) {
            const QPointF mark[3] = {{px - 4, top}, {px + 4, top}, {px, top + 7}};
            painter->drawPolygon(mark, 3);
        }
        drawn_.overloads = static_cast<int>(overloads.size());
    }
}

void TrendCurve::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
    painter->setPen(mPen);
    painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
}

} // namespace talviren
