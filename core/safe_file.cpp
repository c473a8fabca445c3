#include "core/safe_file.h"

#include "core/system_error_text.h"
#include "core/unique_fd.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lumopet {
namespace {

// Beside the target; the six X are replaced by mkostemps, so that nobody can
// put a link or a file in its way ahead of time.
const QByteArray kRewriteSuffix = QByteArrayLiteral(".lumopet-new");
const QByteArray kRewriteTemplate = QByteArrayLiteral(".XXXXXX") + kRewriteSuffix;

QString errorText(int error) { return SystemErrorText(error); }

Failure writeFailure(const QString& path, int error) {
    return Failure{QStringLiteral("ファイル「%1」に書き込めません（%2）。").arg(path, errorText(error))};
}

Failure readFailure(const QString& path, const QString& why) {
    return Failure{QStringLiteral("ファイル「%1」を読み込めません（%2）。").arg(path, why)};
}

// Makes the rename itself durable: without this, a power cut right after
// the rename may bring back the old directory entry.
void syncFolderOf(const QByteArray& path) {
    const QByteArray folder = QFileInfo(QString::fromUtf8(path)).absolutePath().toUtf8();
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// The process's umask, read without changing it (umask() itself can only
// be read by setting it, which races with other threads creating files).
mode_t currentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (!line.startsWith("Umask:")) continue;
            bool ok = false;
            const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
            if (ok) return static_cast<mode_t>(value & 0777);
        }
    }
    return 022;
}

// mkostemps on a name made from the path; the template is filled in place.
int makeUnique(QByteArray& name, const QByteArray& suffix) {
    return ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
}

}  // namespace

bool SameFileContent(int fd, int other) {
    struct stat info {}, otherInfo {};
    if (::fstat(fd, &info) != 0 || ::fstat(other, &otherInfo) != 0 || !S_ISREG(info.st_mode) ||
        !S_ISREG(otherInfo.st_mode) || info.st_size != otherInfo.st_size)
        return false;
    constexpr size_t kSlice = 1 << 20;
    std::vector<char> buffer(kSlice), otherBuffer(kSlice);
    for (off_t offset = 0; offset < info.st_size;) {
        const qint64 got = ReadAt(fd, buffer.data(), kSlice, offset);
        if (got <= 0 || ReadAt(other, otherBuffer.data(), got, offset) != got) return false;
        if (std::memcmp(buffer.data(), otherBuffer.data(), static_cast<size_t>(got)) != 0) return false;
        offset += got;
    }
    return true;
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

bool WriteAll(int fd, QByteArrayView bytes) {
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

namespace {

Result<std::optional<QByteArray>> readIfPresent(const QString& path, int flags) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it changes
    // nothing for a regular file.
    const UniqueFd fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags));
    if (!fd.ok()) {
        if (errno == ENOENT) return std::optional<QByteArray>();
        // O_NOFOLLOW says ELOOP for a link in the file's place.
        if (errno == ELOOP && (flags & O_NOFOLLOW) != 0) return readFailure(path, QStringLiteral("リンクになっています"));
        return readFailure(path, errorText(errno));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return readFailure(path, errorText(errno));
    if (!S_ISREG(info.st_mode)) return readFailure(path, QStringLiteral("通常のファイルではありません"));
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return readFailure(path, errorText(errno));
        }
        if (got == 0) break;
        bytes.append(buffer, got);
    }
    return std::optional<QByteArray>(std::move(bytes));
}

}  // namespace

Result<std::optional<QByteArray>> ReadFileIfPresent(const QString& path) { return readIfPresent(path, 0); }

Result<std::optional<QByteArray>> ReadPrivateFileIfPresent(const QString& path) {
    return readIfPresent(path, O_NOFOLLOW);
}

std::optional<QByteArray> ReadWholeFile(const QString& path) {
    Result<std::optional<QByteArray>> read = ReadFileIfPresent(path);
    if (!read) return std::nullopt;
    return std::move(read.value());
}

std::optional<CreatedFile> CreateRewriteFile(const QString& target) {
    QByteArray temporary = QFile::encodeName(target) + kRewriteTemplate;
    const int fd = makeUnique(temporary, kRewriteSuffix);
    if (fd < 0) return std::nullopt;
    return CreatedFile{fd, QFile::decodeName(temporary)};
}

int RemoveLeftoverRewriteFiles(const QString& target) {
    const QFileInfo info(target);
    const QString pattern = info.fileName() + QStringLiteral(".??????") + QString::fromLatin1(kRewriteSuffix);
    int removed = 0;
    const QStringList leftovers = QDir(info.absolutePath()).entryList({pattern}, QDir::Files | QDir::System | QDir::Hidden);
    for (const QString& name : leftovers) {
        if (::unlink(QFile::encodeName(info.absolutePath() + u'/' + name).constData()) == 0) ++removed;
    }
    if (removed > 0) syncFolderOf(QFile::encodeName(target));
    return removed;
}

Status WriteFileSafely(const QString& path, QByteArrayView bytes, std::optional<mode_t> mode) {
    const QByteArray target = QFile::encodeName(path);

    if (!mode) {
        struct stat existing {};
        mode = ::stat(target.constData(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~currentUmask());
        // A file the owner cannot read would be taken for a missing one at
        // the next start and lost.
        *mode |= S_IRUSR | S_IWUSR;
    }

    // Created new (O_EXCL, so never through a link) under a fresh name.
    const std::optional<CreatedFile> created = CreateRewriteFile(path);
    if (!created) return writeFailure(path, errno);
    const int fd = created->fd;
    const QByteArray temporary = QFile::encodeName(created->path);
    bool ok = ::fchmod(fd, *mode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    const int error = errno;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(temporary.constData(), target.constData()) != 0) {
        const int renameError = ok ? errno : error;
        ::unlink(temporary.constData());
        return writeFailure(path, renameError);
    }
    syncFolderOf(target);
    return success();
}

}  // namespace lumopet
