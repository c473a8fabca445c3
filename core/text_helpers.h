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

}  // namespace lumopet
