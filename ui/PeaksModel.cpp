#include "ui/PeaksModel.h"

#include "log/CsvLog.h"

namespace talviren {

PeaksModel::PeaksModel(QObject* parent) : QAbstractTableModel(parent) {}

void PeaksModel::setStudy(std::shared_ptr<const study::StudyResult> result) {
    beginResetModel();
    result_ = std::move(result);
    peaks_.clear();
    if (result_) {
        for (std::size_t m = 0; m < result_->meters.size(); ++m) {
            for (const std::size_t i : result_->meters[m].top) {
                peaks_.push_back({m, &result_->meters[m].intervals[i]});
            }
        }
    }
    endResetModel();
}

int PeaksModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(peaks_.size());
}

int PeaksModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 6;
}

QVariant PeaksModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)) {
        return role == Qt::TextAlignmentRole && index.column() > 1
                   ? QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter))
                   : QVariant();
    }
    const Peak& p = peaks_[static_cast<std::size_t>(index.row())];
    const study::Interval& in = *p.interval;
    const auto amperes = [](const std::optional<double>& a) {
        return a ? QString::number(*a, 'f', 2) + QStringLiteral(" A") : QString();
    };
    switch (index.column()) {
    case 0:
        return QString::fromStdString(result_->meters[p.meter].name);
    case 1: {
        // The log's time without its seconds and offset: "2026-01-12 17:45".
        std::string start = csvlog::localTime(in.startMs).substr(0, 16);
        start[10] = ' ';
        return QString::fromStdString(start);
    }
    case 2:
        return amperes(in.current);
    case 3:
        return amperes(in.maxCurrent);
    case 4:
        return in.apparent ? QString::number(*in.apparent / 1000, 'f', 3) + QStringLiteral(" kVA")
                           : QString();
    case 5:
        return QString::number(in.coverage * 100, 'f', 1) + QStringLiteral(" %");
    default:
        return {};
    }
}

QVariant PeaksModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal) {
        return {};
    }
    const char* names[] = {"Meter", "Start", "Current", "Highest", "S", "Coverage"};
    return section >= 0 && section < 6 ? tr(names[section]) : QVariant();
}

} // namespace talviren
