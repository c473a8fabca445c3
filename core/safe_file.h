#pragma once
// Whole-file reads and crash-safe rewrites. A rewrite builds the new file
// beside the old one, flushes it to disk and renames it over the old one,
// so that at every moment one complete version of the file is on disk
// under its own name.

#include "core/result.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/types.h>

namespace lumopet {

// Writes all the bytes to the open file, going on after a signal; false on
// an error, with errno set.
bool WriteAll(int fd, QByteArrayView bytes);

// The file's bytes; nothing when it is missing or cannot be read.
std::optional<QByteArray> ReadWholeFile(const QString& path);

// Replaces (or creates) the file with the given bytes. With a mode, the file
// gets exactly that mode; without one it keeps the mode of the file it
// replaces, or the usual mode under the umask when it is new.
Status WriteFileSafely(const QString& path, QByteArrayView bytes, std::optional<mode_t> mode = std::nullopt);

}  // namespace lumopet
