#pragma once

#include "trend/StatisticsRows.h"

#include <QAbstractTableModel>

#include <vector>

namespace talviren {

// Shows statistics rows in a QTableView: a row per quantity (its name in the row header),
// the columns Last to OL. Rows whose texts stay as they were change nothing on the screen.
class StatisticsModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit StatisticsModel(QObject* parent = nullptr);

    // Shows these rows.
    void setRows(std::vector<StatisticsRow> rows);
    const std::vector<StatisticsRow>& rows() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::vector<StatisticsRow> rows_;
};

} // namespace talviren
