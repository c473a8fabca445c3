#pragma once

#include <QString>

namespace lumopet {

// The text up to, not including, its first NUL; the whole text when it has
// none. Every fixed-size buffer and every record field passes through it.
inline QString CutAtNul(const QString& text) {
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

// Every line break (CR LF, LF, or a lone CR) as CR LF, the line end of
// mail and of the history files.
QString WithCrLf(QStringView text);

// The text without the blanks (U+0020 only) at its start and end: the
// Windows version trimmed nothing else, and a full-width blank (U+3000) at
// the start of a Japanese subject is meant.
QStringView WithoutBlanksAround(QStringView text);

}  // namespace lumopet
