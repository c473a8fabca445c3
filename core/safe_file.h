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

// Reads up to size bytes at offset, going on after a signal; fewer only at
// the end of the file. Returns -1 with errno set on an error.
qint64 ReadAt(int fd, char* data, qint64 size, qint64 offset);
// Writes size bytes at offset; false on an error, with errno set.
bool WriteAt(int fd, const char* data, qint64 size, qint64 offset);

// Whether two open files are regular files holding the same bytes.
bool SameFileContent(int fd, int other);

// The file's bytes; nothing when it is missing or cannot be read.
std::optional<QByteArray> ReadWholeFile(const QString& path);

// The file's bytes; nothing when it is missing. Only a regular file is read
// (a FIFO or a device there never makes the caller wait), and an existing
// file that cannot be read is a failure naming it, so that a caller can tell
// the user instead of taking it for a first start.
Result<std::optional<QByteArray>> ReadFileIfPresent(const QString& path);
// The same for a file that holds a secret: a link in its place is a
// failure, never followed (it might lead the program to read a file
// someone else chose, or to show where a secret was meant to go).
Result<std::optional<QByteArray>> ReadPrivateFileIfPresent(const QString& path);

// A file this program has just made, and the name it got.
struct CreatedFile {
    int fd;  // the caller closes it
    QString path;
};

// A new, empty file (mode 0600) beside the target, made exclusively under
// an unpredictable name ("<target>.XXXXXX.lumopet-new"): where a rewrite
// builds the file that is renamed over the target. Nothing when it cannot be
// made, with errno set.
std::optional<CreatedFile> CreateRewriteFile(const QString& target);

// Removes what a rewrite of the target left when the program was stopped
// between making its file and renaming it: never the only copy of anything,
// since the target stays whole until the rename. Returns how many went.
int RemoveLeftoverRewriteFiles(const QString& target);

// Replaces (or creates) the file with the given bytes. With a mode, the file
// gets exactly that mode; without one it keeps the mode of the file it
// replaces, or the usual mode under the umask when it is new, and in either
// case its owner can read and write it. The new bytes first go to a file
// made exclusively, under an unpredictable name, in the target's folder.
Status WriteFileSafely(const QString& path, QByteArrayView bytes, std::optional<mode_t> mode = std::nullopt);

}  // namespace lumopet
