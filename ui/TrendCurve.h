#pragma once

#include "trend/CurveOutline.h"
#include "trend/TrendSeries.h"

#include <qcustomplot.h>

#include <optional>

namespace talviren {

// A quantity of the trend history drawn straight from the history (nothing is copied into
// the plot) as its outline gives it (trend/CurveOutline.h): lines broken at every gap, overloads
// marked at the plot's top edge, one min/max envelope per pixel column where readings crowd.
class TrendCurve : public QCPAbstractPlottable {
    Q_OBJECT

public:
    // What the last draw put on the screen, for tests and benchmarks.
    struct Drawn {
        int lines = 0;     // separate pieces of line (a gap lies between two)
        int points = 0;    // points handed to the painter
        int overloads = 0; // overload marks
        bool envelope = false;
        double firstX = 0, lastX = 0; // pixel columns of the first and last point drawn
        double firstOverloadX = 0;    // pixel column of the first overload mark
    };

    TrendCurve(QCPAxis* keyAxis, QCPAxis* valueAxis);

    // The readings to draw (none: an empty curve).
    void setSeries(std::optional<TrendSeries> series) { series_ = std::move(series); }
    const std::optional<TrendSeries>& series() const { return series_; }
    const Drawn& lastDrawn() const { return drawn_; }

    double selectTest(const QPointF& pos, bool onlySelectable,
                      QVariant* details = nullptr) const override;
    QCPRange getKeyRange(bool& foundRange,
                         QCP::SignDomain inSignDomain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& foundRange, QCP::SignDomain inSignDomain = QCP::sdBoth,
                           const QCPRange& inKeyRange = QCPRange()) const override;

protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override;

private:
    // Readings from one before the key range to one after it.
    std::pair<std::size_t, std::size_t> visible(const QCPRange& keys) const;

    std::optional<TrendSeries> series_;
    CurveOutline outline_; // kept, so that a redraw allocates nothing
    QPolygonF polyline_;
    Drawn drawn_;
};

} // namespace talviren
