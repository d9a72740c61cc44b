#pragma once

#include "records/RecordTable.h"

#include <QAbstractTableModel>

namespace talviren {

// Shows the record table in a QTableView; a batch of changes resets the view once.
class RecordTableModel : public QAbstractTableModel, private RecordTable::Listener {
    Q_OBJECT

public:
    explicit RecordTableModel(RecordTable& table, QObject* parent = nullptr);
    ~RecordTableModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    void tableAboutToChange() override { beginResetModel(); }
    void tableChanged() override { endResetModel(); }

    RecordTable& table_;
};

} // namespace talviren
