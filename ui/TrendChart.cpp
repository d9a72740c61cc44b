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

void TrendChart::setTraces(std::vector<Trace> traces) {
    const TrendHistory* leadHistory = traces.empty() ? nullptr : traces.front().history;
    const bool newLead = traces.empty() || traces_.empty() || leadHistory != history_ ||
                         traces.front().sum != traces_.front().sum;
    traces_ = std::move(traces);
    history_ = leadHistory;
    chooseSecondKind();
    placePowerRow();
    placeCurves();
    if (newLead) {
        following_ = true;
        emit followingChanged(true);
        placeTimeAxis();
    }
    redraw();
}

void TrendChart::tracesGrew() {
    if (history_ && !history_->empty()) {
        const auto kind = talviren::secondKind(history_->back().function);
        if (kind && *kind != secondKind_) {
            chooseSecondKind();
            placeCurves();
        }
    }
    if (!powerRect_) {
        for (const Trace& trace : traces_) {
            if (trace.history && !trace.history->empty() &&
                trace.history->back().function == kAcCurrentAcVoltage) {
                placePowerRow();
                placeCurves();
                break;
            }
        }
    }
    if (following_) {
        placeTimeAxis();
    }
    redraw();
}

std::size_t TrendChart::leadSize() const {
    if (traces_.empty()) {
        return 0;
    }
    const Trace& lead = traces_.front();
    return lead.history ? lead.history->size() : lead.sum ? lead.sum->size() : 0;
}

double TrendChart::leadKey(std::size_t i) const {
    const Trace& lead = traces_.front();
    const std::int64_t ms = lead.history ? lead.history->keyMs(i) : (*lead.sum)[i].wallMs;
    return static_cast<double>(ms) / 1000.0;
}

void TrendChart::chooseSecondKind() {
    // The lower plot shows what the lead's latest reading carries beside the current.
    if (history_) {
        for (std::size_t i = history_->size(); i-- > 0;) {
            if (const auto kind = talviren::secondKind((*history_)[i].function)) {
                secondKind_ = *kind;
                break;
            }
        }
    }
    lower_->axis(QCPAxis::atLeft)->setLabel(axisTitle(secondKind_));
}

void TrendChart::placeCurves() {
    for (const TraceCurves& curves : curves_) {
        for (TrendCurve* curve : {curves.current, curves.second, curves.power}) {
            if (curve) {
                removePlottable(curve);
            }
        }
    }
    curves_.clear();
    legend_->clearItems();
    // One trace: a colour a row, as always; several: a colour a trace, in every row.
    const bool several = traces_.size() > 1;
    legend_->setVisible(several);
    QCPAxis* upperTime = upper_->axis(QCPAxis::atBottom);
    QCPAxis* lowerTime = lower_->axis(QCPAxis::atBottom);
    for (const Trace& trace : traces_) {
        TraceCurves curves;
        const auto pen = [&](const QColor& rowColour, double width = 1.5) {
            return QPen(several ? trace.colour : rowColour, width);
        };
        if (trace.history) {
            curves.current = new TrendCurve(upperTime, upper_->axis(QCPAxis::atLeft));
            curves.current->setSeries(TrendSeries(*trace.history, QuantityKind::AcCurrent));
            curves.current->setPen(pen(kCurrentColour));
            curves.second = new TrendCurve(lowerTime, lower_->axis(QCPAxis::atLeft));
            curves.second->setSeries(TrendSeries(*trace.history, secondKind_));
            curves.second->setPen(pen(kSecondColour));
            if (powerRect_) {
                curves.power = new TrendCurve(powerRect_->axis(QCPAxis::atBottom),
                                              powerRect_->axis(QCPAxis::atLeft));
                // P where the row shows P and the meter has a power factor; S otherwise.
                curves.power->setSeries(
                    TrendSeries::power(*trace.history, powerFactor_ ? trace.factor : std::nullopt));
                curves.power->setPen(pen(kPowerColour));
            }
        } else if (trace.sum && powerRect_) {
            // The sum in the row's own unit: P where the row shows P, else S; read in place.
            curves.power = new TrendCurve(powerRect_->axis(QCPAxis::atBottom),
                                          powerRect_->axis(QCPAxis::atLeft));
            curves.power->setSeries(TrendSeries::sum(*trace.sum, powerFactor_.has_value()));
            curves.power->setPen(QPen(trace.colour, 2.0));
        }
        for (TrendCurve* curve : {curves.current, curves.second, curves.power}) {
            if (curve) {
                curve->setName(trace.name);
            }
        }
        if (TrendCurve* named = curves.current ? curves.current : curves.power; named && several) {
            named->addToLegend(legend_);
        }
        curves_.push_back(curves);
    }
}

void TrendChart::setPowerFactor(std::optional<PowerFactor> factor) {
    powerFactor_ = factor;
    if (powerRect_) {
        powerRect_->axis(QCPAxis::atLeft)->setLabel(powerTitle(powerFactor_));
    }
    placeCurves();
    redraw();
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
    if (leadSize() == 0) {
        return;
    }
    const double newest = leadKey(leadSize() - 1);
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
    bool wanted = false;
    for (const Trace& trace : traces_) {
        wanted = wanted || (trace.history && holdsAcVoltage(*trace.history));
    }
    if (wanted != (powerRect_ != nullptr)) {
        // The shading of a row that goes would outlive it.
        for (auto& shade : shades_) {
            removeItem(shade.first);
        }
        shades_.clear();
    }
    if (wanted && !powerRect_) {
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
    } else if (!wanted && powerRect_) {
        for (TraceCurves& curves : curves_) {
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
    if (powerRect_) {
        powerRect_->axis(QCPAxis::atLeft)->setLabel(powerTitle(powerFactor_));
    }
    if (shades_.empty() && !stretches_.empty()) {
        shadeStretches();
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
    if (const std::size_t size = leadSize(); size > 0) {
        const double first = leadKey(0);
        const double last = leadKey(size - 1);
        timeAxis()->setRange(first, std::max(last, first + 1));
    }
    redraw();
}

void TrendChart::showRange(double from, double to) {
    following_ = false;
    emit followingChanged(false);
    timeAxis()->setRange(from, std::max(to, from + 1));
    redraw();
}

void TrendChart::stopFollowing() {
    if (following_) {
        following_ = false;
        emit followingChanged(false);
    }
}

void TrendChart::placeTimeAxis() {
    const std::size_t size = leadSize();
    const double newest = size == 0
                              ? static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0
                              : leadKey(size - 1);
    double oldest = newest - spanSeconds(span_);
    if (span_ == Span::All) {
        oldest = size == 0 ? newest - 60 : leadKey(0);
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
    for (const TraceCurves& curves : curves_) {
        for (TrendCurve* curve : {curves.current, curves.second, curves.power}) {
            if (curve) {
                drawn.push_back(curve);
            }
        }
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
