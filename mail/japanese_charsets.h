#pragma once
// Text from the bytes of received mail. Japanese mail comes from Windows
// mailers, so the Japanese charsets are read in their Windows forms: NEC
// row 13 (the circled digits of the character tags), the NEC-selected and
// IBM extensions, "～" as U+FF5E.

#include <QByteArrayView>
#include <QString>

namespace lumopet::mail {

// The bytes read in the named charset (a MIME charset name, any case). An
// empty, unknown or US-ASCII name means undeclared: ISO-2022-JP when the
// bytes are 7-bit with JIS escapes, UTF-8 when they are valid UTF-8, then
// Shift_JIS (CP932) or EUC-JP when the bytes read as Japanese text, then
// what ICU's charset detector is sure of (ISO-8859-1, Big5, ...), else CP932.
// Never fails: bytes the charset cannot read become U+FFFD.
QString DecodeCharset(QByteArrayView bytes, QByteArrayView charset);

// A header value as it stands in the message (folded or not): RFC 2047
// encoded-words decoded through DecodeCharset, adjacent words of one
// charset joined before decoding (a character split between two words
// survives), raw 8-bit text read as undeclared. Control characters other
// than tab become blanks, so a decoded value is always one line.
QString DecodeHeaderText(QByteArrayView raw);
// The same with raw 8-bit text outside encoded-words read in rawCharset
// rather than guessed: the reader's choice for a sender who declared the
// wrong charset or none. An empty rawCharset guesses, as above.
QString DecodeHeaderText(QByteArrayView raw, QByteArrayView rawCharset);

// Whether the name (a MIME charset name, any case) is one that text can be
// read in: false for an empty name, for names that say nothing about the
// bytes ("x-unknown", "unknown-8bit") and for names no converter knows.
// DecodeCharset guesses for those.
bool IsReadableCharset(QByteArrayView charset);

}  // namespace lumopet::mail
