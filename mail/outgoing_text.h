#pragma once
// What the sending options do to the text that goes out (never to what the
// sent history keeps): half-width kana made full-width, and long lines
// wrapped, as Japanese business mail expects.

#include <QString>

namespace lumopet::mail {

// Half-width katakana and punctuation (U+FF61 to U+FF9F) as their
// full-width forms, a voiced or semi-voiced mark joined to the kana before
// it ("ｶﾞ" gives "ガ", "ﾊﾟ" gives "パ", "ｳﾞ" gives "ヴ"), so that the text
// fits ISO-2022-JP. A mark that cannot be joined stands alone as "゛" or
// "゜" ("ﾜﾞ" gives "ワ゛": its joined form is not in JIS X 0208).
QString WidenHalfWidthKana(const QString& text);

// Columns of one character as a Japanese mailer shows it: two for a
// full-width one (everything from U+1100 on but the half-width forms,
// and the characters outside the BMP), one for the rest.
int DisplayColumns(char32_t character);

// Every line over columns display columns broken into lines that fit: at
// the last blank (ASCII or ideographic) that leaves something on the line,
// else where the line is full; a surrogate pair stays whole, and each added
// line end is the one the text uses (CR LF, LF or CR). Nothing is dropped:
// the blank stays at the end of its line.
QString WrapLongLines(const QString& text, int columns = 72);

}  // namespace lumopet::mail
