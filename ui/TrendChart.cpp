#include "ui/TrendChart.h"

#include "measure/ValueText.h"
#include "trend/TrendSeries.h"
#include "ui/TrendCurve.h"

#include <QDateTime>
#include <QFontMetrics>

#include <algorithm>
#include <limits>
#include <utility>

namespace talviren {

namespace {

double spanSeconds(TrendChart::Span span) {
    switch (span) {
    case TrendChart::Span::Minute:
        return 60;
    case TrendChart::Span::TenMinutes:
        return 600;
    case TrendChart::Span::Hour:
        return 3600;
    case TrendChart::Span::Day:
        return 86400;
    case TrendChart::Span::All:
        break;
    }
    return 0;
}

QString axisTitle(QuantityKind kind) {
    const QuantityKindInfo& info = quantityKindInfo(kind);
    return QStringLiteral("%1 (%2)").arg(
        QString::fromUtf8(info.symbol.data(), info.symbol.size()),
        QString::fromUtf8(info.shownUnit.data(), info.shownUnit.size()));
}

QString powerTitle(const std::optional<PowerFactor>& factor) {
    return factor ? QStringLiteral("P (W) at PF %1").arg(QString::fromStdString(factor->text()))
                  : QStringLiteral("S (VA)");
}

// The ticks of a value axis, as many as its row has room for: a row 70 px high (three rows, or
// a banner above) takes three labels where a tall one takes six, and no two labels ever touch.
class RowTicker : public QCPAxisTicker {
public:
    explicit RowTicker(QCPAxis* axis) : axis_(axis) { setTickCount(5); }

    // The row height the last ticks were chosen for.
    int chosenForHeight() const { return chosenForHeight_; }

protected:
    double getTickStep(const QCPRange& range) override {
        chosenForHeight_ = axis_->axisRect()->height();
        // Label centres at least a label and 4 px apart, and no more ticks than a tall row has.
        const int spacing = QFontMetrics(axis_->tickLabelFont()).height() + 4;
        const double exact = std::max(range.size() * spacing / std::max(chosenForHeight_, 1),
                                      range.size() / tickCount());
        // The smallest round step (1, 2, 2.5 or 5 times a power of ten) that keeps to it.
        double magnitude = 1;
        const double mantissa = getMantissa(exact, &magnitude);
        for (double round : {1.0, 2.0, 2.5, 5.0, 10.0}) {
            if (round >= mantissa * (1 - 1e-9)) {
                return round * magnitude;
            }
        }
        return 10 * magnitude;
    }

private:
    QCPAxis* axis_;
    int chosenForHeight_ = 0;
};

// Gives a value axis a ticker that fits its row.
void fitTicksToRow(QCPAxis* axis) {
    axis->setTicker(QSharedPointer<QCPAxisTicker>(new RowTicker(axis)));
}

const QColor kCurrentColour(0x15, 0x65, 0xc0);
const QColor kSecondColour(0x2e, 0x7d, 0x32);
const QColor kPowerColour(0xc6, 0x28, 0x28);

bool holdsAcVoltage(const TrendHistory& history) {
    for (std::size_t i = 0; i < history.size(); ++i) {
        if (history[i].function == kAcCurrentAcVoltage) {
            return true;
        }
    }
    return false;
}

} // namespace

TrendChart::TrendChart(QWidget* parent) : QCustomPlot(parent) {
    setNoAntialiasingOnDrag(true);
    setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    plotLayout()->clear();
    upper_ = new QCPAxisRect(this);
    lower_ = new QCPAxisRect(this);
    plotLayout()->addElement(0, 0, upper_);
    plotLayout()->addElement(1, 0, lower_);
    margins_ = new QCPMarginGroup(this);
    auto* margins = margins_;
    ticker_.reset(new QCPAxisTickerDateTime);
    ticker_->setDateTimeSpec(Qt::LocalTime);
    ticker_->setTickCount(5);
    for (QCPAxisRect* rect : {upper_, lower_}) {
        rect->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
        rect->setRangeDrag(Qt::Horizontal);
        rect->setRangeZoom(Qt::Horizontal);
        rect->axis(QCPAxis::atBottom)->setTicker(ticker_);
        rect->axis(QCPAxis::atLeft)->setNumberFormat(QStringLiteral("g"));
        fitTicksToRow(rect->axis(QCPAxis::atLeft));
    }
    // Ticks are chosen before the rows are laid out: when a row's height changed (a resize, a
    // third row, a banner), once more for the height it has now.
    // Once: an axis without ticks to choose never catches up.
    connect(this, &QCustomPlot::afterReplot, this, [this, again = false]() mutable {
        if (std::exchange(again, false)) {
            return;
        }
        for (QCPAxisRect* rect : axisRects()) {
            const auto* ticker =
                dynamic_cast<const RowTicker*>(rect->axis(QCPAxis::atLeft)->ticker().data());
            if (ticker && ticker->chosenForHeight() != rect->height()) {
                again = true;
                replot(rpQueuedReplot);
                return;
            }
        }
    });
    // One time axis: the upper plot's is a twin without labels, kept in step.
    upper_->axis(QCPAxis::atBottom)->setTickLabels(false);
    upper_->setMargins(QMargins(0, 0, 0, 0));
    QCPAxis* upperTime = upper_->axis(QCPAxis::atBottom);
    QCPAxis* lowerTime = lower_->axis(QCPAxis::atBottom);
    connect(upperTime, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), lowerTime,
            qOverload<const QCPRange&>(&QCPAxis::setRange));
    connect(lowerTime, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), upperTime,
            qOverload<const QCPRange&>(&QCPAxis::setRange));

    current_ = new TrendCurve(upperTime, upper_->axis(QCPAxis::atLeft));
    current_->setPen(QPen(kCurrentColour, 1.5));
    second_ = new TrendCurve(lowerTime, lower_->axis(QCPAxis::atLeft));
    second_->setPen(QPen(kSecondColour, 1.5));
    // The names of the meters drawn, inside the upper plot, while there are several.
    setAutoAddPlottableToLegend(false);
    legend_ = new QCPLegend;
    upper_->insetLayout()->addElement(legend_, Qt::AlignTop | Qt::AlignLeft);
    legend_->setVisible(false);
    legend_->setBrush(QColor(255, 255, 255, 200));
    // One line of names, small, so that a short row keeps its traces in view.
    legend_->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    legend_->setWrap(8);
    legend_->setRowSpacing(0);
    legend_->setColumnSpacing(6);
    legend_->setIconSize(14, 8);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    legend_->setFont(small);
    legend_->setMargins(QMargins(3, 1, 3, 1));
    upper_->axis(QCPAxis::atLeft)->setLabel(axisTitle(QuantityKind::AcCurrent));
    lower_->axis(QCPAxis::atLeft)->setLabel(axisTitle(secondKind_));

    // The user moves the time axis: the chart stays where it is put.
    connect(this, &QCustomPlot::mousePress, this, [this] { stopFollowing(); });
    connect(this, &QCustomPlot::mouseWheel, this, [this] { stopFollowing(); });
    connect(this, &QCustomPlot::beforeReplot, this, [this] { fitValues(); });
    placeTimeAxis();
}

void TrendChart::setHistory(const TrendHistory* history) {
    history_ = history;
    current_->setSeries(
        history ? std::optional<TrendSeries>(TrendSeries(*history, QuantityKind::AcCurrent))
                : std::nullopt);
    chooseSecondKind();
    placePowerRow();
    following_ = true;
    emit followingChanged(true);
    placeTimeAxis();
    redraw();
}

void TrendChart::historyGrew() {
    if (history_ && !history_->empty()) {
        const auto kind = talviren::secondKind(history_->back().function);
        if (kind && *kind != secondKind_) {
            chooseSecondKind();
        }
        if (!power_ && history_->back().function == kAcCurrentAcVoltage) {
            placePowerRow();
        }
    }
    if (following_) {
        placeTimeAxis();
    }
    redraw();
}

void TrendChart::chooseSecondKind() {
    // The lower plot shows what the latest reading carries beside the current.
    if (history_) {
        for (std::size_t i = history_->size(); i-- > 0;) {
            if (const auto kind = talviren::secondKind((*history_)[i].function)) {
                secondKind_ = *kind;
                break;
            }
        }
    }
    second_->setSeries(history_ ? std::optional<TrendSeries>(TrendSeries(*history_, secondKind_))
                                : std::nullopt);
    lower_->axis(QCPAxis::atLeft)->setLabel(axisTitle(secondKind_));
    for (std::size_t i = 0; i < otherCurves_.size(); ++i) {
        otherCurves_[i].second->setSeries(TrendSeries(*others_[i].history, secondKind_));
    }
}

void TrendChart::setOtherMeters(const QString& mainName, QColor mainColour,
                                std::vector<OtherMeter> others, bool mainShown) {
    mainName_ = mainName;
    mainColour_ = mainColour;
    mainShown_ = mainShown;
    others_ = std::move(others);
    const bool several = !others_.empty();
    // One meter: a colour a row, as always; several: a colour a meter, in every row.
    current_->setPen(QPen(several ? mainColour_ : kCurrentColour, 1.5));
    second_->setPen(QPen(several ? mainColour_ : kSecondColour, 1.5));
    for (TrendCurve* curve : {current_, second_, power_}) {
        if (curve) {
            curve->setVisible(mainShown_);
        }
    }
    if (power_) {
        power_->setPen(QPen(several ? mainColour_ : kPowerColour, 1.5));
    }
    placePowerRow();
    placeOtherCurves();
    redraw();
}

std::vector<TrendCurve*> TrendChart::otherCurves() const {
    std::vector<TrendCurve*> out;
    for (const OtherCurves& curves : otherCurves_) {
        for (TrendCurve* curve : {curves.current, curves.second, curves.power}) {
            if (curve) {
                out.push_back(curve);
            }
        }
    }
    return out;
}

void TrendChart::placeOtherCurves() {
    for (const OtherCurves& curves : otherCurves_) {
        for (TrendCurve* curve : {curves.current, curves.second, curves.power}) {
            if (curve) {
                removePlottable(curve);
            }
        }
    }
    otherCurves_.clear();
    legend_->clearItems();
    legend_->setVisible(!others_.empty());
    if (others_.empty()) {
        return;
    }
    if (mainShown_) {
        current_->setName(mainName_);
        current_->addToLegend(legend_);
    }
    for (const OtherMeter& other : others_) {
        OtherCurves curves;
        const QPen pen(other.colour, 1.5);
        curves.current =
            new TrendCurve(upper_->axis(QCPAxis::atBottom), upper_->axis(QCPAxis::atLeft));
        curves.current->setSeries(TrendSeries(*other.history, QuantityKind::AcCurrent));
        curves.second =
            new TrendCurve(lower_->axis(QCPAxis::atBottom), lower_->axis(QCPAxis::atLeft));
        curves.second->setSeries(TrendSeries(*other.history, secondKind_));
        if (powerRect_) {
            curves.power = new TrendCurve(powerRect_->axis(QCPAxis::atBottom),
                                          powerRect_->axis(QCPAxis::atLeft));
            // P where the chart shows P and the meter has a power factor; S otherwise.
            curves.power->setSeries(
                TrendSeries::power(*other.history, powerFactor_ ? other.factor : std::nullopt));
        }
        for (TrendCurve* curve : {curves.current, curves.second, curves.power}) {
            if (curve) {
                curve->setPen(pen);
                curve->setName(other.name);
            }
        }
        curves.current->addToLegend(legend_);
        otherCurves_.push_back(curves);
    }
}

void TrendChart::placeSumGraph() {
    if (sum_) {
        removePlottable(sum_);
        sum_ = nullptr;
    }
    if (!powerRect_ || !sumRows_) {
        return;
    }
    // The sum in the row's own unit: P where the row shows P, else S; read in place.
    sum_ = new TrendCurve(powerRect_->axis(QCPAxis::atBottom), powerRect_->axis(QCPAxis::atLeft));
    sum_->setSeries(TrendSeries::sum(*sumRows_, powerFactor_.has_value()));
    sum_->setPen(QPen(QColor(0x21, 0x21, 0x21), 2.0));
    sum_->setName(QStringLiteral("\u03A3"));
    sum_->setVisible(sumShown_);
    if (!others_.empty() && sumShown_) {
        sum_->addToLegend(legend_);
    }
}

void TrendChart::setSumRows(const std::vector<SumRow>* rows) {
    sumRows_ = rows;
    placeSumGraph();
    redraw();
}

void TrendChart::setSumShown(bool shown) {
    sumShown_ = shown;
    placeSumGraph();
    redraw();
}

void TrendChart::setPowerFactor(std::optional<PowerFactor> factor) {
    powerFactor_ = factor;
    placeSumGraph();
    if (power_) {
        power_->setSeries(TrendSeries::power(*history_, powerFactor_));
        power_->valueAxis()->setLabel(powerTitle(powerFactor_));
        redraw();
    }
}

void TrendChart::alarmRaised(const std::string& name, double key) {
    stretches_.push_back({name, key, key, true});
    shadeStretches();
    redraw();
}

void TrendChart::alarmCleared(const std::string& name, double key) {
    for (Stretch& stretch : stretches_) {
        if (stretch.open && (name.empty() || stretch.name == name)) {
            stretch.open = false;
            stretch.to = std::max(key, stretch.from);
        }
    }
    placeOpenStretches();
    shadeStretches();
    redraw();
}

std::vector<std::pair<double, double>> TrendChart::alarmStretches() const {
    std::vector<std::pair<double, double>> out;
    for (const Stretch& stretch : stretches_) {
        out.emplace_back(stretch.from, stretch.to);
    }
    return out;
}

void TrendChart::placeOpenStretches() {
    if (!history_ || history_->empty()) {
        return;
    }
    const double newest = static_cast<double>(history_->keyMs(history_->size() - 1)) / 1000.0;
    for (Stretch& stretch : stretches_) {
        if (stretch.open) {
            stretch.to = std::max(stretch.from, newest);
        }
    }
    for (auto& [rect, i] : shades_) {
        rect->bottomRight->setCoords(stretches_[i].to, 1);
    }
}

void TrendChart::shadeStretches() {
    for (auto& shade : shades_) {
        removeItem(shade.first);
    }
    shades_.clear();
    for (std::size_t i = 0; i < stretches_.size(); ++i) {
        for (QCPAxisRect* rect : {upper_, lower_, powerRect_}) {
            if (!rect) {
                continue;
            }
            auto* shade = new QCPItemRect(this);
            shade->setClipAxisRect(rect);
            shade->setClipToAxisRect(true);
            for (QCPItemPosition* corner : {shade->topLeft, shade->bottomRight}) {
                corner->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
                corner->setAxisRect(rect);
                corner->setTypeX(QCPItemPosition::ptPlotCoords);
                corner->setTypeY(QCPItemPosition::ptAxisRectRatio);
            }
            shade->topLeft->setCoords(stretches_[i].from, 0);
            shade->bottomRight->setCoords(stretches_[i].to, 1);
            shade->setPen(Qt::NoPen);
            shade->setBrush(QColor(0xc6, 0x28, 0x28, 40));
            shade->setLayer(QStringLiteral("background"));
            shades_.emplace_back(shade, i);
        }
    }
}

void TrendChart::placePowerRow() {
    bool wanted = history_ && holdsAcVoltage(*history_);
    for (const OtherMeter& other : others_) {
        wanted = wanted || holdsAcVoltage(*other.history);
    }
    if (wanted != (power_ != nullptr)) {
        // The shading of a row that goes would outlive it.
        for (auto& shade : shades_) {
            removeItem(shade.first);
        }
        shades_.clear();
    }
    if (wanted && !power_) {
        powerRect_ = new QCPAxisRect(this);
        plotLayout()->addElement(2, 0, powerRect_);
        powerRect_->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);
        powerRect_->setRangeDrag(Qt::Horizontal);
        powerRect_->setRangeZoom(Qt::Horizontal);
        QCPAxis* time = powerRect_->axis(QCPAxis::atBottom);
        time->setTicker(ticker_);
        time->setRange(timeAxis()->range());
        powerRect_->axis(QCPAxis::atLeft)->setNumberFormat(QStringLiteral("g"));
        fitTicksToRow(powerRect_->axis(QCPAxis::atLeft));
        // The time labels move to the bottom row; the lower plot's axis stays the one kept.
        lower_->axis(QCPAxis::atBottom)->setTickLabels(false);
        connect(time, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), timeAxis(),
                qOverload<const QCPRange&>(&QCPAxis::setRange));
        connect(timeAxis(), qOverload<const QCPRange&>(&QCPAxis::rangeChanged), time,
                qOverload<const QCPRange&>(&QCPAxis::setRange));
        power_ = new TrendCurve(time, powerRect_->axis(QCPAxis::atLeft));
        power_->setPen(QPen(QColor(0xc6, 0x28, 0x28), 1.5));
    } else if (!wanted && power_) {
        removePlottable(power_);
        power_ = nullptr;
        if (sum_) {
            removePlottable(sum_);
            sum_ = nullptr;
        }
        for (OtherCurves& curves : otherCurves_) {
            if (curves.power) {
                removePlottable(curves.power);
                curves.power = nullptr;
            }
        }
        plotLayout()->remove(powerRect_); // deletes it with its axes
        powerRect_ = nullptr;
        plotLayout()->simplify();
        lower_->axis(QCPAxis::atBottom)->setTickLabels(true);
    }
    if (power_) {
        if (history_) {
            power_->setSeries(TrendSeries::power(*history_, powerFactor_));
        }
        power_->valueAxis()->setLabel(powerTitle(powerFactor_));
        power_->setVisible(mainShown_);
        power_->setPen(QPen(others_.empty() ? kPowerColour : mainColour_, 1.5));
    }
    if (shades_.empty() && !stretches_.empty()) {
        shadeStretches();
    }
    const bool sumWanted = powerRect_ && sumRows_;
    const bool rowChanged =
        sumWanted != (sum_ != nullptr) || (sum_ && sum_->valueAxis()->axisRect() != powerRect_);
    if (rowChanged) {
        placeOtherCurves();
        placeSumGraph();
    }
}

void TrendChart::setSpan(Span span) {
    span_ = span;
    if (!following_ && span != Span::All) {
        // Keep the right edge where the user put it.
        const double upper = timeAxis()->range().upper;
        timeAxis()->setRange(upper - spanSeconds(span), upper);
    } else {
        placeTimeAxis();
    }
    redraw();
}

void TrendChart::follow() {
    following_ = true;
    emit followingChanged(true);
    placeTimeAxis();
    redraw();
}

void TrendChart::showAll() {
    following_ = false;
    emit followingChanged(false);
    if (history_ && !history_->empty()) {
        const double first = static_cast<double>(history_->keyMs(0)) / 1000.0;
        const double last = static_cast<double>(history_->keyMs(history_->size() - 1)) / 1000.0;
        timeAxis()->setRange(first, std::max(last, first + 1));
    }
    redraw();
}

void TrendChart::stopFollowing() {
    if (following_) {
        following_ = false;
        emit followingChanged(false);
    }
}

void TrendChart::placeTimeAxis() {
    const bool empty = !history_ || history_->empty();
    const double newest = empty
                              ? static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0
                              : static_cast<double>(history_->keyMs(history_->size() - 1)) / 1000.0;
    double oldest = newest - spanSeconds(span_);
    if (span_ == Span::All) {
        oldest = empty ? newest - 60 : static_cast<double>(history_->keyMs(0)) / 1000.0;
    }
    // A little room on the right, so that the newest reading is not on the frame.
    const double width = std::max(newest - oldest, 1.0);
    timeAxis()->setRange(oldest, newest + width * 0.02);
}

void TrendChart::fitValues() {
    placeOpenStretches();
    const QCPRange time = timeAxis()->range();
    ticker_->setDateTimeFormat(time.size() > 86400 ? QStringLiteral("dd.MM.\nHH:mm")
                               : time.size() > 600 ? QStringLiteral("HH:mm")
                                                   : QStringLiteral("HH:mm:ss"));
    // Each row's value range over every trace drawn in it.
    std::vector<std::pair<QCPAxis*, QCPRange>> ranges;
    std::vector<QCPAbstractPlottable*> drawn;
    for (TrendCurve* curve : {current_, second_, power_}) {
        if (curve && curve->realVisibility()) {
            drawn.push_back(curve);
        }
    }
    for (TrendCurve* curve : otherCurves()) {
        drawn.push_back(curve);
    }
    if (sum_ && sum_->realVisibility()) {
        drawn.push_back(sum_);
    }
    for (QCPAbstractPlottable* plottable : drawn) {
        bool found = false;
        const QCPRange values = plottable->getValueRange(found, QCP::sdBoth, time);
        if (!found) {
            continue;
        }
        auto it = std::find_if(ranges.begin(), ranges.end(),
                               [&](const auto& r) { return r.first == plottable->valueAxis(); });
        if (it == ranges.end()) {
            ranges.emplace_back(plottable->valueAxis(), values);
        } else {
            it->second.expand(values);
        }
    }
    for (auto& [axis, values] : ranges) {
        const double margin =
            std::max(values.size() * 0.08, std::max(std::abs(values.upper), 1.0) * 0.01);
        // Room at the top for the overload marks.
        axis->setRange(values.lower - margin, values.upper + 2 * margin);
    }
}

void TrendChart::redraw() {
    if (isVisible()) {
        replot(rpQueuedReplot);
    }
}

} // namespace talviren
