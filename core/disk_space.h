#pragma once
// How much room is left on the disk that holds a folder.

#include <QString>

#include <optional>

namespace lumopet {

// The bytes this user may still write on the file system that holds path
// (statvfs: the blocks available to anyone but root); nothing when it
// cannot be told.
std::optional<qint64> FreeBytesAt(const QString& path);

}  // namespace lumopet
