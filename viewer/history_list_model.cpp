#include "viewer/history_list_model.h"

namespace lumopet {

int HistoryListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int HistoryListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant HistoryListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
    const ViewerRow& row = rows_[static_cast<size_t>(index.row())];
    switch (index.column()) {
    case SubjectColumn: return row.subject;
    case FromColumn: return row.from;
    case DateColumn: return row.date;
    default: return {};
    }
}

QVariant HistoryListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case SubjectColumn: return QStringLiteral("Subject");
    case FromColumn: return QStringLiteral("From");
    case DateColumn: return QStringLiteral("Date");
    default: return {};
    }
}

void HistoryListModel::setRows(std::vector<ViewerRow> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void HistoryListModel::removeListedRow(int i) {
    if (i < 0 || i >= rowCount()) return;
    beginRemoveRows(QModelIndex(), i, i);
    rows_.erase(rows_.begin() + i);
    endRemoveRows();
}

}  // namespace lumopet
