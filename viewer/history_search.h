#pragma once
// Searching a history file for the records whose subject, second or third
// column or body holds a text, the way the history window's search box
// filters its list. Runs off the window's thread: a new keystroke sets the
// flag and the search in flight stops at its next block.

#include <QString>
#include <QStringView>

#include <atomic>
#include <vector>

namespace lumopet {

struct HistorySearchResult {
    // Set when the search stopped because it was asked to; the numbers are
    // then empty, never a part of the answer.
    bool cancelled = false;
    // The matching records, numbered from 1 as the window lists them (every
    // complete record, marked ones too), in file order.
    std::vector<int> records;
};

// The records of the history whose Subject, Column2, Column3 or Body (the
// 12,000 bytes the record holds) contains the query, both in their search
// form (see SearchForm). An empty query matches every record. A missing or
// unreadable file has none. cancel is looked at between blocks of records.
// threads is how many parts the file is split into, read side by side.
HistorySearchResult SearchHistory(const QString& file, QStringView query, const std::atomic<bool>& cancel,
                                  int threads = 2);

}  // namespace lumopet
