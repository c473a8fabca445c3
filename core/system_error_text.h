#pragma once
// What the system says when a file operation fails, in the words of the
// program's own sentences: the common reasons a user can act on (a full
// disk, a missing permission, a folder where a file should be) in Japanese,
// and the system's own text for the rest, which is rare enough to be looked
// up.

#include <QString>

namespace lumopet {

// The reason for errno value error.
QString SystemErrorText(int error);

// The same for a reason Qt has already put in words (QFileDevice::errorString
// is the C library's text for errno): a known one in Japanese, any other
// text as it stands.
QString SystemErrorText(const QString& systemText);

}  // namespace lumopet
