#pragma once
// The received and the sent history: appending, reading, marking for
// deletion and removing the marked records.
//
// Removal never leaves the only copy of the mail in a temporary file: the
// compacted history is built beside the old one under a fresh,
// unpredictable name, flushed to disk and renamed over it. Until the rename the old
// history is untouched; after it the new one is complete.

#include "core/program_paths.h"
#include "core/result.h"
#include "store/fixed_record_file.h"
#include "store/history_record.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace lumopet {

// "\★MAilData\srndata2.data" (received) or "\★MAilData\srndata5.data" (sent).
QString HistoryPath(const ProgramPaths& paths, History history);
// "\★MAilData\SRNDATA2.TMP" or "\★MAilData\SRNDATA5.TMP".
QString RewriteCopyPath(const ProgramPaths& paths, History history);

// Writes the record as number n = round(file length / 12284) + 1, the
// length rounded to the nearest whole record, halves to even: that is where
// the Windows version put it, so a file whose length is not a whole number
// of records goes on as it always did. Live is 1. Creates the file when it
// is missing (its folder must exist). Returns n. Does not flush to disk;
// see SyncHistory.
Result<int> AppendRecord(const QString& file, const HistoryRecord& record, History history);

// The history held open for a mail check's or an import's appends (see
// RecordAppender), without the part record a write cut short left at its
// end: the first record goes where that part began.
Result<RecordAppender> OpenHistoryForAppending(const QString& file);
// AppendRecord, on the open history.
Result<int> AppendRecord(RecordAppender& history, const HistoryRecord& record, History kind);
// The bytes AppendRecord writes: the record encoded, with Live 1. For a
// caller that needs them before the append, and appends them through
// RecordAppender::append.
QByteArray EncodeLiveRecord(const HistoryRecord& record, History history);

// Flushes the file, and the folder entry that names it, to disk. The mail
// check calls it once, after appending, before it lets the server delete the
// messages: a power cut must not lose mail the server no longer holds.
Status SyncHistory(const QString& file);

// Record n (from 1). Fails when the file has no complete record n.
Result<HistoryRecord> ReadRecord(const QString& file, int n);

// Records 1, 2, … up to the first incomplete one, in file order, marked ones
// included. A missing file has none.
std::vector<HistoryRecord> ReadAll(const QString& file);

struct HistoryListEntry {
    QString Subject;
    QString Column2;
    QString Column3;
    // RecordFingerprint of the record (16 hex digits), as the listing kept
    // beside the history gives it (ReadListingThroughCache); empty from
    // ReadListing, which reads only the columns.
    QByteArray Fingerprint;
};

// What a history window lists: the three columns of every complete record,
// entry i for record i + 1 (marked ones included, so the numbers match),
// without decoding a single body. Reads 280 bytes of each record.
std::vector<HistoryListEntry> ReadListing(const QString& file);

// The pieces of ReadListing, for the listing kept beside the history
// (store/history_listing.h): the 280 bytes of columns of count records
// from record first + 1 of the open history, as they are in the file
// (fewer records when it is shorter), and the entries they give.
QByteArray ReadListingColumns(int fd, qint64 first, qint64 count);
std::vector<HistoryListEntry> DecodeListingColumns(QByteArrayView columns);

// Marks record n for deletion (Live 0). The record is the one the window
// shows: when record n no longer has its subject and columns (the file
// changed since it was listed), nothing is marked and the call fails. Only
// the Live field is written, so the rest of the record keeps its bytes.
Status MarkDeleted(const QString& file, int n, HistoryRecord record);

// Removes every record whose Live is 0; the others keep their order and are
// numbered from 1 again. A leftover rewrite copy (rewriteCopy, the name the
// Windows version used) is settled first, as at start (RecoverRewriteCopy).
// The compacted file is built under a fresh name beside the history,
// flushed, and renamed over it; with nothing marked the history is
// not rewritten at all. A trailing incomplete record is not a record: a
// rewrite leaves it out. copy says how the records are moved (RangeCopy);
// the other ways are there for tests and the benchmark.
Status Compact(const QString& file, const QString& rewriteCopy, RangeCopy copy = RangeCopy::Auto);

// Run at start. A rewrite copy left by a crash is never dropped unread; the
// rule is RecoverFixedRecordCopy's. A history missing, or shorter than the
// copy, is replaced by the copy (a shorter one is kept beside it as
// "<history>.replaced"); otherwise the copy is stale and is removed.
Result<Recovery> RecoverRewriteCopy(const QString& file, const QString& rewriteCopy);

}  // namespace lumopet
