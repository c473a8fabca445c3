// ISO-2022-JP is read without ICU where the text allows it: the result must
// be ICU's own to the letter, for every character and for texts that mix
// everything ISO-2022-JP mail can hold, broken ones included.

#include "mail/japanese_charsets.h"

#include <QByteArray>
#include <QString>

#include <unicode/ucnv.h>

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace lumopet::mail {
namespace {

struct ConverterClose {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};

// What ICU alone reads, converter and all opened for each text.
QString icuReads(const QByteArray& bytes) {
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UConverter, ConverterClose> converter(ucnv_open("ISO-2022-JP-2", &status));
    EXPECT_TRUE(U_SUCCESS(status));
    std::vector<UChar> text(static_cast<size_t>(bytes.size()) * 2 + 16);
    status = U_ZERO_ERROR;
    const int32_t length = ucnv_toUChars(converter.get(), text.data(), static_cast<int32_t>(text.size()),
                                         bytes.constData(), static_cast<int32_t>(bytes.size()), &status);
    EXPECT_TRUE(U_SUCCESS(status));
    return QString(reinterpret_cast<const QChar*>(text.data()), length);
}

// Every character of every set after its escape, then texts made of the
// pieces ISO-2022-JP mail holds in any order, broken ones included: each is
// read as ICU reads it, whether the quick way takes it or leaves it to ICU.
TEST(JisDecode, EveryCharacterAndMixedOrBrokenTextsAreReadAsIcuReadsThem) {
    std::vector<QByteArray> texts;
    for (const QByteArray escape : {"\x1b$B", "\x1b$@", "\x1b(J", "\x1b(I"}) {
        const int rows = escape.startsWith("\x1b$") ? 94 : 1;
        for (int row = 0; row < rows; ++row)
            for (int cell = 0; cell < 94; ++cell)
                texts.push_back(escape + (rows > 1 ? QByteArray(1, char(0x21 + row)) : QByteArray()) +
                                char(0x21 + cell) + "\x1b(B\r\n");
    }
    const std::vector<QByteArray> pieces = {
        "\x1b$B", "\x1b$@", "\x1b(B", "\x1b(J", "\x1b(I", "\x1b$A", "\x1b$(D", "\x1b.A\x1bNi", "\x1b(", "\x1b",
        "$\"",  "-!", "!A", "t&", "~~", "\x21\x7f", "\x7f", "\\~", "abc", " ", "\r\n", "\n", "\t", QByteArray(1, '\0'),
        "\x0e", "\x0f", "\x82\xa0", "\xe3\x81\x82", "1", "_",
    };
    std::mt19937 random(2026);
    std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
    std::uniform_int_distribution<int> length(1, 12);
    for (int round = 0; round < 5000; ++round) {
        // Always an escape into the two-byte set, so that the label is
        // believed and the bytes go to the ISO-2022-JP reader.
        QByteArray bytes = "\x1b$B";
        for (int n = length(random); n > 0; --n) bytes += pieces[pick(random)];
        texts.push_back(bytes);
    }
    int differences = 0;
    for (const QByteArray& bytes : texts) {
        const QString ours = DecodeCharset(bytes, "ISO-2022-JP");
        if (ours != icuReads(bytes) && ++differences <= 5)
            ADD_FAILURE() << bytes.toHex(' ').toStdString() << " read as " << ours.toStdString();
    }
    EXPECT_EQ(differences, 0);
}

}  // namespace
}  // namespace lumopet::mail
