#pragma once
// Readable GoogleTest failure messages for Qt strings.

#include <QByteArray>
#include <QString>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

inline void PrintTo(const QByteArray& bytes, std::ostream* out) {
    *out << '"';
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) *out << c;
        else *out << "\\x" << "0123456789ABCDEF"[byte >> 4] << "0123456789ABCDEF"[byte & 15];
    }
    *out << '"';
}
