#pragma once
// Code page 932 (Shift-JIS as Windows writes it), the charset of every file
// the program keeps. Conversions never fail and never stop early: a
// character that CP932 cannot hold becomes one "?", a byte sequence that is
// not CP932 becomes one U+FFFD.

#include <QByteArray>
#include <QString>

namespace lumopet::cp932 {

QByteArray encode(QStringView text);
QString decode(QByteArrayView bytes);

// True for the first byte of a double-byte character.
constexpr bool isLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// The longest prefix of at most maxBytes bytes that does not end in the
// middle of a double-byte character.
QByteArray truncate(QByteArrayView bytes, qsizetype maxBytes);

}  // namespace lumopet::cp932
