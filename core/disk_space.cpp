#include "core/disk_space.h"

#include <QFile>

#include <sys/statvfs.h>

namespace lumopet {

std::optional<qint64> FreeBytesAt(const QString& path) {
    struct statvfs info {};
    if (::statvfs(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
    return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
}

}  // namespace lumopet
