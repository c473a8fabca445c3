#include "core/cp932.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace lumopet {
namespace {

struct RoundTrip {
    const char* name;
    QString text;
    QByteArray bytes;
};

class Cp932RoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Cp932RoundTrip, EncodesToTheWindowsBytesAndBack) {
    EXPECT_EQ(cp932::encode(GetParam().text), GetParam().bytes);
    EXPECT_EQ(cp932::decode(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Cp932RoundTrip,
    ::testing::Values(
        RoundTrip{"tag1", QStringLiteral("Lumopet（①の選択）"), QByteArray("Lumopet\x81\x69\x87\x40\x82\xcc\x91\x49\x91\xf0\x81\x6a")},
        RoundTrip{"tag2", QStringLiteral("Lumopet（②の選択）"), QByteArray("Lumopet\x81\x69\x87\x41\x82\xcc\x91\x49\x91\xf0\x81\x6a")},
        RoundTrip{"tag3", QStringLiteral("Lumopet（③の選択）"), QByteArray("Lumopet\x81\x69\x87\x42\x82\xcc\x91\x49\x91\xf0\x81\x6a")},
        RoundTrip{"tag4", QStringLiteral("Lumopet（④の選択）"), QByteArray("Lumopet\x81\x69\x87\x43\x82\xcc\x91\x49\x91\xf0\x81\x6a")},
        RoundTrip{"tag5", QStringLiteral("Lumopet（⑤の選択）"), QByteArray("Lumopet\x81\x69\x87\x44\x82\xcc\x91\x49\x91\xf0\x81\x6a")},
        RoundTrip{"fullwidth_tilde", QStringLiteral("１～５"), QByteArray("\x82\x50\x81\x60\x82\x54")},
        RoundTrip{"halfwidth_kana", QStringLiteral("ﾙﾓﾍﾟｯﾄ"), QByteArray("\xd9\xd3\xcd\xdf\xaf\xc4")},
        RoundTrip{"ibm_extension", QStringLiteral("髙﨑"), QByteArray("\xfb\xfc\xfa\xb1")},
        RoundTrip{"nec_symbols", QStringLiteral("№㈱"), QByteArray("\x87\x82\x87\x8a")},
        RoundTrip{"nul_kept", QString(QStringLiteral("a")) + QChar(u'\0') + QStringLiteral("b"), QByteArray("a\0b", 3)},
        RoundTrip{"empty", QString(), QByteArray()}),
    [](const auto& info) { return std::string(info.param.name); });

struct OneWay {
    const char* name;
    QString text;
    QByteArray bytes;
};

class Cp932OneWay : public ::testing::TestWithParam<OneWay> {};

// Characters CP932 lacks each become one "?"; nothing after them is lost.
// Where CP932 has a character twice (JIS and NEC rows, NEC-selected and IBM
// extensions), the code Windows writes; met again, the same code.
TEST_P(Cp932OneWay, WritesWhatWindowsWrites) {
    EXPECT_EQ(cp932::encode(GetParam().text), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Cp932OneWay,
    ::testing::Values(OneWay{"euro", QStringLiteral("a€b"), "a?b"},
                      OneWay{"accents", QStringLiteral("café"), "caf?"},
                      OneWay{"emoji_is_one_character", QStringLiteral("x😀y"), "x?y"},
                      OneWay{"hangul_then_kana", QStringLiteral("한あ"), "?\x82\xa0"},
                      OneWay{"lone_surrogate", QString(QChar(0xD800)) + u'z', "?z"},
                      OneWay{"nearly_equal_from_jis_row", QStringLiteral("≒∵"), "\x81\xe0\x81\xe6"},
                      OneWay{"not_sign_as_fullwidth_not", QStringLiteral("¬"), "\x81\xca"},
                      OneWay{"small_roman_from_ibm", QStringLiteral("ⅰ"), "\xfa\x40"},
                      OneWay{"met_twice", QStringLiteral("≒€≒€"), "\x81\xe0?\x81\xe0?"}),
    [](const auto& info) { return std::string(info.param.name); });

class Cp932Invalid : public ::testing::TestWithParam<OneWay> {};

// Bytes that are not CP932 each read as U+FFFD, and reading goes on.
TEST_P(Cp932Invalid, ReadsBadBytesAsReplacementCharacters) {
    EXPECT_EQ(cp932::decode(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, Cp932Invalid,
    ::testing::Values(OneWay{"lead_byte_at_end", QStringLiteral("a\uFFFD"), "a\x82"},
                      OneWay{"lead_byte_before_blank", QStringLiteral("\uFFFD b"), "\x82 b"},
                      OneWay{"invalid_single_byte", QStringLiteral("x\uFFFDy"), "x\xffy"},
                      OneWay{"valid_after_invalid", QStringLiteral("\uFFFDあ"), "\xff\x82\xa0"}),
    [](const auto& info) { return std::string(info.param.name); });

// iconv alone, as the program read every text before it kept what each
// byte and pair decode to: the oracle for the kept entries.
QString decodedByIconv(const QByteArray& bytes) {
    iconv_t handle = iconv_open("UTF-16LE", "CP932");
    QString result(bytes.size(), QChar());
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = static_cast<size_t>(bytes.size());
    char* out = reinterpret_cast<char*>(result.data());
    size_t outLeft = static_cast<size_t>(result.size()) * 2;
    while (inLeft > 0 && iconv(handle, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) &&
           (errno == EILSEQ || errno == EINVAL)) {
        const char16_t replacement = QChar::ReplacementCharacter;
        std::memcpy(out, &replacement, 2);
        out += 2;
        outLeft -= 2;
        ++in;
        --inLeft;
        iconv(handle, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(handle);
    result.truncate(static_cast<qsizetype>(out - reinterpret_cast<char*>(result.data())) / 2);
    return result;
}

// Every byte from 0x80 and every lead byte with every trail byte, between
// two letters, at the end and read a second time (from the kept entry):
// as iconv reads them.
TEST(Cp932Decode, EveryByteAndPairReadsAsIconvReadsIt) {
    int differences = 0;
    for (int first = 0x80; first <= 0xFF; ++first) {
        for (int second = 0; second <= (cp932::isLeadByte(static_cast<unsigned char>(first)) ? 0xFF : 0); ++second) {
            QByteArray sequence(1, static_cast<char>(first));
            if (cp932::isLeadByte(static_cast<unsigned char>(first))) sequence += static_cast<char>(second);
            for (const QByteArray& text : {"a" + sequence + "z", "a" + sequence + "z", "\x82\xa0" + sequence}) {
                const QString expected = decodedByIconv(text);
                if (cp932::decode(text) != expected && ++differences <= 5)
                    ADD_FAILURE() << "bytes " << text.toHex().constData() << " read as "
                                  << cp932::decode(text).toStdString() << ", iconv: " << expected.toStdString();
            }
        }
    }
    EXPECT_EQ(differences, 0);
}

TEST(Cp932Truncate, NeverCutsThroughADoubleByteCharacter) {
    const QByteArray text = cp932::encode(QStringLiteral("aあい"));  // 1 + 2 + 2 bytes
    EXPECT_EQ(cp932::truncate(text, 5), text);
    EXPECT_EQ(cp932::truncate(text, 4), cp932::encode(QStringLiteral("aあ")));
    EXPECT_EQ(cp932::truncate(text, 2), QByteArray("a"));
    EXPECT_EQ(cp932::truncate(text, 0), QByteArray());
}

}  // namespace
}  // namespace lumopet
