#pragma once

#include "trend/StatisticsRows.h"

#include <QAbstractTableModel>
#include <QTableView>

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

// The statistics as a table, named "Statistics" for the screen reader, as tall as its rows.
class StatisticsTable : public QTableView {
    Q_OBJECT

public:
    explicit StatisticsTable(QWidget* parent = nullptr);

    // Shows these rows: all of them, or with `scrolling` six, the rest behind a scroll bar.
    void setRows(std::vector<StatisticsRow> rows, bool scrolling);
    StatisticsModel* rows() const { return model_; }

private:
    StatisticsModel* model_;
};

} // namespace talviren
