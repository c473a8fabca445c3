#pragma once
// The rows of the viewer's list: a full history has 32,766 of them, far too
// many for one widget item each. The view asks for what it paints.
//
// The model holds every row of the history; a search shows some of them
// without copying a row: it keeps the numbers of the records shown, and
// the view's row i is the record at place i of those numbers.

#include "core/viewer_data.h"

#include <QAbstractTableModel>

#include <optional>
#include <utility>
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

    // Every row at once, in one reset of the view; all of them are shown
    // (numbers of an earlier search mean nothing for new rows).
    void setRows(std::vector<ViewerRow> rows);
    void clear() { setRows({}); }
    // Only the rows of these records (numbers from 1, ascending, as a
    // history search gives them); a number past the rows is left out.
    void showOnly(std::vector<int> records);
    // Every row again.
    void showAll();
    bool filtered() const { return filtered_; }

    // The record (from 1) that list row i (from 0) shows; 0 for none.
    int recordOfRow(int i) const;
    // The list row (from 0) that shows record n; -1 when none does.
    int rowOfRecord(int n) const;
    // The records the list shows, in list order.
    std::vector<int> shownRecords() const;
    // Record n goes from the rows: its list row, if it is shown, leaves,
    // and the records after it are numbered one less, as in the file.
    void removeRecord(int n);

    // Every row the model holds, shown or not: row i is record i + 1. These
    // are the records' own texts, which a deletion checks the file against.
    const std::vector<ViewerRow>& rows() const { return rows_; }

    // What the list shows of records whose texts the record could not hold
    // (characters outside code page 932): the whole texts of their copies,
    // by record number. The records' own texts stay in rows().
    void setWholeTexts(const std::vector<std::pair<int, ViewerRow>>& texts);
    // The texts the list shows for record n.
    const ViewerRow& shownTexts(int n) const;

private:
    const ViewerRow* shownRow(int i) const;

    std::vector<ViewerRow> rows_;
    // Beside rows_, index for index, once any whole text is known.
    std::vector<std::optional<ViewerRow>> wholeTexts_;
    bool filtered_ = false;
    std::vector<int> shown_;  // record numbers, ascending, while filtered
};

}  // namespace lumopet
