#include "ui/TrendCurve.h"

#include <cmath>

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
    double low = 0;
    double high = 0;
    if (inSignDomain == QCP::sdBoth) {
        foundRange = series_->valueRange(begin, end, low, high);
        return foundRange ? QCPRange(low, high) : QCPRange();
    }
    for (std::size_t i = begin; i < end; ++i) {
        const TrendSeries::Sample s = series_->sample(i);
        if (s.state != TrendSeries::Sample::Value ||
            (inSignDomain == QCP::sdPositive && s.value <= 0) ||
            (inSignDomain == QCP::sdNegative && s.value >= 0)) {
            continue;
        }
        low = foundRange ? std::min(low, s.value) : s.value;
        high = foundRange ? std::max(high, s.value) : s.value;
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
    // The time axis is linear: pixels grow by a fixed step per second from its left end.
    const QCPRange range = keys->range();
    PixelAxis axis;
    axis.origin = range.lower;
    axis.x0 = keys->coordToPixel(range.lower);
    axis.perSecond = (keys->coordToPixel(range.upper) - axis.x0) / range.size();
    axis.width = std::max(1, keys->axisRect()->width());
    outline_.outline(*series_, begin, end, axis);

    applyDefaultAntialiasingHint(painter);
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    const std::vector<CurveOutline::Point>& points = outline_.points();
    std::size_t start = 0;
    for (std::size_t lineEnd : outline_.lineEnds()) {
        polyline_.clear();
        for (std::size_t k = start; k < lineEnd; ++k) {
            polyline_.append({points[k].x, values->coordToPixel(points[k].value)});
        }
        if (polyline_.size() == 1) {
            painter->drawPoint(polyline_.front()); // a reading with gaps on both sides
        } else {
            painter->drawPolyline(polyline_);
        }
        start = lineEnd;
    }
    drawn_.lines = static_cast<int>(outline_.lineEnds().size());
    drawn_.points = static_cast<int>(points.size());
    drawn_.envelope = outline_.envelope();
    if (!points.empty()) {
        drawn_.firstX = points.front().x;
        drawn_.lastX = points.back().x;
    }

    const std::vector<double>& overloads = outline_.overloads();
    if (!overloads.empty()) {
        // Overloads have no value to draw: a small red mark at the plot's top edge.
        const double top = values->axisRect()->top() + 2;
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(0xd3, 0x2f, 0x2f));
        for (double px : overloads) {
            const QPointF mark[3] = {{px - 4, top}, {px + 4, top}, {px, top + 7}};
            painter->drawPolygon(mark, 3);
        }
        drawn_.overloads = static_cast<int>(overloads.size());
        drawn_.firstOverloadX = overloads.front();
    }
}

void TrendCurve::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
    painter->setPen(mPen);
    painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
}

} // namespace talviren
