#pragma once
// Moving one record from a history to another (着信履歴 to 迷惑メール and
// back): the same 12,284 bytes, live, at the end of the other history.
//
// The record is appended to the destination and flushed there first; only
// then does it leave the source, through the source's own deletion (marked,
// then compacted). A kill between the two leaves the record in both
// histories, never in neither; a destination that cannot be written leaves
// the source as it was.

#include "core/result.h"
#include "store/history_record.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace lumopet {

// One history file and the rewrite copy its compaction uses.
struct HistoryPlace {
    QString file;
    QString rewriteCopy;
};

// How record n leaves its history once it is safe in the other: the
// history's deletion as the viewer removes a record (shown is what the user
// saw of it; the deletion checks record n still has its columns).
using RemoveHistoryRecord =
    std::function<Status(const QString& file, const QString& rewriteCopy, int n, const HistoryRecord& shown)>;

struct HistoryMove {
    Status status = success();
    // The record is in the destination, flushed (it may still be in the
    // source as well when status is a failure).
    bool appended = false;
    // Its number in the destination, from 1.
    int movedTo = 0;
    // RecordFingerprint of the record, the same in both histories.
    QByteArray fingerprint;
};

// Moves record n of from (the user saw it as shown: its Subject, Column2 and
// Column3 must still be record n's, or nothing happens) to the end of to.
HistoryMove MoveHistoryRecord(const HistoryPlace& from, int n, const HistoryRecord& shown, const QString& to,
                              const RemoveHistoryRecord& removeFromSource);

}  // namespace lumopet
