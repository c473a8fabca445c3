#include "store/fixed_record_file.h"

#include "core/safe_file.h"
#include "core/unique_fd.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumopet {
namespace {

QByteArray nameOf(const QString& path) { return QFile::encodeName(path); }

QString errorText(int error) {
    // OpenRecordFile's answer to a link, a FIFO, a folder or a device.
    if (error == ELOOP) return QStringLiteral("通常のファイルではないため開きません");
    return QString::fromLocal8Bit(std::strerror(error));
}

qint64 offsetOf(int n, qint64 size) { return (static_cast<qint64>(n) - 1) * size; }

// Makes a rename or a new name durable: without it a power cut may bring
// back the folder as it was.
bool syncFolderOf(const QString& path) {
    const UniqueFd folder(::open(nameOf(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.ok() && ::fsync(folder.get()) == 0;
}

bool syncFile(const QString& path) {
    const UniqueFd fd(OpenRecordFile(path, O_RDONLY));
    return fd.ok() && ::fsync(fd.get()) == 0;
}

// The number of records a file of this length counts as when a record is
// added: the length in records rounded to the nearest, halves to even, as
// the Windows version rounded it.
qint64 roundedRecords(qint64 length, qint64 size) {
    qint64 records = length / size;
    const qint64 rest = length % size;
    if (2 * rest > size || (2 * rest == size && records % 2 == 1)) ++records;
    return records;
}

// Copies length bytes from one file to the other in large blocks. (The
// kernel's copy_file_range measured no faster here.)
bool copyBytes(int from, qint64 fromOffset, int to, qint64 toOffset, qint64 length, QByteArray& buffer) {
    while (length > 0) {
        const qint64 want = std::min<qint64>(length, buffer.size());
        const qint64 got = ReadAt(from, buffer.data(), want, fromOffset);
        if (got < 0) return false;
        if (got < want) {
            errno = EIO;  // the file shrank under us
            return false;
        }
        if (!WriteAt(to, buffer.constData(), got, toOffset)) return false;
        fromOffset += got;
        toOffset += got;
        length -= got;
    }
    return true;
}

// Records first .. last - 1 (from 0), all of them live.
struct LiveRun {
    qint64 first;
    qint64 last;
};

// Reads only the Live field of each record.
std::optional<std::vector<LiveRun>> liveRuns(int fd, qint64 count, const RecordFileKind& kind, bool& anyMarked) {
    std::vector<LiveRun> runs;
    anyMarked = false;
    AskAhead(fd, count, kind.recordSize, kind.liveOffset, 2);
    for (qint64 i = 0; i < count; ++i) {
        char live[2];
        if (ReadAt(fd, live, 2, i * kind.recordSize + kind.liveOffset) != 2) return std::nullopt;
        if (live[0] == 0 && live[1] == 0) {
            anyMarked = true;
        } else if (!runs.empty() && runs.back().last == i) {
            runs.back().last = i + 1;
        } else {
            runs.push_back({i, i + 1});
        }
    }
    return runs;
}

// lstat(2) that calls anything but a regular file ELOOP, as OpenRecordFile
// does. False with errno set.
bool regularFileInfo(const QString& path, struct stat& info) {
    if (::lstat(nameOf(path).constData(), &info) != 0) return false;
    if (!S_ISREG(info.st_mode)) {
        errno = ELOOP;
        return false;
    }
    return true;
}

// The rewrite copy becomes the file; the file it replaces, if any, is kept
// as "<file>.replaced" (".replaced.2", … when that is taken): it is shorter
// than the copy, but it may hold records that came after the crash.
Status restoreFromCopy(const QString& file, const QString& rewriteCopy, const RecordFileKind& kind) {
    const QByteArray target = nameOf(file);
    if (!syncFile(rewriteCopy)) return RecordReadFailure(kind, rewriteCopy, errno);
    if (::access(target.constData(), F_OK) == 0) {
        for (int k = 1;; ++k) {
            const QByteArray aside = target + ".replaced" + (k == 1 ? QByteArray() : "." + QByteArray::number(k));
            // A second name for the same file: the file never goes missing,
            // not even for a moment.
            if (::link(target.constData(), aside.constData()) == 0) break;
            if (errno == EEXIST) continue;
            if (::rename(target.constData(), aside.constData()) == 0) break;
            return RecordWriteFailure(kind, file, errno);
        }
    }
    if (::rename(nameOf(rewriteCopy).constData(), target.constData()) != 0)
        return RecordWriteFailure(kind, file, errno);
    syncFolderOf(file);
    return success();
}

}  // namespace

Failure RecordReadFailure(const RecordFileKind& kind, const QString& file, int error) {
    return Failure{QStringLiteral("%1「%2」を読めません（%3）。").arg(kind.noun, file, errorText(error))};
}

Failure RecordWriteFailure(const RecordFileKind& kind, const QString& file, int error) {
    return Failure{QStringLiteral("%1「%2」に書き込めません（%3）。").arg(kind.noun, file, errorText(error))};
}

Failure NoSuchRecord(const RecordFileKind& kind, const QString& file, int n) {
    return Failure{QStringLiteral("%1「%2」に %3 件目の記録がありません。").arg(kind.noun, file).arg(n)};
}

int OpenRecordFile(const QString& file, int flags) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer. It changes
    // nothing for a regular file.
    const int fd = ::open(nameOf(file).constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    struct stat info {};
    const bool statted = ::fstat(fd, &info) == 0;
    if (!statted || !S_ISREG(info.st_mode)) {
        const int error = statted ? ELOOP : errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

qint64 ReadAt(int fd, char* data, qint64 size, qint64 offset) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, data + done, static_cast<size_t>(size - done), offset + done);
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return done;
}

bool WriteAt(int fd, const char* data, qint64 size, qint64 offset) {
    qint64 done = 0;
    while (done < size) {
        const ssize_t put = ::pwrite(fd, data + done, static_cast<size_t>(size - done), offset + done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += put;
    }
    return true;
}

qint64 FileLength(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return -1;
    return static_cast<qint64>(info.st_size);
}

void AskAhead(int fd, qint64 count, qint64 recordSize, qsizetype offset, qsizetype size) {
    for (qint64 i = 0; i < count; ++i) ::posix_fadvise(fd, i * recordSize + offset, size, POSIX_FADV_WILLNEED);
}

Result<RecordAppender> RecordAppender::Open(const QString& file, const RecordFileKind& kind) {
    UniqueFd fd(OpenRecordFile(file, O_RDWR | O_CREAT));
    if (!fd.ok()) return RecordWriteFailure(kind, file, errno);
    return RecordAppender(file, kind, std::move(fd));
}

Result<qint64> RecordAppender::length() const {
    const qint64 length = FileLength(fd_.get());
    if (length < 0) return RecordReadFailure(kind_, file_, errno);
    return length;
}

Result<int> RecordAppender::append(QByteArrayView record) {
    const qint64 length = FileLength(fd_.get());
    if (length < 0) return RecordWriteFailure(kind_, file_, errno);
    const qint64 n = roundedRecords(length, kind_.recordSize) + 1;
    if (n > kind_.maxRecords)
        return Failure{QStringLiteral("%1「%2」には既に %3 件の記録があり、これ以上は登録できません。"
                                      "不要な記録を削除してから登録して下さい。")
                           .arg(kind_.noun, file_)
                           .arg(kind_.maxRecords)};
    if (!WriteAt(fd_.get(), record.data(), record.size(), offsetOf(static_cast<int>(n), kind_.recordSize)))
        return RecordWriteFailure(kind_, file_, errno);
    return static_cast<int>(n);
}

Status RecordAppender::sync() const {
    struct stat held {}, named {};
    if (::fstat(fd_.get(), &held) != 0 || ::stat(nameOf(file_).constData(), &named) != 0)
        return RecordWriteFailure(kind_, file_, errno);
    if (held.st_dev != named.st_dev || held.st_ino != named.st_ino)
        return Failure{QStringLiteral("%1「%2」は書き込みの間に別のファイルに置き換えられました。").arg(kind_.noun, file_)};
    if (::fsync(fd_.get()) != 0 || !syncFolderOf(file_)) return RecordWriteFailure(kind_, file_, errno);
    return success();
}

Result<int> AppendFixedRecord(const QString& file, QByteArrayView record, const RecordFileKind& kind) {
    auto appender = RecordAppender::Open(file, kind);
    if (!appender) return Failure{appender.error()};
    return appender.value().append(record);
}

Status SyncRecordFile(const QString& file, const RecordFileKind& kind) {
    if (!syncFile(file) || !syncFolderOf(file)) return RecordWriteFailure(kind, file, errno);
    return success();
}

Status MarkFixedRecordDeleted(const QString& file, int n, const RecordFileKind& kind,
                              const std::function<Status(int fd, qint64 offset)>& confirm) {
    const UniqueFd fd(OpenRecordFile(file, O_RDWR));
    if (!fd.ok()) return RecordWriteFailure(kind, file, errno);
    const qint64 length = FileLength(fd.get());
    if (length < 0) return RecordReadFailure(kind, file, errno);
    const qint64 offset = offsetOf(n, kind.recordSize);
    if (n < 1 || offset + kind.recordSize > length) return NoSuchRecord(kind, file, n);
    if (confirm) {
        const Status confirmed = confirm(fd.get(), offset);
        if (!confirmed) return confirmed;
    }
    const char marked[2] = {0, 0};
    if (!WriteAt(fd.get(), marked, 2, offset + kind.liveOffset)) return RecordWriteFailure(kind, file, errno);
    return success();
}

Status CompactFixedRecords(const QString& file, const QString& rewriteCopy, const RecordFileKind& kind) {
    const Result<Recovery> recovered = RecoverFixedRecordCopy(file, rewriteCopy, kind);
    if (!recovered) return Failure{recovered.error()};

    const UniqueFd original(OpenRecordFile(file, O_RDONLY));
    if (!original.ok()) return errno == ENOENT ? success() : RecordReadFailure(kind, file, errno);
    struct stat info {};
    if (::fstat(original.get(), &info) != 0) return RecordReadFailure(kind, file, errno);
    const qint64 size = kind.recordSize;
    bool anyMarked = false;
    const std::optional<std::vector<LiveRun>> runs = liveRuns(original.get(), info.st_size / size, kind, anyMarked);
    if (!runs) return RecordReadFailure(kind, file, errno);
    if (!anyMarked) return success();

    // Not under the old fixed copy name: a name anyone can know in advance
    // is a name someone can put a link or a FIFO at.
    const std::optional<CreatedFile> created = CreateRewriteFile(file);
    if (!created) return RecordWriteFailure(kind, file, errno);
    const QByteArray copyName = nameOf(created->path);
    UniqueFd copy(created->fd);
    // From here on the copy is ours: any failure removes it and leaves the
    // file as it was.
    const auto abandon = [&](int error) {
        if (copy.ok()) copy.close();
        ::unlink(copyName.constData());
        return RecordWriteFailure(kind, created->path, error);
    };
    if (::fchmod(copy.get(), info.st_mode & 07777) != 0) return abandon(errno);
    QByteArray buffer(kRecordsPerBlock * size, Qt::Uninitialized);
    qint64 written = 0;
    for (const LiveRun& run : *runs) {
        const qint64 length = (run.last - run.first) * size;
        if (!copyBytes(original.get(), run.first * size, copy.get(), written, length, buffer)) return abandon(errno);
        written += length;
    }
    if (::fsync(copy.get()) != 0) return abandon(errno);
    if (!copy.close()) return abandon(errno);
    if (::rename(copyName.constData(), nameOf(file).constData()) != 0) return abandon(errno);
    syncFolderOf(file);
    return success();
}

Result<Recovery> RecoverFixedRecordCopy(const QString& file, const QString& rewriteCopy, const RecordFileKind& kind) {
    // Our own rewrites never touch the file before their rename: what one
    // left behind is only ever a spare copy.
    RemoveLeftoverRewriteFiles(file);
    struct stat copy {};
    if (!regularFileInfo(rewriteCopy, copy)) {
        if (errno == ENOENT) return Recovery::Nothing;
        return RecordReadFailure(kind, rewriteCopy, errno);
    }
    struct stat original {};
    const bool originalThere = regularFileInfo(file, original);
    if (!originalThere && errno != ENOENT) return RecordReadFailure(kind, file, errno);
    if (!originalThere || original.st_size < copy.st_size) {
        const Status restored = restoreFromCopy(file, rewriteCopy, kind);
        if (!restored) return Failure{restored.error()};
        return Recovery::RestoredFromCopy;
    }
    if (::unlink(nameOf(rewriteCopy).constData()) != 0) return RecordWriteFailure(kind, rewriteCopy, errno);
    syncFolderOf(rewriteCopy);
    return Recovery::RemovedStaleCopy;
}

}  // namespace lumopet
