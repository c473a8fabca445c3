#pragma once
// What the history files and the address book have in common: a file that
// is nothing but records of one fixed size, record n (from 1) at byte
// (n - 1) * size, each with a 16-bit Live number, 0 when the record is
// marked for removal.
//
// Removal never leaves the only copy of the data in a temporary file: the
// compacted file is built beside the old one under a fresh, unpredictable
// name, flushed to disk and renamed over it. Until the rename the old file is
// untouched; after it the new one is complete.
//
// Record files are opened as someone else might have prepared them: a link
// or anything but a regular file where one should be is refused, never
// followed or read.

#include "core/result.h"
#include "core/safe_file.h"
#include "core/unique_fd.h"

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <climits>
#include <functional>

namespace lumopet {

// Big enough that a block read or copied costs no more than the disk does;
// a whole number of records, so that a block holds no record in part.
inline constexpr qint64 kRecordsPerBlock = 512;

struct RecordFileKind {
    qint64 recordSize;
    // Where the two bytes of Live lie in a record.
    qsizetype liveOffset;
    // The highest number a record may be given.
    qint64 maxRecords;
    // What the user's messages call the file: "履歴ファイル", "アドレス帳".
    QStringView noun;
};

enum class Recovery { Nothing, RestoredFromCopy, RemovedStaleCopy };

// "<noun>「<file>」を読めません（<reason>）。" and its writing twin.
Failure RecordReadFailure(const RecordFileKind& kind, const QString& file, int error);
Failure RecordWriteFailure(const RecordFileKind& kind, const QString& file, int error);
Failure NoSuchRecord(const RecordFileKind& kind, const QString& file, int n);

// open(2) with flags, refusing a link in the last place of the path and
// anything that is not a regular file (both with errno ELOOP, which the
// failures above put in words). Never waits on a FIFO. -1 on failure.
int OpenRecordFile(const QString& file, int flags);

// The length of the open file, or -1 with errno set.
qint64 FileLength(int fd);

// Asks the kernel to start reading the same few bytes of each of the first
// count records, all at once. Read one after the other from a disk, 32,766
// small pieces of a cold file took seconds; asked for together, the disk
// fetches them side by side.
void AskAhead(int fd, qint64 count, qint64 recordSize, qsizetype offset, qsizetype size);

// The number a record appended to a file of this length gets:
// round(length / recordSize) + 1, the length rounded to the nearest whole
// record, halves to even, as the Windows version rounded it.
qint64 NumberAppendedAt(qint64 length, qint64 recordSize);

// Writes one encoded record as number n = round(file length / size) + 1,
// the length rounded to the nearest whole record, halves to even: that is
// where the Windows version put it, so a file whose length is not a whole
// number of records goes on as it always did. Creates the file when it is
// missing (its folder must exist). Refuses, writing nothing, when n would
// pass kind.maxRecords. Returns n. Does not flush to disk.
Result<int> AppendFixedRecord(const QString& file, QByteArrayView record, const RecordFileKind& kind);

// Flushes the file, and the folder entry that names it, to disk.
Status SyncRecordFile(const QString& file, const RecordFileKind& kind);

// A record file held open for a run of appends: a mail check stores a
// thousand records through one, where opening the file for each cost more
// than writing it.
class RecordAppender {
public:
    // Opens the file, creating it when missing (its folder must exist).
    static Result<RecordAppender> Open(const QString& file, const RecordFileKind& kind);
    // The file's length now.
    Result<qint64> length() const;
    // Appends one encoded record by AppendFixedRecord's rule.
    Result<int> append(QByteArrayView record);
    // Cuts a part record left at the end by a write that was cut short,
    // so that the next append takes its place.
    Status cutPartRecord();
    // Flushes the file and its folder entry to disk. Fails when the name no
    // longer leads to the file appended to (someone replaced it meanwhile):
    // then what was appended may be in no file anyone will read.
    Status sync() const;

private:
    RecordAppender(QString file, RecordFileKind kind, UniqueFd fd)
        : file_(std::move(file)), kind_(kind), fd_(std::move(fd)) {}
    QString file_;
    RecordFileKind kind_;
    UniqueFd fd_;
};

// Writes Live 0 into record n, and nothing else. Fails when the file has no
// complete record n. When given, confirm sees the open file and the offset
// of the record first; its failure leaves the record as it was.
Status MarkFixedRecordDeleted(const QString& file, int n, const RecordFileKind& kind,
                              const std::function<Status(int fd, qint64 offset)>& confirm = {});

// How a compaction moves the live records into the new file.
enum class RangeCopy {
    // The records before the first marked one are copied by the kernel
    // (copy_file_range(2)), the others through a buffer placed so that the
    // processor copies them at full speed (see CompactionWriter). Where
    // the kernel cannot copy (EXDEV, ENOSYS, EOPNOTSUPP, EINVAL, or a copy
    // that stops short), the rest goes through the buffer too.
    Auto,
    // Everything through the buffer, as where the kernel cannot copy.
    ReadWrite,
};

// Removes every record whose Live is 0; the others keep their bytes and
// order and are numbered from 1 again. A leftover rewrite copy is settled
// first (RecoverFixedRecordCopy). With nothing marked the file is not
// rewritten at all. A trailing incomplete record is not a record: a
// rewrite leaves it out. A missing file has nothing to compact.
Status CompactFixedRecords(const QString& file, const QString& rewriteCopy, const RecordFileKind& kind,
                           RangeCopy copy = RangeCopy::Auto);

// A rewrite copy left by a crash is never dropped unread:
// - file missing, or shorter than the copy: the crash came in the middle of
//   a rebuild (the Windows version deleted the file and rebuilt it from the
//   copy), so the copy holds everything. It replaces the file; records that
//   were marked stay marked, and the next compaction removes them. A
//   shorter file it replaces is kept beside it as "<file>.replaced": it may
//   hold records added after the crash.
// - otherwise the file is intact and the copy is an unfinished compaction
//   (ours builds the copy and renames it; it is never longer than the
//   file), or the copy the Windows version made before it deleted
//   anything: it is removed.
Result<Recovery> RecoverFixedRecordCopy(const QString& file, const QString& rewriteCopy, const RecordFileKind& kind);

}  // namespace lumopet
