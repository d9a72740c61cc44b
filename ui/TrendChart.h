#pragma once

#include "measure/Quantity.h"
#include "power/PowerFactor.h"
#include "trend/TrendHistory.h"

#include <qcustomplot.h>

#include <optional>

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
    void redraw();

    QCPAxisRect* upper_ = nullptr;
    QCPAxisRect* lower_ = nullptr;
    TrendCurve* current_ = nullptr;
    TrendCurve* second_ = nullptr;
    QCPAxisRect* powerRect_ = nullptr;
    TrendCurve* power_ = nullptr;
    QCPMarginGroup* margins_ = nullptr;
    std::optional<PowerFactor> powerFactor_;
    QSharedPointer<QCPAxisTickerDateTime> ticker_;
    const TrendHistory* history_ = nullptr;
    QuantityKind secondKind_ = QuantityKind::AcVoltage;
    Span span_ = Span::TenMinutes;
    bool following_ = true;
};

} // namespace talviren
