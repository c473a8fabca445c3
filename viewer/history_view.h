#pragma once
// What the history viewer does to a history file, without a widget in
// sight: read what its list shows, remove one message or all of them, and
// the small text rules of its boxes.
//
// A removal marks and then compacts through the history files' own
// rewrite, which builds the new file beside the old one and renames it
// over it: whatever fails, the old file is whole and no live record is
// lost. A record that got marked but not compacted stays in the file (and
// in the list) until the next compaction, which the user asked for anyway.

#include "core/program_paths.h"
#include "core/result.h"
#include "core/viewer_data.h"
#include "store/history_record.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace lumopet {

// A history as the viewer lists it: row i is record i + 1, marked records
// included, so that a row number is always a record number.
struct HistoryView {
    std::vector<ViewerRow> rows;
    // Beside rows, each record's fingerprint (RecordFingerprint) as the
    // listing keeps it: what pairs a row with its Maildir copy.
    std::vector<QByteArray> fingerprints;
    // The last record, read whole: the fields and the editor show it.
    std::optional<HistoryRecord> last;
};

// Reads the three columns of every record and the last record whole; no
// other body is touched. A missing history is created empty (its folder
// must exist), as the list has always done. A history that exists but
// cannot be read is reported, and never replaced.
Result<HistoryView> ReadHistoryView(const QString& file);

// Removes record n. shown is what the user saw of it (its Subject, Column2
// and Column3 must still be record n's, or nothing is removed).
Status DeleteHistoryRecord(const QString& file, const QString& rewriteCopy, int n, const HistoryRecord& shown);

// Removes every record. On a failure part way, the records already marked
// are still compacted away (the user asked for them to go), and the failure
// is returned; the others stay.
Status DeleteAllHistoryRecords(const QString& file, const QString& rewriteCopy);

// A record as the user saw it in the list: its number (from 1) and its row.
struct ListedRecord {
    int n = 0;
    ViewerRow row;
};

struct RecordsRemoval {
    Status status = success();
    // RecordFingerprint of each record that went, as it was read before it
    // went, for the UIDL file; only for the received and the junk history.
    QList<QByteArray> fingerprints;
    // How many of them went (with a failure part way, fewer than asked).
    int removed = 0;
};

// Removes the records the user saw (a search's rows, deleted together) and
// compacts the history once. Every one of them must still be what the file
// holds at its number (its Subject, Column2 and Column3), or none is
// touched: the list is out of date, and the user meant other records. A
// failure part way through the marking compacts what was marked, as
// DeleteAllHistoryRecords does, and is returned.
RecordsRemoval DeleteHistoryRecords(const QString& file, const QString& rewriteCopy, History history,
                                    std::vector<ListedRecord> shown);

// After records of the received or the junk history went: the UIDL file
// of stored messages learns which, so that with mail left on the server
// their messages may go from it too (and are never stored again while it
// keeps them). deleted is the record as it was read. A failure to note it undoes
// nothing; the message then stays on the server. The failure's text says
// so.
Status NoteReceivedRecordDeleted(const ProgramPaths& paths, const HistoryRecord& deleted);
Status NoteAllReceivedRecordsDeleted(const ProgramPaths& paths);
// The same for several records at once, by their fingerprints.
Status NoteReceivedRecordsDeleted(const ProgramPaths& paths, const QList<QByteArray>& fingerprints);

// Creates the history when it is missing; an existing one is left alone.
Status CreateHistoryIfMissing(const QString& file);

// The question 1件削除 asks: the words it always had (the received
// history's end in an ASCII question mark, as the junk history's do, the
// sent history's in none),
// then the subject of the message that goes, so that the user sees which.
QString DeleteOneQuestion(History history, const QString& subject);

// A record's body (CR LF) the way a text box holds it (LF); a lone CR is a
// line break too.
QString EditorText(QStringView body);

}  // namespace lumopet
