#pragma once
// The UIDLs of received messages whose records are in the received history.
// A check that dies before its QUIT leaves every message it stored on the
// server; the next check finds their UIDLs here and deletes those messages
// instead of storing them a second time.
//
// One line per message, in ASCII. "<uidl>" names a message whose record is
// on disk. "<uidl> <length>" is written just before a record is appended,
// with the history's length at that moment: the record made it when the
// history now holds a complete record at the number that length gives. The
// line comes first so that there is no moment at which a record is on disk
// and its UIDL is not; a line whose record never came is dropped on
// reading, so a message is never deleted on the strength of a record that
// is not there. Reading settles such lines; the check rewrites the file
// settled before it notes new ones, so a stale line is never judged against
// a history that grew after it.

#include "core/program_paths.h"
#include "core/result.h"
#include "core/unique_fd.h"

#include <QSet>
#include <QString>

namespace lumopet {

// "\★MAilData\srndata2.uidl", beside the received history.
QString StoredUidlsPath(const ProgramPaths& paths);

// RFC 1939: one to 70 characters from 0x21 to 0x7E. A message whose UIDL is
// anything else is not tracked (it may be stored twice, never lost).
bool IsUsableUidl(const QString& uidl);

// The UIDLs of messages stored in history. A missing file lists none; a
// file that cannot be read, or is not a regular file, is a failure, never
// taken for an empty one. Lines that make no sense are left out.
Result<QSet<QString>> ReadStoredUidls(const QString& file, const QString& history);

// Replaces the file with these UIDLs, one a line, flushed to disk.
Status WriteStoredUidls(const QString& file, const QSet<QString>& uidls);

// The file held open while a check notes what it stores: opened after the
// check has written it settled, since that write replaces the file.
class UidlNotes {
public:
    static Result<UidlNotes> Open(const QString& file);
    // Notes uidl with the history's present length, before the message's
    // record is appended to the history. Not flushed: the check rewrites
    // the file, flushed, after it has flushed the history.
    Status note(const QString& uidl, qint64 historyLength);

private:
    UidlNotes(QString file, UniqueFd fd) : file_(std::move(file)), fd_(std::move(fd)) {}
    QString file_;
    UniqueFd fd_;
};

}  // namespace lumopet
