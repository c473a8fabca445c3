#pragma once
// The rows of the viewer's list: a full history has 32,766 of them, far too
// many for one widget item each. The view asks for what it paints.

#include "core/viewer_data.h"

#include <QAbstractTableModel>

#include <vector>

namespace lumopet {

class HistoryListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // "Subject", "From", "Date": the sub-items of a row.
    enum Column { SubjectColumn, FromColumn, DateColumn, ColumnCount };

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Every row at once, in one reset of the view.
    void setRows(std::vector<ViewerRow> rows);
    void clear() { setRows({}); }
    // Row i (from 0) goes; the rows after it move up by one.
    void removeListedRow(int i);
    const std::vector<ViewerRow>& rows() const { return rows_; }

private:
    std::vector<ViewerRow> rows_;
};

}  // namespace lumopet
