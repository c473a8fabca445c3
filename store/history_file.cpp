#include "store/history_file.h"

#include "core/unique_fd.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumopet {
namespace {

namespace layout = record_layout;

constexpr qint64 S = kHistoryRecordSize;
// Big enough that a copy costs no more than the disk does; a whole number of
// records, so that a block holds no record in part.
constexpr qint64 kRecordsPerBlock = 512;


QByteArray nameOf(const QString& path) { return QFile::encodeName(path); }

QString errorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

Failure readFailure(const QString& file, int error) {
    return Failure{QStringLiteral("履歴ファイル「%1」を読めません（%2）。").arg(file, errorText(error))};
}

Failure writeFailure(const QString& file, int error) {
    return Failure{QStringLiteral("履歴ファイル「%1」に書き込めません（%2）。").arg(file, errorText(error))};
}

Failure noSuchRecord(const QString& file, int n) {
    return Failure{QStringLiteral("履歴ファイル「%1」に %2 件目の記録がありません。").arg(file).arg(n)};
}

qint64 offsetOf(int n) { return (static_cast<qint64>(n) - 1) * S; }

std::optional<qint64> sizeOf(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return std::nullopt;
    return static_cast<qint64>(info.st_size);
}

// Reads up to size bytes at offset; fewer only at the end of the file.
// Returns -1 with errno set on an error.
qint64 readAt(int fd, char* data, qint64 size, qint64 offset) {
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

bool writeAt(int fd, const char* data, qint64 size, qint64 offset) {
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

// Makes a rename or a new name durable: without it a power cut may bring
// back the folder as it was.
bool syncFolderOf(const QString& path) {
    const UniqueFd folder(::open(nameOf(QFileInfo(path).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.ok() && ::fsync(folder.get()) == 0;
}

bool syncFile(const QString& path) {
    const UniqueFd fd(::open(nameOf(path).constData(), O_RDONLY | O_CLOEXEC));
    return fd.ok() && ::fsync(fd.get()) == 0;
}

// The number of records a file of this length counts as when a record is
// added: the length in records rounded to the nearest, halves to even, as
// the Windows version rounded it.
qint64 roundedRecords(qint64 length) {
    qint64 records = length / S;
    const qint64 rest = length % S;
    if (2 * rest > S || (2 * rest == S && records % 2 == 1)) ++records;
    return records;
}

// Copies length bytes from one file to the other in large blocks. (The
// kernel's copy_file_range measured no faster here.)
bool copyBytes(int from, qint64 fromOffset, int to, qint64 toOffset, qint64 length, QByteArray& buffer) {
    while (length > 0) {
        const qint64 want = std::min<qint64>(length, buffer.size());
        const qint64 got = readAt(from, buffer.data(), want, fromOffset);
        if (got < 0) return false;
        if (got < want) {
            errno = EIO;  // the history shrank under us
            return false;
        }
        if (!writeAt(to, buffer.constData(), got, toOffset)) return false;
        fromOffset += got;
        toOffset += got;
        length -= got;
    }
    return true;
}

// Asks the kernel to start reading one field of every record, all at once.
// Read one after the other from a disk, 32,766 small pieces of a cold file
// took seconds; asked for together, the disk fetches them side by side.
void askAhead(int fd, qint64 count, RecordField field) {
    for (qint64 i = 0; i < count; ++i) ::posix_fadvise(fd, i * S + field.offset, field.size, POSIX_FADV_WILLNEED);
}

// Records first .. last - 1 (from 0), all of them live.
struct LiveRun {
    qint64 first;
    qint64 last;
};

// Reads only the Live field of each record.
std::optional<std::vector<LiveRun>> liveRuns(int fd, qint64 count, bool& anyMarked) {
    std::vector<LiveRun> runs;
    anyMarked = false;
    askAhead(fd, count, layout::Live);
    for (qint64 i = 0; i < count; ++i) {
        char live[2];
        if (readAt(fd, live, 2, i * S + layout::Live.offset) != 2) return std::nullopt;
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

// The rewrite copy becomes the history; the history it replaces, if any, is
// kept as "<history>.replaced" (".replaced.2", … when that is taken): it is
// shorter than the copy, but it may hold mail that came after the crash.
Status restoreFromCopy(const QString& file, const QString& rewriteCopy) {
    const QByteArray history = nameOf(file);
    if (!syncFile(rewriteCopy)) return readFailure(rewriteCopy, errno);
    if (::access(history.constData(), F_OK) == 0) {
        for (int k = 1;; ++k) {
            const QByteArray aside = history + ".replaced" + (k == 1 ? QByteArray() : "." + QByteArray::number(k));
            // A second name for the same file: the history never goes
            // missing, not even for a moment.
            if (::link(history.constData(), aside.constData()) == 0) break;
            if (errno == EEXIST) continue;
            if (::rename(history.constData(), aside.constData()) == 0) break;
            return writeFailure(file, errno);
        }
    }
    if (::rename(nameOf(rewriteCopy).constData(), history.constData()) != 0) return writeFailure(file, errno);
    syncFolderOf(file);
    return success();
}

}  // namespace

QString HistoryPath(const ProgramPaths& paths, History history) {
    return paths.path(history == History::Received ? QStringLiteral("\\★MAilData\\srndata2.data")
                                                   : QStringLiteral("\\★MAilData\\srndata5.data"));
}

QString RewriteCopyPath(const ProgramPaths& paths, History history) {
    return paths.path(history == History::Received ? QStringLiteral("\\★MAilData\\SRNDATA2.TMP")
                                                   : QStringLiteral("\\★MAilData\\SRNDATA5.TMP"));
}

Result<int> AppendRecord(const QString& file, const HistoryRecord& record, History history) {
    UniqueFd fd(::open(nameOf(file).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd.ok()) return writeFailure(file, errno);
    const std::optional<qint64> length = sizeOf(fd.get());
    if (!length) return writeFailure(file, errno);
    const qint64 n = roundedRecords(*length) + 1;
    if (n > INT_MAX) return writeFailure(file, EFBIG);
    HistoryRecord live = record;
    live.Live = 1;
    const QByteArray bytes = EncodeRecord(live, history);
    if (!writeAt(fd.get(), bytes.constData(), bytes.size(), offsetOf(static_cast<int>(n))))
        return writeFailure(file, errno);
    if (!fd.close()) return writeFailure(file, errno);
    return static_cast<int>(n);
}

Status SyncHistory(const QString& file) {
    if (!syncFile(file) || !syncFolderOf(file)) return writeFailure(file, errno);
    return success();
}

Result<HistoryRecord> ReadRecord(const QString& file, int n) {
    const UniqueFd fd(::open(nameOf(file).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) return readFailure(file, errno);
    if (n < 1) return noSuchRecord(file, n);
    QByteArray bytes(S, Qt::Uninitialized);
    const qint64 got = readAt(fd.get(), bytes.data(), S, offsetOf(n));
    if (got < 0) return readFailure(file, errno);
    if (got < S) return noSuchRecord(file, n);
    return DecodeRecord(bytes);
}

std::vector<HistoryRecord> ReadAll(const QString& file) {
    std::vector<HistoryRecord> records;
    const UniqueFd fd(::open(nameOf(file).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) return records;
    QByteArray block(kRecordsPerBlock * S, Qt::Uninitialized);
    for (qint64 offset = 0;; offset += block.size()) {
        const qint64 got = readAt(fd.get(), block.data(), block.size(), offset);
        for (qint64 at = 0; at + S <= got; at += S)
            records.push_back(DecodeRecord(QByteArrayView(block).sliced(at, S)));
        if (got < block.size()) break;
    }
    return records;
}

std::vector<HistoryListEntry> ReadListing(const QString& file) {
    std::vector<HistoryListEntry> entries;
    const UniqueFd fd(::open(nameOf(file).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) return entries;
    const qint64 count = sizeOf(fd.get()).value_or(0) / S;
    entries.reserve(static_cast<size_t>(count));
    // The count comes from the length, so each of these records is
    // complete; only its first 280 bytes are read.
    askAhead(fd.get(), count, layout::ListingColumns);
    char columns[layout::ListingColumns.size];
    for (qint64 i = 0; i < count; ++i) {
        if (readAt(fd.get(), columns, sizeof columns, i * S) != sizeof columns) break;
        const QByteArrayView view(columns, sizeof columns);
        entries.push_back({DecodeField(view, layout::Subject), DecodeField(view, layout::Column2),
                           DecodeField(view, layout::Column3)});
    }
    return entries;
}

Status MarkDeleted(const QString& file, int n, HistoryRecord record) {
    const UniqueFd fd(::open(nameOf(file).constData(), O_RDWR | O_CLOEXEC));
    if (!fd.ok()) return writeFailure(file, errno);
    const std::optional<qint64> length = sizeOf(fd.get());
    if (!length) return readFailure(file, errno);
    if (n < 1 || offsetOf(n) + S > *length) return noSuchRecord(file, n);
    char columns[layout::ListingColumns.size];
    if (readAt(fd.get(), columns, sizeof columns, offsetOf(n)) != sizeof columns) return readFailure(file, errno);
    const QByteArrayView view(columns, sizeof columns);
    if (DecodeField(view, layout::Subject) != record.Subject || DecodeField(view, layout::Column2) != record.Column2 ||
        DecodeField(view, layout::Column3) != record.Column3)
        return Failure{
            QStringLiteral("履歴ファイル「%1」の %2 件目が一覧と違うため、削除しませんでした。").arg(file).arg(n)};
    const char marked[2] = {0, 0};
    if (!writeAt(fd.get(), marked, 2, offsetOf(n) + layout::Live.offset)) return writeFailure(file, errno);
    return success();
}

Status Compact(const QString& file, const QString& rewriteCopy) {
    const Result<Recovery> recovered = RecoverRewriteCopy(file, rewriteCopy);
    if (!recovered) return Failure{recovered.error()};

    const UniqueFd history(::open(nameOf(file).constData(), O_RDONLY | O_CLOEXEC));
    if (!history.ok()) return errno == ENOENT ? success() : readFailure(file, errno);
    struct stat info {};
    if (::fstat(history.get(), &info) != 0) return readFailure(file, errno);
    bool anyMarked = false;
    const std::optional<std::vector<LiveRun>> runs = liveRuns(history.get(), info.st_size / S, anyMarked);
    if (!runs) return readFailure(file, errno);
    if (!anyMarked) return success();

    const QByteArray copyName = nameOf(rewriteCopy);
    UniqueFd copy(::open(copyName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777));
    if (!copy.ok()) return writeFailure(rewriteCopy, errno);
    // From here on the copy is ours: any failure removes it and leaves the
    // history as it was.
    const auto abandon = [&](int error) {
        if (copy.ok()) copy.close();
        ::unlink(copyName.constData());
        return writeFailure(rewriteCopy, error);
    };
    if (::fchmod(copy.get(), info.st_mode & 07777) != 0) return abandon(errno);
    QByteArray buffer(kRecordsPerBlock * S, Qt::Uninitialized);
    qint64 written = 0;
    for (const LiveRun& run : *runs) {
        const qint64 length = (run.last - run.first) * S;
        if (!copyBytes(history.get(), run.first * S, copy.get(), written, length, buffer)) return abandon(errno);
        written += length;
    }
    if (::fsync(copy.get()) != 0) return abandon(errno);
    if (!copy.close()) return abandon(errno);
    if (::rename(copyName.constData(), nameOf(file).constData()) != 0) return abandon(errno);
    syncFolderOf(file);
    return success();
}

Result<Recovery> RecoverRewriteCopy(const QString& file, const QString& rewriteCopy) {
    struct stat copy {};
    if (::stat(nameOf(rewriteCopy).constData(), &copy) != 0) {
        if (errno == ENOENT) return Recovery::Nothing;
        return readFailure(rewriteCopy, errno);
    }
    struct stat history {};
    const bool historyThere = ::stat(nameOf(file).constData(), &history) == 0;
    if (!historyThere && errno != ENOENT) return readFailure(file, errno);
    if (!historyThere || history.st_size < copy.st_size) {
        const Status restored = restoreFromCopy(file, rewriteCopy);
        if (!restored) return Failure{restored.error()};
        return Recovery::RestoredFromCopy;
    }
    if (::unlink(nameOf(rewriteCopy).constData()) != 0) return writeFailure(rewriteCopy, errno);
    syncFolderOf(rewriteCopy);
    return Recovery::RemovedStaleCopy;
}

}  // namespace lumopet
