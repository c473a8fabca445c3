#pragma once
// Private-profile ("INI") files, read and written the way the Windows
// profile functions do, so that files written on Windows read correctly and
// files written here read correctly there:
// - bytes are code page 932, lines end in CR LF (a bare LF or a bare CR
//   ends a line too, and is kept as it was);
// - section and key names are compared without regard to letter case, and
//   blanks around names and values are dropped;
// - a value in one pair of double quotes loses the quotes;
// - a line starting with ";" is a comment;
// - the first section and the first key of a name count;
// - writing replaces a value in place and keeps every other line, byte for
//   byte; a missing file, section or key is created.

#include "core/result.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace lumopet {

struct ProfileEntry {
    QString key;
    QString value;
};

// The file's bytes, read once for all the keys a caller wants; empty when
// the file is missing.
QByteArray ReadProfileFile(const QString& path);

// The value of the key, at most bufferSize - 1 bytes of it (never half a
// double-byte character), as a buffer of that size would hold it. Empty
// when the section or key is missing: callers treat an empty value as no
// value.
QString ProfileString(QByteArrayView file, const QString& section, const QString& key, qsizetype bufferSize);

// A tick stored as a number: on when the value reads as the number 1 (as
// NumericValue reads it: " 1", "01" and "1.0" too); 0, a missing key and
// anything else (2, "yes") are off.
bool ProfileSwitch(QByteArrayView file, const QString& section, const QString& key, qsizetype bufferSize);

// Writes the entries one after another, as that many single writes would,
// and replaces the file once, safely. With a mode, the file gets exactly
// that mode. The folder must exist: a missing folder is an error.
Status WriteProfileStrings(const QString& path, const QString& section, const std::vector<ProfileEntry>& entries,
                           std::optional<mode_t> mode = std::nullopt);

// The same on the file's bytes, for the two functions above and for tests.
std::optional<QByteArray> FindProfileValue(QByteArrayView file, const QString& section, const QString& key);
QByteArray SetProfileValue(QByteArrayView file, const QString& section, const QString& key, const QString& value);

// The file without the section: its header and every line up to the next
// header, for each section of that name (so that none is left for a reader
// to find). Every other line stays byte for byte; a file without the
// section comes back unchanged.
QByteArray RemoveProfileSection(QByteArrayView file, const QString& section);

// A change of the whole file, as several writes and removals in a row: the
// file's bytes (empty when it is missing) go through `change`, and the file
// is replaced once, safely, when the result differs or the file was
// missing. A file that is there but cannot be read is a failure and stays.
Status UpdateProfileFile(const QString& path, const std::function<QByteArray(QByteArray)>& change,
                         std::optional<mode_t> mode = std::nullopt);

}  // namespace lumopet
