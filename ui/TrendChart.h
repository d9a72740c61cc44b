#pragma once

#include "measure/Quantity.h"
#include "power/PowerFactor.h"
#include "trend/SumPoint.h"
#include "trend/TrendHistory.h"

#include <qcustomplot.h>

#include <QColor>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talviren {

class TrendCurve;

// The trend chart: the AC current above, the second quantity below and, when a trace holds
// AC voltage, apparent power S (or real power P at a power factor) in a third row, on one time
// axis in local wall-clock time. It follows the newest reading over a chosen span until the user
// drags or zooms the time axis.
class TrendChart : public QCustomPlot {
    Q_OBJECT

public:
    // The spans the time axis can show while following.
    enum class Span { Minute, TenMinutes, Hour, Day, All };

    explicit TrendChart(QWidget* parent = nullptr);

    // One trace: a meter's readings (its current above, its second quantity below, its S or P
    // in the power row), or the sum of several meters (in the power row only).
    struct Trace {
        QString name;
        QColor colour;
        const TrendHistory* history = nullptr;      // a meter's readings
        const std::vector<SumPoint>* sum = nullptr; // or the sum's points
        std::optional<PowerFactor> factor;          // a meter's P, where the row shows P
    };
    // Draws these traces, the run's own meter first, then the others, then the sum; each
    // history or sum grows at its end only and outlives the chart or the next call. One trace
    // draws as the chart always has, a colour a row; several, a colour a trace and a legend of
    // their names. The first trace leads: the time axis follows its newest reading and the
    // lower plot shows the second quantity of its latest one. A new lead follows again.
    void setTraces(std::vector<Trace> traces);
    const std::vector<Trace>& traces() const { return traces_; }
    // Readings were added at the end of the traces.
    void tracesGrew();
    // The power row shows P = S × PF at a power factor (each meter at its own), else S.
    void setPowerFactor(std::optional<PowerFactor> factor);

    // The curves of trace i: current, second and power (the sum has a power curve alone, and
    // none has one while there is no power row).
    struct TraceCurves {
        TrendCurve* current = nullptr;
        TrendCurve* second = nullptr;
        TrendCurve* power = nullptr;
    };
    const TraceCurves& curvesOf(std::size_t i) const { return curves_[i]; }
    QCPLegend* legend() const { return legend_; }
    // An alarm was raised or cleared at a key (seconds since 1970): the stretch between is
    // shaded in every row, up to the newest reading while it stays raised. A clear without a
    // name ends every stretch still open.
    void alarmRaised(const std::string& name, double key);
    void alarmCleared(const std::string& name, double key);
    // Shaded stretches: from, to (to is the newest key while raised).
    std::vector<std::pair<double, double>> alarmStretches() const;

    // The span of the time axis; while following, it ends at the newest reading.
    void setSpan(Span span);
    Span span() const { return span_; }
    // Follows the newest reading again.
    void follow();
    // Stops following and shows the whole history.
    void showAll();
    // Stops following and shows the time from `from` to `to` (seconds since 1970).
    void showRange(double from, double to);
    bool following() const { return following_; }

    // The lead trace's curves; the power curve is none while no trace holds AC voltage.
    TrendCurve* currentCurve() const { return lead().current; }
    TrendCurve* secondCurve() const { return lead().second; }
    TrendCurve* powerCurve() const { return lead().power; }
    // The kind the lower plot shows.
    QuantityKind secondKind() const { return secondKind_; }
    // The shared time axis (below the lower plot).
    QCPAxis* timeAxis() const { return lower_->axis(QCPAxis::atBottom); }

signals:
    void followingChanged(bool following);

private:
    const TraceCurves& lead() const {
        static const TraceCurves none;
        return curves_.empty() ? none : curves_.front();
    }
    // The lead trace's keys: its size, and its key i (seconds since 1970).
    std::size_t leadSize() const;
    double leadKey(std::size_t i) const;
    void stopFollowing();
    void placeTimeAxis();
    void fitValues();
    void chooseSecondKind();
    // Adds or removes the power row as a trace holds AC voltage or not.
    void placePowerRow();
    // Every trace's curves anew, in the rows there are, and the legend.
    void placeCurves();
    // Makes the shading of every stretch anew, in every row there is.
    void shadeStretches();
    void placeOpenStretches();
    void redraw();

    QCPAxisRect* upper_ = nullptr;
    QCPAxisRect* lower_ = nullptr;
    QCPAxisRect* powerRect_ = nullptr;
    QCPMarginGroup* margins_ = nullptr;
    std::optional<PowerFactor> powerFactor_;
    struct Stretch {
        std::string name;
        double from = 0, to = 0;
        bool open = true;
    };
    std::vector<Stretch> stretches_;
    std::vector<std::pair<QCPItemRect*, std::size_t>> shades_; // a rectangle, its stretch
    QSharedPointer<QCPAxisTickerDateTime> ticker_;
    std::vector<Trace> traces_;
    std::vector<TraceCurves> curves_;
    const TrendHistory* history_ = nullptr; // the lead trace's, when it is a meter
    QuantityKind secondKind_ = QuantityKind::AcVoltage;
    Span span_ = Span::TenMinutes;
    bool following_ = true;
    QCPLegend* legend_ = nullptr;
};

} // namespace talviren
