#include "viewer/history_list_model.h"

#include <algorithm>

namespace lumopet {

int HistoryListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(filtered_ ? shown_.size() : rows_.size());
}

int HistoryListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

const ViewerRow* HistoryListModel::shownRow(int i) const {
    const int n = recordOfRow(i);
    return n >= 1 ? &shownTexts(n) : nullptr;
}

const ViewerRow& HistoryListModel::shownTexts(int n) const {
    const auto i = static_cast<size_t>(n - 1);
    if (i < wholeTexts_.size() && wholeTexts_[i]) return *wholeTexts_[i];
    return rows_[i];
}

void HistoryListModel::setWholeTexts(const std::vector<std::pair<int, ViewerRow>>& texts) {
    if (texts.empty()) return;
    wholeTexts_.resize(rows_.size());
    for (const auto& [n, row] : texts) {
        if (n >= 1 && n <= static_cast<int>(rows_.size())) wholeTexts_[static_cast<size_t>(n - 1)] = row;
    }
    if (rowCount() > 0) Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), {Qt::DisplayRole});
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    const ViewerRow* row = shownRow(index.row());
    if (!row) return {};
    switch (index.column()) {
    case SubjectColumn: return row->subject;
    case FromColumn: return row->from;
    case DateColumn: return row->date;
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
    wholeTexts_.clear();
    filtered_ = false;
    shown_.clear();
    endResetModel();
}

void HistoryListModel::showOnly(std::vector<int> records) {
    const int count = static_cast<int>(rows_.size());
    records.erase(std::remove_if(records.begin(), records.end(), [count](int n) { return n < 1 || n > count; }),
                  records.end());
    beginResetModel();
    filtered_ = true;
    shown_ = std::move(records);
    endResetModel();
}

void HistoryListModel::showAll() {
    if (!filtered_) return;
    beginResetModel();
    filtered_ = false;
    shown_.clear();
    endResetModel();
}

int HistoryListModel::recordOfRow(int i) const {
    if (i < 0 || i >= rowCount()) return 0;
    return filtered_ ? shown_[static_cast<size_t>(i)] : i + 1;
}

int HistoryListModel::rowOfRecord(int n) const {
    if (n < 1 || n > static_cast<int>(rows_.size())) return -1;
    if (!filtered_) return n - 1;
    const auto at = std::lower_bound(shown_.begin(), shown_.end(), n);
    return at != shown_.end() && *at == n ? static_cast<int>(at - shown_.begin()) : -1;
}

std::vector<int> HistoryListModel::shownRecords() const {
    if (filtered_) return shown_;
    std::vector<int> all(rows_.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i + 1);
    return all;
}

void HistoryListModel::removeRecord(int n) {
    if (n < 1 || n > static_cast<int>(rows_.size())) return;
    const int row = rowOfRecord(n);
    if (row >= 0) beginRemoveRows(QModelIndex(), row, row);
    rows_.erase(rows_.begin() + (n - 1));
    if (static_cast<size_t>(n - 1) < wholeTexts_.size()) wholeTexts_.erase(wholeTexts_.begin() + (n - 1));
    if (filtered_) {
        if (row >= 0) shown_.erase(shown_.begin() + row);
        // The numbers after it close up; the rows stay where they are.
        for (int& shown : shown_) {
            if (shown > n) --shown;
        }
    }
    if (row >= 0) endRemoveRows();
}

}  // namespace lumopet
