#include "core/safe_file.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

Failure writeFailure(const QString& path, int error) {
    return Failure{QStringLiteral("ファイル「%1」に書き込めません（%2）。").arg(path, QString::fromLocal8Bit(std::strerror(error)))};
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

}  // namespace

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

std::optional<QByteArray> ReadWholeFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

Status WriteFileSafely(const QString& path, QByteArrayView bytes, std::optional<mode_t> mode) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".lumopet-new";

    struct stat existing {};
    if (!mode && ::stat(target.constData(), &existing) == 0) mode = existing.st_mode & 07777;

    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode.value_or(0666));
    if (fd < 0) return writeFailure(path, errno);
    bool ok = (!mode || ::fchmod(fd, *mode) == 0) && WriteAll(fd, bytes) && ::fsync(fd) == 0;
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
