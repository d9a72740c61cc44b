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
    const double width = std::max(1, keys->axisRect()->width());
    drawn_.envelope = static_cast<double>(end - begin) > 2 * width;
    applyDefaultAntialiasingHint(painter);
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);

    QPolygonF line;
    const auto flush = [&] {
        if (!line.isEmpty()) {
            if (drawn_.points == 0 && drawn_.lines == 0) {
                drawn_.firstX = line.front().x();
            }
            drawn_.lastX = line.back().x();
        }
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
    bool breakAfterColumn = false; // a gap narrower than the column lies in it
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
        if (breakAfterColumn) {
            breakAfterColumn = false;
            flush();
        }
    };
    QVector<double> overloads;
    // The time axis is linear: pixels grow by a fixed step per second from its left end (keys
    // are counted from the range, not from 1970, to keep the precision).
    const QCPRange range = keys->range();
    const double x0 = keys->coordToPixel(range.lower);
    const double perSecond = (keys->coordToPixel(range.upper) - x0) / range.size();
    const auto pixel = [&](std::size_t i) {
        return x0 + perSecond * (series_->key(i) - range.lower);
    };
    constexpr std::size_t kBlock = TrendSeries::kBlock;
    for (std::size_t i = begin; i < end;) {
        // A block inside one pixel column joins the column whole. A gap inside it is narrower
        // than the pixel: the line ends at this column and starts again at the next.
        if (drawn_.envelope && i % kBlock == 0 && i + kBlock <= end) {
            const double px = std::floor(pixel(i));
            if (px == std::floor(pixel(i + kBlock - 1))) {
                const TrendSeries::Block& b = series_->block(i / kBlock);
                if (series_->breakBefore(i)) {
                    emitColumn();
                    flush();
                }
                if (b.hasValue) {
                    if (px != column) {
                        emitColumn();
                        column = px;
                        first = b.first;
                        low = b.low;
                        high = b.high;
                    }
                    low = std::min(low, b.low);
                    high = std::max(high, b.high);
                    last = b.last;
                }
                if (!b.clean && std::isnan(column)) {
                    flush();
                } else if (!b.clean) {
                    breakAfterColumn = true;
                }
                if (b.overload && (overloads.isEmpty() || overloads.back() != px)) {
                    overloads.append(px);
                }
                i += kBlock;
                continue;
            }
        }
        const TrendSeries::Sample s = series_->sample(i);
        const double x = pixel(i);
        if (series_->breakBefore(i) || s.state != TrendSeries::Sample::Value) {
            emitColumn();
            flush();
        }
        ++i;
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
        drawn_.firstOverloadX = overloads.front();
    }
}

void TrendCurve::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
    painter->setPen(mPen);
    painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
}

} // namespace talviren
