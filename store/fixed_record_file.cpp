#include "store/fixed_record_file.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "core/unique_fd.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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
    return SystemErrorText(error);
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

// What the processor compares addresses by when it checks a load against
// the stores before it.
constexpr qint64 kAliasSpan = 4096;
// Small enough to stay in the processor's cache between its read and its
// write, large enough that the system calls cost nothing.
constexpr qint64 kCopyBlock = 1 << 20;

bool isMarked(const char* live) { return live[0] == 0 && live[1] == 0; }

// The number (from 0) of the first record marked for removal, count when
// none is; -1 with errno set on a read error. Reads only the Live fields.
qint64 firstMarked(int fd, qint64 count, const RecordFileKind& kind) {
    // The compaction reads the whole file after this: from a cold cache the
    // disk may as well start on all of it now. (Asked for field by field,
    // it took 32,766 calls.)
    ::posix_fadvise(fd, 0, count * kind.recordSize, POSIX_FADV_WILLNEED);
    for (qint64 i = 0; i < count; ++i) {
        char live[2];
        if (ReadAt(fd, live, 2, i * kind.recordSize + kind.liveOffset) != 2) return -1;
        if (isMarked(live)) return i;
    }
    return count;
}

// Builds the compacted file: the records before the first marked one, where
// they were, then every live record after it, side by side.
//
// The first part keeps its place in the page, and copy_file_range(2) copies
// it from page cache to page cache without a trip through the program, at
// cp's speed. The rest does not: a history record is 12,284 bytes, 4 short
// of three pages, so after a removed record every byte lands 4 bytes further
// along its page. The kernel copies with `rep movsb`, and where the
// destination runs a few bytes ahead of the source within 4 KiB, each load
// waits on the stores before it (4K aliasing): copied so by the kernel, 400
// MB took 0.26 s of processor here, against 0.12 s for cp. Read into a
// buffer that lies half a span from both places and written from there, it
// took 0.14 s, both copies at full speed; and the Live fields come along
// in the buffer, with no call of their own.
class CompactionWriter {
public:
    CompactionWriter(int from, int to, const RecordFileKind& kind, RangeCopy way)
        : from_(from), to_(to), kind_(kind), way_(way) {}

    // Records 0 .. count - 1, unchanged, at the start of the new file.
    bool keep(qint64 count) {
        qint64 offset = 0;
        qint64 length = count * kind_.recordSize;
        if (way_ == RangeCopy::Auto && !inKernel(offset, length)) return false;
        while (length > 0) {
            const qint64 got = readBlock(offset, offset, std::min(length, kCopyBlock));
            if (got < 0 || !WriteAt(to_, block_, got, offset)) return false;
            offset += got;
            length -= got;
        }
        written_ = count * kind_.recordSize;
        return true;
    }

    // The live ones of records first .. count - 1, after what is written.
    bool keepLive(qint64 first, qint64 count) {
        const qint64 size = kind_.recordSize;
        const qint64 perBlock = std::max<qint64>(1, kCopyBlock / size);
        for (qint64 at = first; at < count; at += perBlock) {
            const qint64 records = std::min(perBlock, count - at);
            if (readBlock(at * size, written_, records * size) < 0) return false;
            // Side by side live records go in one write.
            for (qint64 i = 0; i < records;) {
                if (isMarked(block_ + i * size + kind_.liveOffset)) {
                    ++i;
                    continue;
                }
                const qint64 start = i;
                while (i < records && !isMarked(block_ + i * size + kind_.liveOffset)) ++i;
                if (!WriteAt(to_, block_ + start * size, (i - start) * size, written_)) return false;
                written_ += (i - start) * size;
            }
        }
        return true;
    }

private:
    // Advances offset and length by what the kernel copied. It answers
    // EXDEV across file systems (before Linux 5.19 across any two), ENOSYS
    // on old kernels, EOPNOTSUPP or EINVAL where a file system cannot; a
    // copy that ends short may only mean that this file system stops there.
    // Each of these leaves the rest to the buffer, which tells a file that
    // really shrank from one that did not.
    bool inKernel(qint64& offset, qint64& length) {
        while (length > 0) {
            off64_t in = offset;
            off64_t out = offset;
            const ssize_t copied =
                ::copy_file_range(from_, &in, to_, &out, static_cast<size_t>(std::min<qint64>(length, 1 << 30)), 0);
            if (copied < 0 && errno == EINTR) continue;
            if (copied < 0 && errno != EXDEV && errno != ENOSYS && errno != EOPNOTSUPP && errno != EINVAL) return false;
            if (copied <= 0) return true;
            offset += copied;
            length -= copied;
        }
        return true;
    }

    // Reads length bytes at fromOffset into block_, placed for bytes that go
    // to toOffset: half way between their place in the span in the old file
    // and in the new one, and so half a span from both. Returns length, or
    // -1 with errno set (EIO when the file ended early: it shrank under us).
    qint64 readBlock(qint64 fromOffset, qint64 toOffset, qint64 length) {
        if (buffer_.empty()) buffer_.resize(static_cast<size_t>(kCopyBlock + 2 * kAliasSpan));
        const qint64 shift = ((toOffset - fromOffset) % kAliasSpan + kAliasSpan) % kAliasSpan;
        const qint64 wanted = (fromOffset % kAliasSpan + shift / 2 + kAliasSpan / 2) % kAliasSpan;
        const auto base = static_cast<qint64>(reinterpret_cast<std::uintptr_t>(buffer_.data()) % kAliasSpan);
        block_ = buffer_.data() + (wanted - base + kAliasSpan) % kAliasSpan;
        const qint64 got = ReadAt(from_, block_, length, fromOffset);
        if (got < 0) return -1;
        if (got < length) {
            errno = EIO;
            return -1;
        }
        return got;
    }

    int from_;
    int to_;
    const RecordFileKind& kind_;
    RangeCopy way_;
    qint64 written_ = 0;
    // Made only when a block needs it.
    std::vector<char> buffer_;
    char* block_ = nullptr;
};

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

qint64 NumberAppendedAt(qint64 length, qint64 recordSize) {
    qint64 records = length / recordSize;
    const qint64 rest = length % recordSize;
    if (2 * rest > recordSize || (2 * rest == recordSize && records % 2 == 1)) ++records;
    return records + 1;
}

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
    const qint64 n = NumberAppendedAt(length, kind_.recordSize);
    if (n > kind_.maxRecords)
        return Failure{QStringLiteral("%1「%2」には既に %3 件の記録があり、これ以上は登録できません。"
                                      "不要な記録を削除してから登録して下さい。")
                           .arg(kind_.noun, file_)
                           .arg(kind_.maxRecords)};
    if (!WriteAt(fd_.get(), record.data(), record.size(), offsetOf(static_cast<int>(n), kind_.recordSize)))
        return RecordWriteFailure(kind_, file_, errno);
    return static_cast<int>(n);
}

Status RecordAppender::cutPartRecord() {
    const qint64 length = FileLength(fd_.get());
    if (length < 0) return RecordReadFailure(kind_, file_, errno);
    const qint64 whole = length - length % kind_.recordSize;
    if (whole != length && ::ftruncate(fd_.get(), whole) != 0) return RecordWriteFailure(kind_, file_, errno);
    return success();
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

Status CompactFixedRecords(const QString& file, const QString& rewriteCopy, const RecordFileKind& kind,
                           RangeCopy way) {
    const Result<Recovery> recovered = RecoverFixedRecordCopy(file, rewriteCopy, kind);
    if (!recovered) return Failure{recovered.error()};

    const UniqueFd original(OpenRecordFile(file, O_RDONLY));
    if (!original.ok()) return errno == ENOENT ? success() : RecordReadFailure(kind, file, errno);
    struct stat info {};
    if (::fstat(original.get(), &info) != 0) return RecordReadFailure(kind, file, errno);
    const qint64 count = info.st_size / kind.recordSize;
    const qint64 first = firstMarked(original.get(), count, kind);
    if (first < 0) return RecordReadFailure(kind, file, errno);
    if (first == count) return success();

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
    CompactionWriter writer(original.get(), copy.get(), kind, way);
    if (!writer.keep(first) || !writer.keepLive(first + 1, count)) return abandon(errno);
    // The data and the length: the name that the rename gives it is made
    // durable by the folder's flush after it.
    if (::fdatasync(copy.get()) != 0) return abandon(errno);
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
