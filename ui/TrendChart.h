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

// The trend chart: the AC current above, the second quantity below and, when the history holds
// AC voltage, apparent power S (or real power P at a power factor) in a third row, on one time
// axis in local wall-clock time. It follows the newest reading over a chosen span until the user
// drags or zooms the time axis.
class TrendChart : public QCustomPlot {
    Q_OBJECT

public:
    // The spans the time axis can show while following.
    enum class Span { Minute, TenMinutes, Hour, Day, All };

    explicit TrendChart(QWidget* parent = nullptr);

    // Draws this history (none: empty); the lower plot shows the second quantity of its latest
    // reading. The chart follows again.
    void setHistory(const TrendHistory* history);
    // Readings were added at the end of the history.
    void historyGrew();
    // The power row shows P = S × PF with a power factor, else S.
    void setPowerFactor(std::optional<PowerFactor> factor);

    // Another meter drawn beside the history, a trace in each row in a colour of its own.
    struct OtherMeter {
        QString name;
        const TrendHistory* history = nullptr;
        QColor colour;
        std::optional<PowerFactor> factor; // its P, in the power row, with the chart's PF shown
    };
    // The other meters to draw (none: the chart is as it is with one meter), with the name and
    // colour of the history's own meter for the legend; `mainShown` false hides the own traces.
    void setOtherMeters(const QString& mainName, QColor mainColour, std::vector<OtherMeter> others,
                        bool mainShown = true);
    // A reading of another meter came.
    void othersGrew() { redraw(); }
    // The sum of the meters, drawn in the power row from its points as they come (S, or P
    // where the row shows P); none: no sum. `rows` grows at its end only and outlives the chart.
    void setSumRows(const std::vector<SumRow>* rows);
    void setSumShown(bool shown);
    std::size_t sumPoints() const { return sumRows_ ? sumRows_->size() : 0; }
    // The traces of the other meters: current, second and power for each.
    std::vector<TrendCurve*> otherCurves() const;
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
    bool following() const { return following_; }

    TrendCurve* currentCurve() const { return current_; }
    TrendCurve* secondCurve() const { return second_; }
    // The power row's curve; none while the history holds no AC voltage.
    TrendCurve* powerCurve() const { return power_; }
    // The kind the lower plot shows.
    QuantityKind secondKind() const { return secondKind_; }
    // The shared time axis (below the lower plot).
    QCPAxis* timeAxis() const { return lower_->axis(QCPAxis::atBottom); }

signals:
    void followingChanged(bool following);

private:
    void stopFollowing();
    void placeTimeAxis();
    void fitValues();
    void chooseSecondKind();
    // Adds or removes the power row as the history holds AC voltage or not.
    void placePowerRow();
    // Makes the shading of every stretch anew, in every row there is.
    void shadeStretches();
    void placeOpenStretches();
    void redraw();
    // The other meters' traces in the rows there are, anew.
    void placeOtherCurves();
    // The sum's graph in the power row, when there is one.
    void placeSumGraph();

    QCPAxisRect* upper_ = nullptr;
    QCPAxisRect* lower_ = nullptr;
    TrendCurve* current_ = nullptr;
    TrendCurve* second_ = nullptr;
    QCPAxisRect* powerRect_ = nullptr;
    TrendCurve* power_ = nullptr;
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
    const TrendHistory* history_ = nullptr;
    QuantityKind secondKind_ = QuantityKind::AcVoltage;
    Span span_ = Span::TenMinutes;
    bool following_ = true;

    QString mainName_;
    QColor mainColour_;
    bool mainShown_ = true;
    std::vector<OtherMeter> others_;
    struct OtherCurves {
        TrendCurve* current = nullptr;
        TrendCurve* second = nullptr;
        TrendCurve* power = nullptr;
    };
    std::vector<OtherCurves> otherCurves_;
    QCPLegend* legend_ = nullptr;
    const std::vector<SumRow>* sumRows_ = nullptr;
    TrendCurve* sum_ = nullptr;
    bool sumShown_ = true;
};

} // namespace talviren
