#include "ui/StatisticsModel.h"

#include <QHeaderView>

namespace talviren {

StatisticsModel::StatisticsModel(QObject* parent) : QAbstractTableModel(parent) {}

void StatisticsModel::setRows(std::vector<StatisticsRow> rows) {
    if (rows.size() != rows_.size()) {
        beginResetModel();
        rows_ = std::move(rows);
        endResetModel();
        return;
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (rows[r] == rows_[r]) {
            continue;
        }
        const bool renamed = rows[r].name != rows_[r].name;
        rows_[r] = std::move(rows[r]);
        const int row = static_cast<int>(r);
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        if (renamed) {
            emit headerDataChanged(Qt::Vertical, row, row);
        }
    }
}

int StatisticsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int StatisticsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(kStatisticsColumns.size());
}

QVariant StatisticsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return QString::fromStdString(rows_[static_cast<std::size_t>(index.row())]
                                          .cells[static_cast<std::size_t>(index.column())]);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    default:
        return {};
    }
}

QVariant StatisticsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || section < 0) {
        return {};
    }
    if (orientation == Qt::Horizontal) {
        return section < columnCount() ? tr(kStatisticsColumns[static_cast<std::size_t>(section)])
                                       : QVariant();
    }
    return section < rowCount()
               ? QString::fromStdString(rows_[static_cast<std::size_t>(section)].name)
               : QVariant();
}

StatisticsTable::StatisticsTable(QWidget* parent)
    : QTableView(parent), model_(new StatisticsModel(this)) {
    setModel(model_);
    setAccessibleName(tr("Statistics"));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    verticalHeader()->setDefaultSectionSize(20);
    setFixedHeight(20 * 4 + horizontalHeader()->sizeHint().height() + 4);
}

void StatisticsTable::setRows(std::vector<StatisticsRow> rows, bool scrolling) {
    const int count = static_cast<int>(rows.size());
    model_->setRows(std::move(rows));
    // As tall as its rows (two at least), so that none hides behind a scroll bar; with several
    // meters six rows show, the chart keeping its room, and the rest scroll.
    const int rowHeight =
        count > 0 ? verticalHeader()->sectionSize(0) : verticalHeader()->defaultSectionSize();
    const int shownRows = scrolling ? std::min(count, 6) : count;
    setFixedHeight(std::max(shownRows * rowHeight, 2 * rowHeight) +
                   horizontalHeader()->sizeHint().height() + 2 * frameWidth());
}

} // namespace talviren
