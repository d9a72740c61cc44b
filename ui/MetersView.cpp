#include "ui/MetersView.h"

#include "power/ApparentPower.h"
#include "ui/LinkTexts.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace talviren {

namespace {

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

// "AC I: 12.34A", as the meter shows the quantity.
QString quantityText(const std::optional<Quantity>& q) {
    return q ? QStringLiteral("%1: %2").arg(
                   QString::fromUtf8(q->symbol().data(), static_cast<int>(q->symbol().size())),
                   text(q->text))
             : QString();
}

QString decimal(std::int64_t value, int decimals, const std::string& separator) {
    return text(decimalText(value, decimals)).replace(QLatin1Char('.'), text(separator));
}

QStringList lines(const std::vector<std::string>& texts) {
    QStringList out;
    for (const std::string& line : texts) {
        out << text(line);
    }
    return out;
}

} // namespace

MetersView::MetersView(FleetCore& fleet, QWidget* parent)
    : QWidget(parent), fleet_(fleet), separator_(QLocale().decimalPoint().toStdString()) {
    setObjectName(QStringLiteral("Frame_meters"));
    setAutoFillBackground(true); // it covers the record table, as the realtime panel does
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    auto* bar = new QHBoxLayout;
    metersButton = new QToolButton(this);
    metersButton->setText(tr("Meters\u2026"));
    metersButton->setToolTip(tr("Meters on local ports and remote loggers, besides this one"));
    resetButton = new QToolButton(this);
    resetButton->setText(tr("Reset"));
    resetButton->setToolTip(tr("Every meter's statistics and energy count again from now"));
    bar->addWidget(metersButton);
    bar->addWidget(resetButton);
    bar->addStretch();
    layout->addLayout(bar);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    tilesArea_ = new QWidget(scroll);
    grid_ = new QGridLayout(tilesArea_);
    grid_->setSpacing(6);
    scroll->setWidget(tilesArea_);
    layout->addWidget(scroll, 1);

    totalPower = new NamedLabel(tr("total power"), this);
    totalEnergy = new NamedLabel(tr("total energy"), this);
    QFont bold = totalPower->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.3);
    totalPower->setFont(bold);
    layout->addWidget(totalPower);
    layout->addWidget(totalEnergy);

    connect(metersButton, &QToolButton::clicked, this, [this] {
        if (editMeters_) {
            editMeters_();
        }
    });
    connect(resetButton, &QToolButton::clicked, this, [this] {
        fleet_.resetStatistics();
        refresh();
    });
    // Tiles follow the readings on the event loop's turn: four meters at 2 Hz cost a refresh
    // each time the loop turns, not one per reading.
    refresh_.setSingleShot(true);
    refresh_.setInterval(0);
    connect(&refresh_, &QTimer::timeout, this, &MetersView::refresh);
    fleet_.addListener(this);
    rebuild();
}

MetersView::~MetersView() {
    listenToAlarms(false);
    fleet_.removeListener(this);
}

void MetersView::listenToAlarms(bool listen) {
    for (AlarmEngine* engine : heard_) {
        engine->removeListener(this);
    }
    heard_.clear();
    if (!listen) {
        return;
    }
    for (Meter* meter : fleet_.meters()) {
        heard_.push_back(&meter->alarms());
    }
    heard_.push_back(&fleet_.totalAlarms());
    for (AlarmEngine* engine : heard_) {
        engine->addListener(this);
    }
}

void MetersView::rebuild() {
    for (Tile& tile : tiles_) {
        delete tile.name->parentWidget();
    }
    tiles_.clear();
    const auto& meters = fleet_.meters();
    const int columns = meters.size() > 4 ? 3 : 2;
    for (std::size_t i = 0; i < meters.size(); ++i) {
        auto* frame = new QFrame(tilesArea_);
        frame->setFrameShape(QFrame::StyledPanel);
        auto* box = new QVBoxLayout(frame);
        const QString name = text(meters[i]->name());
        Tile tile;
        tile.name = new QLabel(name, frame);
        QFont big = tile.name->font();
        big.setBold(true);
        big.setPointSizeF(big.pointSizeF() * 1.4);
        tile.name->setFont(big);
        tile.current = new NamedLabel(name + tr(" current"), frame);
        tile.second = new NamedLabel(name + tr(" second"), frame);
        QFont value = tile.current->font();
        value.setPointSizeF(value.pointSizeF() * 1.6);
        value.setBold(true);
        tile.current->setFont(value);
        tile.second->setFont(value);
        tile.power = new NamedLabel(name + tr(" power"), frame);
        tile.link = new NamedLabel(name + tr(" link"), frame);
        tile.alarms = new NamedLabel(name + tr(" alarms"), frame);
        tile.alarms->setStyleSheet(QStringLiteral("color: #c62828; font-weight: bold"));
        tile.alarms->setWordWrap(true);
        for (QLabel* label : {static_cast<QLabel*>(tile.name), static_cast<QLabel*>(tile.current),
                              static_cast<QLabel*>(tile.second), static_cast<QLabel*>(tile.power),
                              static_cast<QLabel*>(tile.link), static_cast<QLabel*>(tile.alarms)}) {
            box->addWidget(label);
        }
        box->addStretch();
        grid_->addWidget(frame, static_cast<int>(i) / columns, static_cast<int>(i) % columns);
        tiles_.push_back(tile);
    }
    listenToAlarms(true);
    refresh();
}

void MetersView::refreshSoon() {
    if (!refresh_.isActive()) {
        refresh_.start();
    }
}

void MetersView::refresh() {
    const auto& meters = fleet_.meters();
    for (std::size_t i = 0; i < meters.size() && i < tiles_.size(); ++i) {
        const Meter& meter = *meters[i];
        const Tile& tile = tiles_[i];
        const auto& latest = meter.latest();
        tile.current->setText(latest ? quantityText(latest->current) : QString());
        tile.second->setText(latest ? quantityText(latest->second) : QString());
        QString power;
        if (latest) {
            const ApparentPower s = apparentPower(latest->raw);
            if (s.hasValue()) {
                power = QStringLiteral("S %1VA").arg(decimal(s.units, 4, separator_));
                if (const auto pf = meter.powerFactor()) {
                    power += QStringLiteral("   P %1W (PF %2)")
                                 .arg(withSeparator(realPowerMilliwatts(
                                          realPowerTenBillionths(s.units, *pf))),
                                      text(pf->text()));
                }
            } else if (s.state == ApparentPower::Overload) {
                power = QStringLiteral("S OLVA");
            }
        }
        tile.power->setText(power);
        tile.link->setText(linkText(meter.linkStatus()));
        QStringList raised = lines(meter.alarms().raisedLines());
        if (meter.missedReadings() > 0) {
            raised << tr("%1 readings the logger no longer had").arg(meter.missedReadings());
        }
        tile.alarms->setText(raised.join(QLatin1Char('\n')));
    }
    const PhaseSum& sum = fleet_.sum();
    QString total;
    if (const auto& point = sum.latest()) {
        total = QStringLiteral("\u03A3 S %1VA").arg(decimal(point->units, 4, separator_));
        if (point->realPower) {
            total += QStringLiteral(", \u03A3 P %1W")
                         .arg(withSeparator(realPowerMilliwatts(*point->realPower)));
        }
    } else {
        total =
            tr("\u03A3 S: none (no AC voltage, or a meter without a reading in the last 1.25 s)");
    }
    const QStringList raised = lines(fleet_.totalAlarms().raisedLines());
    if (!raised.isEmpty()) {
        total += QLatin1Char('\n') + raised.join(QLatin1Char('\n'));
    }
    totalPower->setText(total);
    QString energy =
        QStringLiteral("\u03A3 E %1 VAh").arg(decimal(sum.apparentEnergyUnits(), 4, separator_));
    if (const auto wh = sum.energyWh()) {
        energy += QStringLiteral(", %1 Wh").arg(decimal(std::llround(*wh * 10'000), 4, separator_));
    }
    totalEnergy->setText(energy);
}

QString MetersView::withSeparator(const std::string& number) const {
    return text(number).replace(QLatin1Char('.'), text(separator_));
}

} // namespace talviren
