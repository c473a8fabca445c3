#include "mail/decoded_message.h"
#include "mail/japanese_charsets.h"
#include "tests/support/qt_printers.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

namespace lumopet::mail {
namespace {

// The dates below are read as a Japanese user sees them.
[[maybe_unused]] const bool kJapanTime = [] {
    setenv("TZ", "JST-9", 1);
    tzset();
    return true;
}();

QByteArray sample(const char* name) {
    QFile file(QStringLiteral(LUMOPET_MAIL_SAMPLES "/%1.eml").arg(QLatin1String(name)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

bool hasOnlyCrLfLineEnds(const QString& text) {
    static const QRegularExpression bareLineEnd(QStringLiteral("\r(?!\n)|(?<!\r)\n"));
    return !text.contains(bareLineEnd);
}

template <class Case>
std::string caseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// Failures name the case instead of dumping its bytes.
template <class Case>
requires requires(const Case& c) { std::string_view(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// ---------------------------------------------------------------------------

struct CharsetCase {
    const char* name;
    QByteArray bytes;
    QByteArray charset;
    QString text;
};

class DecodeCharsetTest : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(DecodeCharsetTest, GivesTheTextWindowsWouldShow) {
    EXPECT_EQ(DecodeCharset(GetParam().bytes, GetParam().charset), GetParam().text);
}

const QByteArray kJisTag("Lumopet\x1b$B!J-!$NA*Br!K\x1b(B");
const QByteArray kSjisTag("Lumopet\x81\x69\x87\x42\x82\xcc\x91\x49\x91\xf0\x81\x6a");  // ③
const QByteArray kEucTag("Lumopet\xa1\xca\xad\xa4\xa4\xce\xc1\xaa\xc2\xf2\xa1\xcb");   // ④

INSTANTIATE_TEST_SUITE_P(
    Charsets, DecodeCharsetTest,
    ::testing::Values(
        CharsetCase{"jis_row13_tag", kJisTag, "ISO-2022-JP", QStringLiteral("Lumopet（①の選択）")},
        CharsetCase{"jis_alias_2", kJisTag, "iso-2022-jp-2", QStringLiteral("Lumopet（①の選択）")},
        CharsetCase{"jis_windows_symbols", "\x1b$B!A-b-j\x1b(B", "ISO-2022-JP", QStringLiteral("～№㈱")},
        CharsetCase{"jis_halfwidth_kana", "\x1b(I11\x1b(B", "ISO-2022-JP", QStringLiteral("ｱｱ")},
        CharsetCase{"jis_cut_off", "\x1b$B$", "ISO-2022-JP", QStringLiteral("\uFFFD")},
        CharsetCase{"jis_label_on_shift_jis", kSjisTag, "ISO-2022-JP", QStringLiteral("Lumopet（③の選択）")},
        CharsetCase{"shift_jis", kSjisTag, "Shift_JIS", QStringLiteral("Lumopet（③の選択）")},
        CharsetCase{"windows_31j", "\xfb\xfc\xfa\xb1", "Windows-31J", QStringLiteral("髙﨑")},
        CharsetCase{"euc_jp_row13", kEucTag, "EUC-JP", QStringLiteral("Lumopet（④の選択）")},
        CharsetCase{"utf8_invalid", "a\xffz", "UTF-8", QStringLiteral("a\uFFFDz")},
        CharsetCase{"windows_1252_euro", "\x80!", "windows-1252", QStringLiteral("€!")},
        CharsetCase{"undeclared_utf8", "\xe3\x81\x82", "", QStringLiteral("あ")},
        CharsetCase{"undeclared_cp932", kSjisTag, "", QStringLiteral("Lumopet（③の選択）")},
        CharsetCase{"undeclared_jis", kJisTag, "", QStringLiteral("Lumopet（①の選択）")},
        CharsetCase{"us_ascii_label_on_shift_jis", kSjisTag, "us-ascii", QStringLiteral("Lumopet（③の選択）")},
        CharsetCase{"unknown_charset", "\xe3\x81\x82", "x-no-such-charset", QStringLiteral("あ")},
        CharsetCase{"icu_option_syntax_refused", kSjisTag, "ibm-943,swaplfnl", QStringLiteral("Lumopet（③の選択）")},
        CharsetCase{"empty", "", "ISO-2022-JP", QString()},
        // Undeclared 8-bit text: Japanese first, however short, then what
        // ICU's detector is sure of.
        CharsetCase{"undeclared_short_hiragana", "\x82\xa0\x82\xe8\x82\xaa\x82\xc6\x82\xa4", "",
                    QStringLiteral("ありがとう")},
        CharsetCase{"undeclared_halfwidth_kana", "\xba\xdd\xc6\xc1\xca", "", QStringLiteral("ｺﾝﾆﾁﾊ")},
        CharsetCase{"undeclared_short_euc_jp", "\xc6\xfc\xcb\xdc\xb8\xec\xa4\xce\xa5\xc6\xa5\xad\xa5\xb9\xa5\xc8",
                    "", QStringLiteral("日本語のテキスト")},
        CharsetCase{"undeclared_latin1_sentence", "Un caf\xe9 cr\xe8me, s'il vous pla\xeet. Merci.", "",
                    QStringLiteral("Un café crème, s'il vous plaît. Merci.")},
        CharsetCase{"us_ascii_label_on_latin1",
                    "Die M\xe4" "dchen spielen im Garten, w\xe4hrend die Sonne \xfc" "ber den B\xe4umen scheint.",
                    "us-ascii",
                    QStringLiteral("Die Mädchen spielen im Garten, während die Sonne über den Bäumen scheint.")}),
    caseName<CharsetCase>);

// The converters are kept from one text to the next: nothing of one text's
// state (a JIS text left in its two-byte set) reaches the next, and a
// charset comes back right after five others have pushed it out.
TEST(DecodeCharsetInTurn, EachTextIsReadOnItsOwn) {
    const CharsetCase turns[] = {
        {"jis_left_in_two_bytes", "\x1b$B$\"", "ISO-2022-JP", QStringLiteral("あ")},
        {"jis_plain_after_it", "ab", "ISO-2022-JP", QStringLiteral("ab")},
        {"euc", "\xa4\xa2", "EUC-JP", QStringLiteral("あ")},
        {"latin1", "\xe9", "ISO-8859-1", QStringLiteral("é")},
        {"latin2", "\xb1", "ISO-8859-2", QStringLiteral("ą")},
        {"koi8", "\xc1", "KOI8-R", QStringLiteral("а")},
        {"cp1252", "\x80", "windows-1252", QStringLiteral("€")},
        {"jis_again", kJisTag, "ISO-2022-JP", QStringLiteral("Lumopet（①の選択）")},
    };
    for (const CharsetCase& c : turns) EXPECT_EQ(DecodeCharset(c.bytes, c.charset), c.text) << c.name;
}

// ---------------------------------------------------------------------------

struct HeaderCase {
    const char* name;
    QByteArray raw;
    QString text;
};

class DecodeHeaderTextTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(DecodeHeaderTextTest, DecodesEncodedWordsAndRawText) {
    EXPECT_EQ(DecodeHeaderText(GetParam().raw), GetParam().text);
}

QByteArray bWord(const char* charset, const QByteArray& bytes) {
    return QByteArray("=?") + charset + "?B?" + bytes.toBase64() + "?=";
}

const QByteArray kUtf8A("\xe3\x81\x82");  // あ
const QByteArray kSjisHyou("\x95\x5c");   // 表

INSTANTIATE_TEST_SUITE_P(
    Headers, DecodeHeaderTextTest,
    ::testing::Values(
        HeaderCase{"q_underscore_and_hex", "=?utf-8?q?a_b=3Dc?=", QStringLiteral("a b=c")},
        HeaderCase{"adjacent_words_joined", bWord("UTF-8", kUtf8A) + " \t " + bWord("UTF-8", kUtf8A),
                   QStringLiteral("ああ")},
        HeaderCase{"sjis_split_inside_a_character",
                   bWord("Shift_JIS", kSjisHyou.first(1)) + " " + bWord("Shift_JIS", kSjisHyou.sliced(1)),
                   QStringLiteral("表")},
        HeaderCase{"jis_second_word_without_escape",
                   bWord("ISO-2022-JP", "\x1b$B$\"") + " " + bWord("ISO-2022-JP", "$$\x1b(B"), QStringLiteral("あい")},
        HeaderCase{"different_charsets_adjacent",
                   bWord("UTF-8", kUtf8A) + " =?ISO-8859-1?Q?=E9?=", QStringLiteral("あé")},
        HeaderCase{"blank_kept_between_word_and_text", "Re: " + bWord("UTF-8", kUtf8A) + " x",
                   QStringLiteral("Re: あ x")},
        HeaderCase{"word_glued_to_text", "abc" + bWord("UTF-8", kUtf8A) + "def", QStringLiteral("abcあdef")},
        HeaderCase{"quoted_display_name", "\"" + bWord("UTF-8", "\xe5\xb1\xb1\xe7\x94\xb0") + "\" <a@example.jp>",
                   QStringLiteral("\"山田\" <a@example.jp>")},
        HeaderCase{"rfc2231_language", bWord("ISO-2022-JP*ja", kJisTag), QStringLiteral("Lumopet（①の選択）")},
        HeaderCase{"raw_jis", kJisTag, QStringLiteral("Lumopet（①の選択）")},
        HeaderCase{"unknown_encoding_left_as_is", "=?UTF-8?X?abc?=", QStringLiteral("=?UTF-8?X?abc?=")},
        HeaderCase{"unterminated_word_left_as_is", "=?UTF-8?B?44GC", QStringLiteral("=?UTF-8?B?44GC")},
        HeaderCase{"encoded_line_break_blanked", "=?UTF-8?Q?a=0D=0Ab=00c?=", QStringLiteral("a  b c")},
        HeaderCase{"invalid_bytes_replaced", bWord("UTF-8", "\xff"), QStringLiteral("\uFFFD")},
        HeaderCase{"empty", "", QString()}),
    caseName<HeaderCase>);

// ---------------------------------------------------------------------------

struct ExpectedAttachment {
    QString name;
    QByteArray content;
};

struct SampleCase {
    const char* name = "";
    QString subject = {};
    QString from = {};
    QString date = {};
    std::optional<QString> text = {};   // the whole text, when it is known exactly
    std::vector<QString> textHas = {};  // else pieces it holds
    std::vector<QString> textLacks = {};
    std::vector<QString> headerHas = {};
    std::vector<ExpectedAttachment> attachments = {};
    bool incompletePartial = false;
};

class SampleMessageTest : public ::testing::TestWithParam<SampleCase> {};

TEST_P(SampleMessageTest, ReadsHeadersTextAndAttachments) {
    const SampleCase& expected = GetParam();
    const DecodedMessage message = DecodeMessage(sample(expected.name));
    EXPECT_EQ(message.subject, expected.subject);
    EXPECT_EQ(message.from, expected.from);
    EXPECT_EQ(message.date, expected.date);
    if (expected.text) {
        EXPECT_EQ(message.text, *expected.text);
    }
    for (const QString& piece : expected.textHas)
        EXPECT_TRUE(message.text.contains(piece)) << piece.toStdString() << " in " << message.text.toStdString();
    for (const QString& piece : expected.textLacks) EXPECT_FALSE(message.text.contains(piece)) << piece.toStdString();
    for (const QString& piece : expected.headerHas)
        EXPECT_TRUE(message.headerText.contains(piece))
            << piece.toStdString() << " in " << message.headerText.toStdString();
    EXPECT_TRUE(hasOnlyCrLfLineEnds(message.text));
    EXPECT_TRUE(hasOnlyCrLfLineEnds(message.headerText));
    EXPECT_EQ(message.incompletePartial, expected.incompletePartial);
    ASSERT_EQ(message.attachments.size(), expected.attachments.size());
    for (std::size_t i = 0; i < expected.attachments.size(); ++i) {
        EXPECT_EQ(message.attachments[i].fileName, expected.attachments[i].name);
        EXPECT_EQ(message.attachments[i].content, expected.attachments[i].content) << i;
    }
}

QByteArray allBytes() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Samples, SampleMessageTest,
    ::testing::Values(
        SampleCase{
            .name = "windows_iso2022jp",
            .subject = QStringLiteral("Lumopet（①の選択）"),
            .from = QStringLiteral("山田 太郎 <taro@example.jp>"),
            .date = QStringLiteral("2026/12/07  9:05:03"),
            .text = QStringLiteral("こんにちは。\r\nLumopet（②の選択）\r\n数量は１～５、№１２３。\r\n"),
            .headerHas = {QStringLiteral(
                              "Received: from mx.example.jp by pop.example.jp; Mon, 7 Dec 2026 09:05:04 +0900\r\n"),
                          QStringLiteral("\r\nSubject: Lumopet（①の選択）\r\n"),
                          QStringLiteral("\r\nContent-Type: text/plain; charset=\"iso-2022-jp\"\r\n")}},
        SampleCase{.name = "windows_sjis_attachments",
                   .subject = QStringLiteral("資料の送付"),
                   .from = QStringLiteral("\"Sato\" <sato@example.co.jp>"),
                   .date = QStringLiteral("2026/12/08  18:30:00"),
                   .text = QStringLiteral("Lumopet（③の選択）\r\n髙﨑様、よろしくお願いします。\r\n"),
                   .attachments = {{QStringLiteral("見積書①.txt"), QByteArray("\x8c\xa9\x90\xcf")},
                                   {QStringLiteral("資料.pdf"), QByteArray("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")},
                                   {QStringLiteral("表計算②.xls"), allBytes()}}},
        SampleCase{
            .name = "phone_sjis_base64",
            .subject = QStringLiteral("Lumopet（⑤の選択）"),
            .from = QStringLiteral("けいたい <k-tai@docomo.example.ne.jp>"),
            .date = QStringLiteral("2022/01/01  23:59:59"),
            .text = QStringLiteral("写真を送ります\r\nＪＰＥＧです"),
            .attachments = {{QStringLiteral("写真.jpg"), QByteArray("\xff\xd8\xff\xe0\x00\x10JFIF\x00\xff\xd9", 13)}}},
        SampleCase{.name = "phone_utf8_emoji",
                   .subject = QStringLiteral("おはよう😀"),
                   .from = QStringLiteral("花子 <hanako@example.ne.jp>"),
                   .date = QStringLiteral("2021/03/03  21:00:00"),
                   .text = QStringLiteral("今日も元気😀\r\nまたね🐱\r\n")},
        SampleCase{.name = "webmail_alternative",
                   .subject = QStringLiteral("Lumopet（④の選択）"),
                   .from = QStringLiteral("Web User <web@mail.example.com>"),
                   .date = QStringLiteral("2026/12/10  18:02:03"),
                   .text = QStringLiteral("こんにちは、Lumopet（④の選択）です。\r\nプレーンテキスト版\r\n")},
        SampleCase{.name = "html_only",
                   .subject = QStringLiteral("News"),
                   .from = QStringLiteral("news@example.com"),
                   .date = QStringLiteral("2026/12/11  8:00:00"),
                   .text = QStringLiteral("Lumopet（①の選択）\r\nA & B <tag> ①②\r\nfirst\r\nsecond")},
        SampleCase{.name = "eucjp",
                   .subject = QStringLiteral("Lumopet（②の選択）"),
                   .from = QStringLiteral("unix@example.org"),
                   .date = QStringLiteral("2026/12/06  10:00:00"),
                   .text = QStringLiteral("日本語のテキスト①\r\n")},
        SampleCase{.name = "latin1",
                   .subject = QStringLiteral("Café crème"),
                   .from = QStringLiteral("Renée <renee@example.fr>"),
                   .date = QStringLiteral("2026/12/07  9:05:03"),
                   .text = QStringLiteral("Un café crème, s'il vous plaît. Merci.\r\n")},
        SampleCase{.name = "broken_missing_end",
                   .subject = QStringLiteral("cut"),
                   .from = QStringLiteral("a@example.jp"),
                   .textHas = {QStringLiteral("途中で切れたメール①")},
                   .attachments = {{QStringLiteral("data.bin"), QByteArray("012345")}}},
        SampleCase{.name = "broken_base64",
                   .subject = QStringLiteral("bad base64"),
                   .from = QStringLiteral("a@example.jp"),
                   .textHas = {QStringLiteral("読める部分")}},
        SampleCase{.name = "no_content_type_cp932",
                   .subject = QStringLiteral("Lumopet（④の選択）"),
                   .from = QStringLiteral("古い メーラー <old@example.jp>"),
                   .date = QStringLiteral("broken date text"),
                   .text = QStringLiteral("本文です。\r\n①②③\r\n")},
        SampleCase{.name = "empty", .text = QString()},
        SampleCase{.name = "header_only",
                   .subject = QStringLiteral("header only"),
                   .from = QStringLiteral("a@example.jp"),
                   .text = QString(),
                   .headerHas = {QStringLiteral("From: a@example.jp\r\nSubject: header only")}},
        // RFC 2046 5.2.2.1: Subject and Message-ID from the enclosed
        // message, From and Date from the enclosing one.
        SampleCase{.name = "partial_whole",
                   .subject = QStringLiteral("分割①"),
                   .from = QStringLiteral("split@example.jp"),
                   .date = QStringLiteral("2026/12/07  9:05:03"),
                   .text = QStringLiteral("inner text\r\n"),
                   .headerHas = {QStringLiteral("Message-ID: <inner@example.jp>")},
                   .attachments = {{QStringLiteral("part.dat"), QByteArray("DATA")}}},
        SampleCase{.name = "partial_first_of_two",
                   .subject = QStringLiteral("分割①"),
                   .from = QStringLiteral("split@example.jp"),
                   .date = QStringLiteral("2026/12/07  9:05:03"),
                   .textHas = {QStringLiteral("inner text")},
                   .incompletePartial = true},
        SampleCase{.name = "partial_second_of_two",
                   .subject = QStringLiteral("outer subject (part 2/2)"),
                   .from = QStringLiteral("split@example.jp"),
                   .text = QString(),
                   .incompletePartial = true},
        SampleCase{
            .name = "forwarded_and_related",
            .subject = QStringLiteral("Fwd"),
            .from = QStringLiteral("fwd@example.jp"),
            .text = QStringLiteral("see below\r\n"),
            .textLacks = {QStringLiteral("original body")},
            .attachments = {{QStringLiteral("元のメール.eml"),
                             QByteArray(
                                 "From: original@example.jp\r\nSubject: =?ISO-2022-JP?B?GyRCODUkTiVhITwlaxsoQg==?=\r\n"
                                 "\r\noriginal body\r\n")},
                            {QString(), QByteArray("\x00\x01\x02\r\n", 5)}}},
        SampleCase{.name = "binary_garbage"},
        // Mail as some mailers really send it.
        SampleCase{.name = "header_without_blank_line",
                   .subject = QStringLiteral("no blank line"),
                   .from = QStringLiteral("古いメーラー <old@example.jp>"),
                   .date = QStringLiteral("2026/12/07  9:05:03"),
                   .text = QStringLiteral("この本文は見出しのすぐ後に続きます。\r\n二行目\r\n")},
        SampleCase{.name = "indented_first_header",
                   .subject = QStringLiteral("indented first field"),
                   .from = QStringLiteral("sender@example.jp"),
                   .date = QStringLiteral("2026/12/08  10:00:00"),
                   .text = QStringLiteral("body after an indented field\r\n")},
        SampleCase{.name = "inline_named_text",
                   .subject = QStringLiteral("log"),
                   .from = QStringLiteral("mac@example.com"),
                   .text = QStringLiteral("Here is the log:\r\nエラー 42"),
                   .attachments = {{QStringLiteral("log.txt"), QByteArray("\xe3\x82\xa8\xe3\x83\xa9\xe3\x83\xbc 42")}}},
        SampleCase{.name = "content_type_without_subtype",
                   .subject = QStringLiteral("bare text type"),
                   .from = QStringLiteral("a@example.jp"),
                   .text = QStringLiteral("サブタイプ無し\r\n")},
        SampleCase{.name = "content_type_unparsable",
                   .subject = QStringLiteral("html in angle brackets"),
                   .from = QStringLiteral("a@example.jp"),
                   .text = QStringLiteral("plain words, no markup\r\n")},
        SampleCase{.name = "base64_label_on_plain_text",
                   .subject = QStringLiteral("not base64"),
                   .from = QStringLiteral("a@example.jp"),
                   .text = QStringLiteral("Hello,\r\nthis text was never encoded.\r\n")},
        SampleCase{.name = "base64_unpadded_lines",
                   .subject = QStringLiteral("real base64"),
                   .from = QStringLiteral("a@example.jp"),
                   .text = QStringLiteral("改行を挟んだ本文です。最後の詰め物が無い!")},
        SampleCase{.name = "latin1_labelled_us_ascii",
                   .subject = QStringLiteral("Gruss"),
                   .from = QStringLiteral("hans@example.de"),
                   .text = QStringLiteral("Schöne Grüße aus München! Die Mädchen spielen im Garten.\r\n")},
        SampleCase{.name = "big5_unlabelled",
                   .subject = QStringLiteral("big5"),
                   .from = QStringLiteral("tw@example.com.tw"),
                   .text = QStringLiteral("這是一封中文郵件，請查收。謝謝您的幫助！\r\n")}),
    caseName<SampleCase>);

// ---------------------------------------------------------------------------

struct FileNameCase {
    const char* name;
    QByteArray partHeaders;
    QString fileName;
};

class AttachmentNameTest : public ::testing::TestWithParam<FileNameCase> {};

TEST_P(AttachmentNameTest, ReadsTheNameTheSenderGave) {
    const QByteArray raw =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nbody\r\n--b\r\n" +
        GetParam().partHeaders + "\r\n\r\nX\r\n--b--\r\n";
    const DecodedMessage message = DecodeMessage(raw);
    EXPECT_EQ(message.text, QStringLiteral("body"));
    ASSERT_EQ(message.attachments.size(), 1u);
    EXPECT_EQ(message.attachments[0].fileName, GetParam().fileName);
    EXPECT_EQ(message.attachments[0].content, "X");
}

INSTANTIATE_TEST_SUITE_P(
    Names, AttachmentNameTest,
    ::testing::Values(
        FileNameCase{"rfc2231_utf8", "Content-Disposition: attachment; filename*=UTF-8''%E8%B3%87%E6%96%99.txt",
                     QStringLiteral("資料.txt")},
        FileNameCase{"rfc2231_iso2022jp_circled_digit",
                     "Content-Disposition: attachment; filename*=iso-2022-jp'ja'%1B%24B-%22%1B%28B.txt",
                     QStringLiteral("②.txt")},
        FileNameCase{"rfc2231_shift_jis", "Content-Disposition: attachment; filename*=Shift_JIS''%95%5C.txt",
                     QStringLiteral("表.txt")},
        FileNameCase{"rfc2231_sections_split_a_character",
                     "Content-Disposition: attachment;\r\n filename*0*=UTF-8''%E8%B3;\r\n filename*1*=%87.txt",
                     QStringLiteral("資.txt")},
        FileNameCase{"rfc2231_sections_out_of_order",
                     "Content-Disposition: attachment; filename*1=\"b.txt\"; filename*0=\"a\"",
                     QStringLiteral("ab.txt")},
        FileNameCase{"rfc2231_preferred_over_plain",
                     "Content-Disposition: attachment; filename=\"plain.txt\"; filename*=UTF-8''%E6%AD%A3.txt",
                     QStringLiteral("正.txt")},
        FileNameCase{"rfc2047_iso2022jp_in_quotes",
                     "Content-Disposition: attachment; filename=\"=?ISO-2022-JP?B?GyRCLSMbKEI=?=.doc\"",
                     QStringLiteral("③.doc")},
        FileNameCase{"rfc2047_split_over_sections",
                     "Content-Disposition: attachment; filename*0=\"=?UTF-8?B?6LOH\"; filename*1=\"5paZ?=\"",
                     QStringLiteral("資料")},
        FileNameCase{"raw_cp932_with_backslash_byte", "Content-Disposition: attachment; filename=\"\x95\x5c.txt\"",
                     QStringLiteral("表.txt")},
        FileNameCase{"raw_utf8", "Content-Disposition: attachment; filename=\"\xe8\xb3\x87\xe6\x96\x99.txt\"",
                     QStringLiteral("資料.txt")},
        FileNameCase{"name_in_content_type_only", "Content-Type: application/pdf; name=\"a b.pdf\"",
                     QStringLiteral("a b.pdf")},
        FileNameCase{"escaped_quote", "Content-Disposition: attachment; filename=\"a\\\"b.txt\"",
                     QStringLiteral("a\"b.txt")},
        FileNameCase{"token_value", "Content-Disposition: attachment; size=3; FileName=plain.txt",
                     QStringLiteral("plain.txt")},
        FileNameCase{"path_passed_on_unchecked", "Content-Disposition: attachment; filename=\"../x.txt\"",
                     QStringLiteral("../x.txt")},
        FileNameCase{"no_name", "Content-Type: application/octet-stream", QString()}),
    caseName<FileNameCase>);

// ---------------------------------------------------------------------------

struct HtmlCase {
    const char* name;
    QByteArray html;
    QString text;
};

class HtmlBodyTest : public ::testing::TestWithParam<HtmlCase> {};

TEST_P(HtmlBodyTest, ShowsWhatABrowserShowsAsText) {
    const DecodedMessage message = DecodeMessage("Content-Type: text/html; charset=utf-8\r\n\r\n" + GetParam().html);
    EXPECT_EQ(message.text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Html, HtmlBodyTest,
    ::testing::Values(
        HtmlCase{"entities", "a&amp;b &lt;c&gt; &quot;d&quot; &#12354;&#x3044;&#12358 &unknown; &copy;",
                 QStringLiteral("a&b <c> \"d\" あいう &unknown; ©")},
        // Every HTML5 name, the old ones also without their ';', and the
        // blanks the record's code page lacks as plain blanks.
        HtmlCase{"entities_of_the_whole_table", "&hellip;&NotNestedGreaterGreater;&amp x&copy2&ensp;y&nbsp;z&notanentity;",
                 QStringLiteral("…⪢̸& x©2 y z¬anentity;")},
        HtmlCase{"paragraphs_and_breaks", "<p>one</p><p>two<br>three</p>", QStringLiteral("one\r\ntwo\r\nthree")},
        HtmlCase{"outlook_empty_paragraph",
                 "<p class=MsoNormal>line1<o:p></o:p></p>\r\n<p class=MsoNormal><o:p>&nbsp;</o:p></p>\r\n<p>line3</p>",
                 QStringLiteral("line1\r\n\r\nline3")},
        HtmlCase{"blanks_collapse", "  many   \r\n  blanks\there  ", QStringLiteral("many blanks here")},
        HtmlCase{"script_style_title_dropped",
                 "<title>t</title><style>p{}</style>keep<script>var a = '<p>';</script> this",
                 QStringLiteral("keep this")},
        HtmlCase{"pre_keeps_lines", "<pre>a  b\n c</pre>", QStringLiteral("a  b\r\n c")},
        HtmlCase{"comment_dropped", "x<!-- <p>y</p> -->z", QStringLiteral("xz")},
        HtmlCase{"lone_less_than", "1 < 2 and 3 > 2", QStringLiteral("1 < 2 and 3 > 2")},
        HtmlCase{"table_cells_and_rows", "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td></tr></table>",
                 QStringLiteral("a b\r\nc")},
        HtmlCase{"quoted_greater_than_in_attribute", "<a title=\"x>y\" href=\"u\">link</a>", QStringLiteral("link")},
        HtmlCase{"unclosed_tag_at_end", "text <b", QStringLiteral("text")}),
    caseName<HtmlCase>);

// ---------------------------------------------------------------------------

struct DateCase {
    const char* name;
    QByteArray header;
    QString date;
};

class DateTest : public ::testing::TestWithParam<DateCase> {};

TEST_P(DateTest, ShowsLocalTimeOrTheHeaderAsIs) {
    EXPECT_EQ(DecodeMessage("Date: " + GetParam().header + "\r\n\r\nx").date, GetParam().date);
}

INSTANTIATE_TEST_SUITE_P(Dates, DateTest,
                         ::testing::Values(DateCase{"zone_comment", "Mon, 7 Dec 2026 09:05:03 +0900 (JST)",
                                                    QStringLiteral("2026/12/07  9:05:03")},
                                           DateCase{"bare_jst", "Mon, 7 Dec 2026 09:05:03 JST",
                                                    QStringLiteral("2026/12/07  9:05:03")},
                                           DateCase{"into_next_year", "Sun, 31 Dec 2023 20:00:00 -0500",
                                                    QStringLiteral("2024/01/01  10:00:00")},
                                           DateCase{"unparsable", "next Tuesday", QStringLiteral("next Tuesday")}),
                         caseName<DateCase>);

// ---------------------------------------------------------------------------

struct BrokenCase {
    const char* name;
    QByteArray raw;
    QString subject;
    QString textHas;
};

class BrokenMessageTest : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenMessageTest, GivesWhatCanBeRead) {
    const DecodedMessage message = DecodeMessage(GetParam().raw);
    EXPECT_EQ(message.subject, GetParam().subject);
    EXPECT_TRUE(message.text.contains(GetParam().textHas)) << message.text.toStdString();
    EXPECT_TRUE(hasOnlyCrLfLineEnds(message.text));
}

QByteArray nestedMultiparts(int depth) {
    QByteArray raw = "Subject: deep\r\n";
    for (int i = 0; i < depth; ++i)
        raw += "Content-Type: multipart/mixed; boundary=\"b" + QByteArray::number(i) + "\"\r\n\r\n--b" +
               QByteArray::number(i) + "\r\n";
    return raw + "Content-Type: text/plain\r\n\r\ndeep text\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Broken, BrokenMessageTest,
    ::testing::Values(
        BrokenCase{"no_header_at_all", "just a line of text\r\nand another\r\n", QString(),
                   QStringLiteral("just a line of text\r\nand another")},
        BrokenCase{"lf_line_ends", "Subject: lf\n\nline1\nline2\n", QStringLiteral("lf"),
                   QStringLiteral("line1\r\nline2\r\n")},
        BrokenCase{"boundary_never_used", "Content-Type: multipart/mixed; boundary=zzz\r\n\r\nlost text\r\n", QString(),
                   QStringLiteral("lost text")},
        BrokenCase{"multipart_without_boundary", "Content-Type: multipart/mixed\r\n\r\nstill text\r\n", QString(),
                   QStringLiteral("still text")},
        BrokenCase{"nul_kept", QByteArray("Subject: x\r\n\r\na\0b", 17), QStringLiteral("x"),
                   QString::fromLatin1("a\0b", 3)},
        BrokenCase{"unknown_transfer_encoding", "Content-Transfer-Encoding: x-rot13\r\n\r\nplain\r\n", QString(),
                   QStringLiteral("plain")},
        BrokenCase{"nested_multiparts", nestedMultiparts(20), QStringLiteral("deep"), QStringLiteral("deep text")},
        BrokenCase{"absurdly_deep_nesting", nestedMultiparts(5000), QStringLiteral("deep"), QString()},
        BrokenCase{"base64_label_on_a_word_of_impossible_length", "Content-Transfer-Encoding: base64\r\n\r\nHello\r\n",
                   QString(), QStringLiteral("Hello\r\n")},
        BrokenCase{"base64_label_on_words", "Content-Transfer-Encoding: base64\r\n\r\nThanks a lot\r\n", QString(),
                   QStringLiteral("Thanks a lot\r\n")},
        // The fields that shape the body, wherever they stand among the
        // others and however folded, and after an mbox separator.
        BrokenCase{"folded_content_type_after_other_fields",
                   "Received: from a\r\n\tby b; Thu, 1 Jan 2026 00:00:00 +0900\r\nSubject: folded\r\n"
                   "X-Note: Content-Type: text/html\r\nContent-Type: text/plain;\r\n\tcharset=windows-1252\r\n"
                   "Received: from c\r\n\r\nprice \x80 5\r\n",
                   QStringLiteral("folded"), QStringLiteral("price € 5")},
        BrokenCase{"mbox_separator_first",
                   "From sender@example.jp Thu Jan  1 00:00:00 2026\r\nSubject: mbox\r\n"
                   "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n44GC\r\n",
                   QStringLiteral("mbox"), QStringLiteral("あ")}),
    caseName<BrokenCase>);

// A text part labelled base64: decoded when it is base64, however damaged;
// left as it stands when it is plain text.
struct Base64BodyCase {
    const char* name;
    QByteArray content;  // the part's content as it came
    QString text;
};

class Base64BodyTest : public ::testing::TestWithParam<Base64BodyCase> {};

TEST_P(Base64BodyTest, DecodesWhatIsBase64AndKeepsWhatIsText) {
    const DecodedMessage message = DecodeMessage(
        "Subject: b\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
        GetParam().content);
    EXPECT_EQ(message.text, GetParam().text);
}

// "今日は雨です。" and "明日は晴れ。" in UTF-8 base64.
const QByteArray kRainy = QStringLiteral("今日は雨です。\r\n").toUtf8().toBase64();
const QByteArray kSunny = QStringLiteral("明日は晴れ。\r\n").toUtf8().toBase64();

INSTANTIATE_TEST_SUITE_P(
    Base64, Base64BodyTest,
    ::testing::Values(
        Base64BodyCase{"intact", kRainy + "\r\n", QStringLiteral("今日は雨です。\r\n")},
        Base64BodyCase{"stray_bang", kRainy.left(8) + "!" + kRainy.mid(8) + "\r\n", QStringLiteral("今日は雨です。\r\n")},
        Base64BodyCase{"stray_star_first", "*" + kRainy + "\r\n", QStringLiteral("今日は雨です。\r\n")},
        Base64BodyCase{"junk_after_the_last_line", kRainy + "\r\n-- \r\nsent from my phone\r\n",
                       QStringLiteral("今日は雨です。\r\n")},
        Base64BodyCase{"cr_only_lines", kRainy.left(16) + "\r" + kRainy.mid(16), QStringLiteral("今日は雨です。\r\n")},
        // Two encodings one after the other, as some gateways join them:
        // the first padding ends the data.
        Base64BodyCase{"second_encoding_after_padding", kRainy + "\r\n" + kSunny + "\r\n",
                       QStringLiteral("今日は雨です。\r\n")},
        Base64BodyCase{"plain_japanese", QStringLiteral("日本語の本文です。\r\nよろしく。\r\n").toUtf8(),
                       QStringLiteral("日本語の本文です。\r\nよろしく。\r\n")},
        Base64BodyCase{"plain_japanese_with_short_ascii_lines",
                       QStringLiteral("こんにちは\r\nOK\r\nThanks\r\nBye\r\n").toUtf8(),
                       QStringLiteral("こんにちは\r\nOK\r\nThanks\r\nBye\r\n")},
        Base64BodyCase{"words_after_a_first_word", "Hello,\r\nthis text was never encoded.\r\n",
                       QStringLiteral("Hello,\r\nthis text was never encoded.\r\n")}),
    caseName<Base64BodyCase>);

TEST(BodyBeforeAttachmentStep, NamesEachAttachmentOnALineOfItsOwn) {
    DecodedMessage message;
    message.text = QStringLiteral("本文\r\n");
    message.attachments = {{QStringLiteral("資料.pdf"), "x"}, {QString(), "y"}};
    EXPECT_EQ(BodyBeforeAttachmentStep(message),
              QStringLiteral("本文\r\n\r\n[attachment: 資料.pdf]\r\n[attachment: (no name)]"));
    EXPECT_EQ(BodyBeforeAttachmentStep(DecodedMessage{}), QString());
}

}  // namespace
}  // namespace lumopet::mail
