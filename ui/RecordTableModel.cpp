#include "ui/RecordTableModel.h"

namespace talviren {

RecordTableModel::RecordTableModel(RecordTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table) {
    table_.setListener(this);
}

RecordTableModel::~RecordTableModel() {
    table_.setListener(nullptr);
}

int RecordTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : table_.rows();
}

int RecordTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : table_.columns();
}

QVariant RecordTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return QString::fromStdString(table_.cell(index.row(), index.column()));
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    default:
        return {};
    }
}

} // namespace talviren
