#pragma once
// The UIDLs of received messages whose records are in the received history,
// with the day each was stored and which record it became.
//
// A check that dies before its QUIT leaves every message it stored on the
// server; the next check finds their UIDLs here and deletes those messages
// instead of storing them a second time. With mail left on the server, the
// same lines keep every message the server still holds from being stored
// again, tell how long it has been kept there, and whether the user has
// deleted its record since.
//
// One line per message, in ASCII:
//   "<uidl> stored=YYYY-MM-DD record=<16 hex>"            stored
//   "<uidl> stored=YYYY-MM-DD record=<16 hex> deleted"    stored, and the
//                                                         user deleted its
//                                                         record
//   "<uidl> <length> stored=YYYY-MM-DD record=<16 hex>"   noted before an
//                                                         append
//   "<uidl> <length> junk stored=... record=..."          noted before an
//                                                         append to the
//                                                         junk history
// and the two forms older versions wrote, "<uidl>" and "<uidl> <length>",
// which read as stored today (the next rewrite writes that day).
//
// The noted line is written just before a record is appended, with the
// history's length at that moment: the record made it when the history now
// holds a complete record at the number that length gives. The line comes
// first so that there is no moment at which a record is on disk and its
// UIDL is not; a line whose record never came is dropped on reading, so a
// message is never deleted on the strength of a record that is not there.
// Reading settles such lines; the check rewrites the file settled before it
// notes new ones, so a stale line is never judged against a history that
// grew after it.

#include "core/program_paths.h"
#include "core/result.h"
#include "core/unique_fd.h"
#include "store/history_record.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QMap>
#include <QString>

namespace lumopet {

// "\★MAilData\srndata2.uidl", beside the received history.
QString StoredUidlsPath(const ProgramPaths& paths);

// RFC 1939: one to 70 characters from 0x21 to 0x7E. A message whose UIDL is
// anything else is not tracked (it may be stored twice, never lost).
bool IsUsableUidl(const QString& uidl);

// What the file says of one stored message.
struct StoredUidl {
    // The day its record went into the history.
    QDate stored;
    // RecordFingerprint of that record; empty for a line an older version
    // wrote.
    QByteArray record;
    // The user has deleted that record in the viewer.
    bool recordDeleted = false;

    bool operator==(const StoredUidl&) const = default;
};

using StoredUidls = QMap<QString, StoredUidl>;

// 16 hex digits that tell a record from the others: SHA-1 over the record's
// bytes in the received history, its live mark left out. A record read back
// from the history gives the same digits as the one that was stored.
QByteArray RecordFingerprint(const HistoryRecord& record);
// The same digits from the record's 12284 bytes as the history holds them
// (EncodeRecord's form), without decoding a field: reading a full history
// for its fingerprints costs no conversion of 400 MB of text.
QByteArray RecordBytesFingerprint(QByteArrayView encoded);

// The messages stored in history. A missing file lists none; a file that
// cannot be read, or is not a regular file, is a failure, never taken for
// an empty one. Lines that make no sense are left out. A line without a
// day takes today. A line noted for the junk history is judged against
// junkHistory (dropped when none is given).
Result<StoredUidls> ReadStoredUidls(const QString& file, const QString& history, QDate today,
                                    const QString& junkHistory = QString());

// Replaces the file with these, one settled line each in UIDL order,
// flushed to disk.
Status WriteStoredUidls(const QString& file, const StoredUidls& uidls);

// The user deleted records in the received history: each fingerprint marks
// the first line with that record not marked yet. A noted line whose
// record the user deleted is settled by it (the record was there). Every
// other line stays as it is. A missing file has nothing to mark.
Status NoteRecordsDeleted(const QString& file, const QList<QByteArray>& fingerprints);

// The user deleted every record of the received history: every stored line
// is marked. A noted line stays as it is: whether its record came is no
// longer to be told, and the next check, not finding it, stores its
// message again rather than delete it unstored.
Status NoteAllRecordsDeleted(const QString& file);

// The file held open while a check notes what it stores: opened after the
// check has written it settled, since that write replaces the file.
class UidlNotes {
public:
    static Result<UidlNotes> Open(const QString& file);
    // Notes uidl with the history's present length, before the message's
    // record is appended to the history. Not flushed: the check rewrites
    // the file, flushed, after it has flushed the history.
    // inJunkHistory: the record goes into the junk history, whose length
    // historyLength is.
    Status note(const QString& uidl, qint64 historyLength, const StoredUidl& stored, bool inJunkHistory = false);

private:
    UidlNotes(QString file, UniqueFd fd) : file_(std::move(file)), fd_(std::move(fd)) {}
    QString file_;
    UniqueFd fd_;
};

}  // namespace lumopet
