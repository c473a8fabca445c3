// A message read whole for the reader from its Maildir copy: every charset
// Japanese mail and its correspondents use, the text and the HTML of one
// message, pictures by cid:, attachments listed with their sizes and
// written exactly, and files and messages made to do harm.

#include "core/cp932.h"
#include "core/safe_file.h"
#include "core/unique_fd.h"
#include "mail/attachment_files.h"
#include "mail/mime/message_view.h"
#include "store/maildir.h"
#include "tests/support/temp_folder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <unicode/ucnv.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet::mail {
namespace {

// The bytes of the text in the charset, by ICU's converter: the test's own
// way there, so that a decoder that loses a character shows it.
QByteArray encodedIn(const QString& text, const char* charset) {
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(charset, &status);
    EXPECT_TRUE(U_SUCCESS(status)) << charset;
    QByteArray bytes(text.size() * 4 + 16, '\0');
    const int32_t length = ucnv_fromUChars(converter, bytes.data(), static_cast<int32_t>(bytes.size()),
                                           reinterpret_cast<const UChar*>(text.utf16()), static_cast<int32_t>(text.size()), &status);
    ucnv_close(converter);
    EXPECT_TRUE(U_SUCCESS(status)) << charset;
    bytes.truncate(length);
    return bytes;
}

// A message of one text part, as it comes from the server (CR LF).
QByteArray textMessage(const QByteArray& contentType, const QByteArray& body, const QByteArray& encoding = "8bit") {
    return "From: sender@example.jp\r\nTo: you@example.jp\r\nSubject: test\r\nMIME-Version: 1.0\r\nContent-Type: " +
           contentType + "\r\nContent-Transfer-Encoding: " + encoding + "\r\n\r\n" + body + "\r\n";
}

// The message as the Maildir keeps it (LF line ends), in a file of the folder.
QString storedMessage(const test::TempFolder& folder, const QByteArray& message, const QString& name = QStringLiteral("message")) {
    folder.write(name, MaildirLocalForm(message));
    return folder.path(name);
}

QByteArray writtenPart(const test::TempFolder& folder, const QString& messagePath, const PartPath& path, Status* status = nullptr) {
    const QString out = folder.path(QStringLiteral("written"));
    QFile::remove(out);
    UniqueFd fd(::open(QFile::encodeName(out).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600));
    const Status written = WritePartContent(messagePath, path, fd.get());
    if (status) *status = written;
    EXPECT_TRUE(fd.close());
    return folder.read(QStringLiteral("written"));
}

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(20261210);
    for (char& byte : bytes) byte = static_cast<char>(generator.generate() & 0xFF);
    return bytes;
}

// Base64 in lines of 76 characters, as mailers write it.
QByteArray base64Lines(const QByteArray& content) {
    const QByteArray encoded = content.toBase64();
    QByteArray lines;
    for (qsizetype pos = 0; pos < encoded.size(); pos += 76) lines += encoded.mid(pos, 76) + "\r\n";
    return lines;
}

// ---------------------------------------------------------------------------
// Charsets: declared, undeclared, unknown, and chosen by the reader.

struct CharsetRow {
    const char* name;
    QByteArray contentType;
    QByteArray body;
    QString text;               // what must come out, whole
    QByteArray override = {};   // the reader's choice
    QString charset = {};       // what the view says the text was read in
    QString note = {};          // a note that must be there; none otherwise
};

void PrintTo(const CharsetRow& row, std::ostream* out) { *out << row.name; }

class ViewCharsetTest : public ::testing::TestWithParam<CharsetRow> {};

TEST_P(ViewCharsetTest, ReadsEveryCharacter) {
    const CharsetRow& row = GetParam();
    const test::TempFolder folder;
    const QByteArray message = textMessage(row.contentType, row.body);
    const ViewedMessage view = ViewMessageFile(storedMessage(folder, message), row.override);
    EXPECT_EQ(view.text, row.text + u'\n');
    EXPECT_FALSE(view.text.contains(QChar::ReplacementCharacter));
    EXPECT_TRUE(view.html.isEmpty());
    EXPECT_EQ(view.charset, row.charset);
    if (row.note.isEmpty())
        EXPECT_TRUE(view.notes.isEmpty()) << view.notes.join(u'\n').toStdString();
    else
        EXPECT_EQ(view.notes, QStringList{row.note});
    // The same from memory, as the server sent it.
    EXPECT_EQ(ViewMessage(message, row.override).text, view.text);
}

const QString kWindowsJapanese = QStringLiteral("①㈱日本～");

INSTANTIATE_TEST_SUITE_P(
    Charsets, ViewCharsetTest,
    ::testing::Values(
        // NEC row 13 and the Windows "～" in JIS, as Outlook Express sends them.
        CharsetRow{"iso2022jp_windows_extensions", "text/plain; charset=ISO-2022-JP", "\x1b$B-!-jF|K\\!A\x1b(B",
                   kWindowsJapanese, {}, "ISO-2022-JP"},
        CharsetRow{"shift_jis", "text/plain; charset=Shift_JIS", "\x87\x40\x87\x8a\x93\xfa\x96\x7b\x81\x60",
                   kWindowsJapanese, {}, "Shift_JIS"},
        CharsetRow{"cp932_label", "text/plain; charset=\"windows-31j\"", "\x87\x40\x87\x8a\x93\xfa\x96\x7b\x81\x60",
                   kWindowsJapanese, {}, "windows-31j"},
        CharsetRow{"euc_jp", "text/plain; charset=EUC-JP", "\xad\xa1\xc6\xfc\xcb\xdc", QStringLiteral("①日本"), {}, "EUC-JP"},
        CharsetRow{"utf8_emoji_hangul_chinese_latin", "text/plain; charset=UTF-8",
                   QStringLiteral("😀 한국어 简体中文 café").toUtf8(), QStringLiteral("😀 한국어 简体中文 café"), {}, "UTF-8"},
        CharsetRow{"gb18030", "text/plain; charset=GB18030", encodedIn(QStringLiteral("简体中文𠀀"), "GB18030"),
                   QStringLiteral("简体中文𠀀"), {}, "GB18030"},
        CharsetRow{"big5", "text/plain; charset=Big5", "\xc1\x63\xc5\xe9\xa4\xa4\xa4\xe5", QStringLiteral("繁體中文"), {}, "Big5"},
        CharsetRow{"euc_kr", "text/plain; charset=EUC-KR", encodedIn(QStringLiteral("한국어 메일"), "EUC-KR"),
                   QStringLiteral("한국어 메일"), {}, "EUC-KR"},
        CharsetRow{"latin1", "text/plain; charset=ISO-8859-1", "caf\xe9 na\xefve", QStringLiteral("café naïve"), {}, "ISO-8859-1"},
        CharsetRow{"windows_1252", "text/plain; charset=windows-1252", "\x80 5 caf\xe9", QStringLiteral("€ 5 café"), {}, "windows-1252"},
        // Undeclared 8-bit text: DecodeCharset's guess.
        CharsetRow{"undeclared_shift_jis", "text/plain", "\x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67",
                   QStringLiteral("日本語のテキスト")},
        // A label no converter knows: the guess, and a note.
        CharsetRow{"x_unknown", "text/plain; charset=x-unknown", "\x93\xfa\x96\x7b\x8c\xea", QStringLiteral("日本語"), {}, {},
                   QStringLiteral("文字コード「x-unknown」は読めないため、自動判定で表示しています。")},
        CharsetRow{"no_such_converter", "text/plain; charset=x-no-such-charset", QStringLiteral("日本語").toUtf8(),
                   QStringLiteral("日本語"), {}, {},
                   QStringLiteral("文字コード「x-no-such-charset」は読めないため、自動判定で表示しています。")},
        // The reader's choice over a wrong label, for each charset offered.
        CharsetRow{"override_shift_jis", "text/plain; charset=ISO-8859-1", "\x87\x40\x93\xfa\x96\x7b",
                   QStringLiteral("①日本"), "Shift_JIS", "Shift_JIS"},
        CharsetRow{"override_iso2022jp", "text/plain; charset=us-ascii", "\x1b$B-!F|K\\\x1b(B", QStringLiteral("①日本"),
                   "ISO-2022-JP", "ISO-2022-JP"},
        CharsetRow{"override_euc_jp", "text/plain; charset=Shift_JIS", "\xad\xa1\xc6\xfc\xcb\xdc", QStringLiteral("①日本"),
                   "EUC-JP", "EUC-JP"},
        CharsetRow{"override_utf8", "text/plain; charset=Shift_JIS", QStringLiteral("😀 café").toUtf8(),
                   QStringLiteral("😀 café"), "UTF-8", "UTF-8"},
        CharsetRow{"override_latin1", "text/plain; charset=UTF-8", "caf\xe9", QStringLiteral("café"), "ISO-8859-1",
                   "ISO-8859-1"},
        CharsetRow{"override_windows_1252", "text/plain; charset=ISO-8859-1", "\x80 caf\xe9", QStringLiteral("€ café"),
                   "windows-1252", "windows-1252"},
        CharsetRow{"override_gb18030", "text/plain; charset=UTF-8", encodedIn(QStringLiteral("简体中文"), "GB18030"),
                   QStringLiteral("简体中文"), "GB18030", "GB18030"},
        CharsetRow{"override_big5", "text/plain; charset=x-unknown", "\xc1\x63\xc5\xe9\xa4\xa4\xa4\xe5",
                   QStringLiteral("繁體中文"), "Big5", "Big5"},
        CharsetRow{"override_euc_kr", "text/plain", encodedIn(QStringLiteral("한국어"), "EUC-KR"), QStringLiteral("한국어"),
                   "EUC-KR", "EUC-KR"}),
    [](const ::testing::TestParamInfo<CharsetRow>& info) { return std::string(info.param.name); });

// Encoded-words and RFC 2231 in the header; the date in the history's form.
TEST(ViewHeader, DecodesEveryFieldInOrder) {
    const test::TempFolder folder;
    const QByteArray jisWord = "=?ISO-2022-JP?B?" + QByteArray("\x1b$B-!F|K\\\x1b(B").toBase64() + "?=";
    const QByteArray message = "From: =?UTF-8?B?" + QStringLiteral("山田 太郎").toUtf8().toBase64() +
                               "?= <taro@example.jp>\r\nTo: a@example.jp,\r\n =?UTF-8?Q?caf=C3=A9?= <b@example.jp>\r\n"
                               "Cc: =?EUC-KR?B?" + encodedIn(QStringLiteral("한국"), "EUC-KR").toBase64() +
                               "?= <c@example.kr>\r\nSubject: " + jisWord +
                               "\r\nDate: Thu, 10 Dec 2026 09:05:07 +0900\r\nX-Mailer: test\r\n\r\nbody\r\n";
    const ViewedMessage view = ViewMessageFile(storedMessage(folder, message));
    EXPECT_EQ(view.subject, QStringLiteral("①日本"));
    EXPECT_EQ(view.from, QStringLiteral("山田 太郎 <taro@example.jp>"));
    EXPECT_EQ(view.to, QStringLiteral("a@example.jp, café <b@example.jp>"));
    EXPECT_EQ(view.cc, QStringLiteral("한국 <c@example.kr>"));
    const QDateTime sent = QDateTime::fromString(QStringLiteral("2026-12-10T09:05:07+09:00"), Qt::ISODate).toLocalTime();
    EXPECT_EQ(view.date, sent.toString(QStringLiteral("yyyy/MM/dd  H:mm:ss")));
    ASSERT_EQ(view.headerFields.size(), 6u);
    EXPECT_EQ(view.headerFields[3], std::make_pair(QStringLiteral("Subject"), QStringLiteral("①日本")));
    EXPECT_EQ(view.headerFields[5], std::make_pair(QStringLiteral("X-Mailer"), QStringLiteral("test")));
    EXPECT_EQ(view.text, QStringLiteral("body\n"));
}

// Raw Shift_JIS in the header, from a mailer that encodes nothing: guessed,
// or read in the reader's choice.
TEST(ViewHeader, RawEightBitTextFollowsTheReadersChoice) {
    const test::TempFolder folder;
    const QByteArray message = "Subject: " + encodedIn(QStringLiteral("한국어 제목"), "EUC-KR") +
                               "\r\nContent-Type: text/plain; charset=EUC-KR\r\n\r\n" +
                               encodedIn(QStringLiteral("본문"), "EUC-KR") + "\r\n";
    const QString path = storedMessage(folder, message);
    EXPECT_EQ(ViewMessageFile(path, "EUC-KR").subject, QStringLiteral("한국어 제목"));
    EXPECT_EQ(ViewMessageFile(path, "EUC-KR").text, QStringLiteral("본문\n"));
    const QByteArray sjisSubject = "Subject: \x93\xfa\x96\x7b\x8c\xea\x82\xcc\x8c\x8f\x96\xbc\r\n\r\nx\r\n";
    EXPECT_EQ(ViewMessageFile(storedMessage(folder, sjisSubject, QStringLiteral("sjis"))).subject, QStringLiteral("日本語の件名"));
}

// ---------------------------------------------------------------------------
// The shapes of a message

QByteArray relatedMessage(const QByteArray& picturePart, const QByteArray& html) {
    return "Subject: related\r\nMIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"alt\"\r\n\r\n"
           "--alt\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" + QStringLiteral("プレーン").toUtf8() +
           "\r\n--alt\r\nContent-Type: multipart/related; boundary=\"rel\"\r\n\r\n"
           "--rel\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n" + html +
           "\r\n--rel\r\n" + picturePart + "\r\n--rel--\r\n--alt--\r\n";
}

TEST(ViewShapes, AlternativeKeepsTheTextAndTheHtml) {
    const test::TempFolder folder;
    const QByteArray message =
        "Subject: alt\r\nMIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"b\"\r\n\r\n--b\r\n"
        "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n\x1b$B-!\x1b(B plain\r\n--b\r\n"
        "Content-Type: text/html; charset=Shift_JIS\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
        "<p>=87@ html</p>\r\n--b--\r\n";
    const ViewedMessage view = ViewMessageFile(storedMessage(folder, message));
    EXPECT_EQ(view.text, QStringLiteral("① plain"));
    EXPECT_EQ(view.html, QStringLiteral("<p>① html</p>"));
    EXPECT_EQ(view.charset, QStringLiteral("ISO-2022-JP"));
    EXPECT_TRUE(view.attachments.empty());
}

TEST(ViewShapes, HtmlOnlyHasNoText) {
    const test::TempFolder folder;
    const QByteArray html = QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body>こんにちは 😀</body></html>").toUtf8();
    const ViewedMessage view = ViewMessageFile(storedMessage(folder, textMessage("text/html", html)));
    EXPECT_TRUE(view.text.isEmpty());
    EXPECT_EQ(view.html, QString::fromUtf8(html) + u'\n');
    EXPECT_EQ(view.charset, QStringLiteral("utf-8"));
}

TEST(ViewShapes, RelatedPictureIsOfferedByItsContentId) {
    const test::TempFolder folder;
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + randomBytes(2000);
    const QByteArray message = relatedMessage(
        "Content-Type: image/png; name=\"pic.png\"\r\nContent-Transfer-Encoding: base64\r\nContent-ID: <pic@example.jp>\r\n\r\n" +
            base64Lines(png),
        "<p><img src=\"cid:pic@example.jp\"></p>");
    const QString path = storedMessage(folder, message);
    const ViewedMessage view = ViewMessageFile(path);
    EXPECT_EQ(view.text, QStringLiteral("プレーン"));
    EXPECT_EQ(view.html, QStringLiteral("<p><img src=\"cid:pic@example.jp\"></p>"));
    // The check reads the plain alternative and leaves the HTML's pictures.
    EXPECT_TRUE(view.attachments.empty());
    ASSERT_EQ(view.inlineParts.size(), 1u);
    const ViewedPart& picture = view.inlineParts[0];
    EXPECT_EQ(picture.contentId, "pic@example.jp");
    EXPECT_EQ(picture.contentType, "image/png");
    EXPECT_EQ(picture.fileName, QStringLiteral("pic.png"));
    EXPECT_TRUE(picture.inlineImage);
    EXPECT_EQ(picture.path, (PartPath{1, 1}));
    EXPECT_NEAR(static_cast<double>(picture.size), static_cast<double>(png.size()), 2.0);
    EXPECT_EQ(PartContent(path, picture.path, 1 << 20), std::optional<QByteArray>(png));
    EXPECT_EQ(PartContent(path, picture.path, png.size() - 1), std::nullopt);
}

// A multipart/mixed the check reads whole: texts joined, pictures saved,
// the one the HTML names marked.
TEST(ViewShapes, MixedListsWhatTheCheckSaves) {
    const test::TempFolder folder;
    const QByteArray message =
        "Subject: mixed\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
        "--m\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\nfirst\r\n"
        "--m\r\nContent-Type: image/gif\r\nContent-ID: <g1>\r\nContent-Transfer-Encoding: base64\r\n\r\nR0lGODlh\r\n"
        "--m\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Disposition: inline; filename=\"note.txt\"\r\n\r\nsecond\r\n"
        "--m\r\nContent-Type: message/rfc822\r\n\r\nSubject: inner\r\n\r\ninner body\r\n"
        "--m--\r\n";
    const ViewedMessage view = ViewMessageFile(storedMessage(folder, message));
    EXPECT_EQ(view.text, QStringLiteral("first\nsecond"));
    ASSERT_EQ(view.attachments.size(), 3u);
    EXPECT_EQ(view.attachments[0].contentType, "image/gif");
    EXPECT_EQ(view.attachments[0].path, (PartPath{1}));
    EXPECT_EQ(view.attachments[0].size, 6);
    EXPECT_FALSE(view.attachments[0].inlineImage);  // not in a multipart/related, not named by HTML
    EXPECT_EQ(view.attachments[1].fileName, QStringLiteral("note.txt"));
    EXPECT_EQ(view.attachments[2].fileName, QStringLiteral("inner.eml"));
    EXPECT_EQ(view.attachments[2].contentType, "message/rfc822");
    EXPECT_TRUE(view.inlineParts.empty());
}

// Some mailers put the pictures their HTML shows in a multipart/mixed: one
// the HTML names is offered (and marked among the files the check saves),
// one it does not name is a file only.
TEST(ViewShapes, AnImageTheHtmlNamesIsInlineOutsideARelated) {
    const test::TempFolder folder;
    const QByteArray message =
        "Subject: mixed html\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"m\"\r\n\r\n"
        "--m\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n<img src='cid:named@x'><img src=\"CID:other\">\r\n"
        "--m\r\nContent-Type: image/gif\r\nContent-ID: <unnamed@x>\r\nContent-Transfer-Encoding: base64\r\n\r\nR0lGODlh\r\n"
        "--m\r\nContent-Type: image/gif\r\nContent-ID: <named@x>\r\nContent-Transfer-Encoding: base64\r\n\r\nR0lGODlh\r\n"
        "--m--\r\n";
    const ViewedMessage view = ViewMessageFile(storedMessage(folder, message));
    EXPECT_TRUE(view.text.isEmpty());
    ASSERT_EQ(view.attachments.size(), 2u);
    EXPECT_FALSE(view.attachments[0].inlineImage);
    EXPECT_TRUE(view.attachments[1].inlineImage);
    ASSERT_EQ(view.inlineParts.size(), 1u);
    EXPECT_EQ(view.inlineParts[0].contentId, "named@x");
    EXPECT_EQ(view.inlineParts[0].path, (PartPath{2}));
}

// 25 MB of base64 listed from its lines alone, and written back byte for
// byte through the streaming decoder.
TEST(ViewAttachments, LargeBase64IsListedWithItsSizeAndWrittenExactly) {
    const test::TempFolder folder;
    const QByteArray content = randomBytes(3 * 1024 * 1024 + 7);
    const QByteArray encoded = base64Lines(content);
    const QByteArray message =
        "Subject: big\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
        "Content-Type: text/plain\r\n\r\nsee attached\r\n--b\r\nContent-Type: application/octet-stream\r\n"
        "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"data.bin\"\r\n\r\n" +
        encoded + "--b--\r\n";
    const QString path = storedMessage(folder, message);
    const ViewedMessage view = ViewMessageFile(path);
    ASSERT_EQ(view.attachments.size(), 1u);
    const ViewedPart& part = view.attachments[0];
    EXPECT_EQ(part.fileName, QStringLiteral("data.bin"));
    EXPECT_EQ(part.path, (PartPath{1}));
    // In the Maildir each line ends in LF alone.
    EXPECT_NEAR(static_cast<double>(part.encodedSize), static_cast<double>(MaildirLocalForm(encoded).size()), 1.0);
    EXPECT_NEAR(static_cast<double>(part.size), static_cast<double>(content.size()), 2.0);
    Status status = success();
    EXPECT_EQ(writtenPart(folder, path, part.path, &status), content);
    EXPECT_TRUE(status) << status.error().toStdString();
    EXPECT_EQ(PartContent(path, part.path, content.size() - 1), std::nullopt);
}

// Sizes of content that is not base64, against what is written.
struct SizeRow {
    const char* name;
    QByteArray encoding;
    QByteArray content;  // as it stands in the message
    bool exact;
};

void PrintTo(const SizeRow& row, std::ostream* out) { *out << row.name; }

class ViewSizeTest : public ::testing::TestWithParam<SizeRow> {};

TEST_P(ViewSizeTest, MatchesWhatIsWritten) {
    const SizeRow& row = GetParam();
    const test::TempFolder folder;
    const QByteArray message = "Subject: s\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                               "Content-Type: text/plain\r\n\r\nt\r\n--b\r\nContent-Type: text/csv\r\n"
                               "Content-Transfer-Encoding: " + row.encoding +
                               "\r\nContent-Disposition: attachment; filename=\"a.csv\"\r\n\r\n" + row.content + "\r\n--b--\r\n";
    const QString path = storedMessage(folder, message);
    const ViewedMessage view = ViewMessageFile(path);
    ASSERT_EQ(view.attachments.size(), 1u);
    const QByteArray written = writtenPart(folder, path, view.attachments[0].path);
    if (row.exact)
        EXPECT_EQ(view.attachments[0].size, written.size());
    else
        EXPECT_NEAR(static_cast<double>(view.attachments[0].size), static_cast<double>(written.size()), 3.0);
}

QByteArray csvLines(int count) {
    QByteArray lines;
    for (int i = 0; i < count; ++i) lines += "row," + QByteArray::number(i) + ",value\r\n";
    return lines + "last";
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, ViewSizeTest,
    ::testing::Values(SizeRow{"eight_bit_lines", "8bit", csvLines(5000), true},
                      SizeRow{"seven_bit_one_line", "7bit", "no line end", true},
                      SizeRow{"binary", "binary", csvLines(3), true},
                      SizeRow{"quoted_printable", "quoted-printable",
                              "caf=C3=A9,=E6=97=A5=E6=9C=AC,long line that goes on and on and on and on and on and=\r\n"
                              " continues\r\nnext=3Drow\r\n" + csvLines(100),
                              false}),
    [](const ::testing::TestParamInfo<SizeRow>& info) { return std::string(info.param.name); });

TEST(ViewText, FortyThousandBytesComeOutWhole) {
    const test::TempFolder folder;
    QByteArray body;
    QString expected;
    for (int line = 0; body.size() < 40000; ++line) {
        const QString text = QStringLiteral("%1行目の本文です。①～\n").arg(line);
        body += cp932::encode(QString(text).replace(QStringLiteral("\n"), QStringLiteral("\r\n")));
        expected += text;
    }
    const ViewedMessage view = ViewMessageFile(storedMessage(folder, textMessage("text/plain; charset=Shift_JIS", body)));
    EXPECT_EQ(view.text, expected + u'\n');
}

// ---------------------------------------------------------------------------
// Files and messages made to do harm: no crash, no hang, nothing lost that
// was sent, names kept as sent for the caller to reduce.

TEST(ViewHostile, NestingBeyondTheLimitIsLeftOutWithANote) {
    const test::TempFolder folder;
    QByteArray message = "Subject: deep\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n";
    constexpr int kLevels = 200;
    for (int level = 0; level < kLevels; ++level) {
        message += "--b" + QByteArray::number(level) + "\r\nContent-Type: text/plain\r\n\r\nlevel " + QByteArray::number(level) +
                   "\r\n--b" + QByteArray::number(level) + "\r\nContent-Type: multipart/mixed; boundary=\"b" +
                   QByteArray::number(level + 1) + "\"\r\n\r\n";
    }
    const ViewedMessage view = ViewMessageFile(storedMessage(folder, message));
    EXPECT_TRUE(view.text.startsWith(QStringLiteral("level 0\nlevel 1\n")));
    EXPECT_FALSE(view.text.contains(QStringLiteral("level 199")));
    EXPECT_TRUE(view.notes.contains(QStringLiteral("入れ子が深すぎる部分は表示していません。")));
}

TEST(ViewHostile, AContentIdPartThatIsNoImageIsNeverOfferedAsAPicture) {
    const test::TempFolder folder;
    const QByteArray message = relatedMessage(
        "Content-Type: application/x-sh\r\nContent-ID: <run@x>\r\n\r\nrm -rf ~\r\n", "<img src=\"cid:run@x\">");
    const ViewedMessage view = ViewMessageFile(storedMessage(folder, message));
    EXPECT_EQ(view.html, QStringLiteral("<img src=\"cid:run@x\">"));
    EXPECT_TRUE(view.inlineParts.empty());
}

// The names as sent; SafeAttachmentFileName is what reduces them before
// anything touches the disk.
TEST(ViewHostile, FileNamesAreKeptAsSent) {
    const QString longName = QString(300, u'a') + QStringLiteral(".txt");
    const struct {
        QByteArray disposition;
        QString sent;
    } rows[] = {
        {"attachment; filename=\"../../.bashrc\"", QStringLiteral("../../.bashrc")},
        {"attachment; filename=CON", QStringLiteral("CON")},
        {"attachment; filename*=UTF-8''a%01b%1B%5B31m%E2%80%AEtxt.exe", QStringLiteral("a\x01" "b\x1b[31m\u202etxt.exe")},
        {"attachment; filename=\"" + longName.toLatin1() + "\"", longName},
        {"attachment; filename*=ISO-2022-JP''%1B%24B-%21%1B%28B.txt", QStringLiteral("①.txt")},
    };
    const test::TempFolder folder;
    for (const auto& row : rows) {
        const QByteArray message = "Subject: n\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
                                   "--b\r\nContent-Type: text/plain\r\n\r\nt\r\n--b\r\nContent-Type: application/octet-stream\r\n"
                                   "Content-Disposition: " + row.disposition + "\r\n\r\ncontent\r\n--b--\r\n";
        const ViewedMessage view = ViewMessageFile(storedMessage(folder, message));
        ASSERT_EQ(view.attachments.size(), 1u) << row.disposition.constData();
        EXPECT_EQ(view.attachments[0].fileName, row.sent) << row.disposition.constData();
        const QString safe = SafeAttachmentFileName(view.attachments[0].fileName, 1);
        EXPECT_FALSE(safe.contains(u'/') || safe.startsWith(u'.') || safe.contains(u'\x01')) << safe.toStdString();
    }
}

TEST(ViewHostile, ATruncatedMessageShowsWhatArrived) {
    const test::TempFolder folder;
    const QByteArray content = randomBytes(5000);
    const QByteArray message =
        "Subject: cut\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
        "Content-Type: text/plain; charset=UTF-8\r\n\r\n" + QStringLiteral("途中まで").toUtf8() +
        "\r\n--b\r\nContent-Type: application/pdf; name=\"x.pdf\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
        base64Lines(content).left(3000);
    const QString path = storedMessage(folder, message);
    const ViewedMessage view = ViewMessageFile(path);
    EXPECT_EQ(view.text, QStringLiteral("途中まで"));
    ASSERT_EQ(view.attachments.size(), 1u);
    Status status = success();
    const QByteArray written = writtenPart(folder, path, view.attachments[0].path, &status);
    EXPECT_TRUE(status);
    EXPECT_TRUE(content.startsWith(written.left(2000)));
    EXPECT_NEAR(static_cast<double>(view.attachments[0].size), static_cast<double>(written.size()), 3.0);
}

TEST(ViewHostile, AZeroByteAttachmentIsListedAndWritesNothing) {
    const test::TempFolder folder;
    const QByteArray message = "Subject: z\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
                               "Content-Type: text/plain\r\n\r\nt\r\n--b\r\nContent-Type: application/octet-stream\r\n"
                               "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"empty.bin\"\r\n\r\n"
                               "--b--\r\n";
    const QString path = storedMessage(folder, message);
    const ViewedMessage view = ViewMessageFile(path);
    ASSERT_EQ(view.attachments.size(), 1u);
    EXPECT_EQ(view.attachments[0].size, 0);
    Status status = success();
    EXPECT_EQ(writtenPart(folder, path, view.attachments[0].path, &status), QByteArray());
    EXPECT_TRUE(status);
    EXPECT_EQ(PartContent(path, view.attachments[0].path, 10), std::optional<QByteArray>(QByteArray()));
}

// What is not a regular file is refused at once, with a note: never read
// through a link, never waited on.
TEST(ViewHostile, FilesThatAreNoMessageAreRefused) {
    const test::TempFolder folder;
    const QString real = storedMessage(folder, textMessage("text/plain", "secret"));
    const QString link = folder.path(QStringLiteral("link"));
    ASSERT_EQ(::symlink(QFile::encodeName(real).constData(), QFile::encodeName(link).constData()), 0);
    const QString fifo = folder.path(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString empty = storedMessage(folder, {}, QStringLiteral("empty"));
    const struct {
        QString path;
        QString note;
    } rows[] = {
        {link, QStringLiteral("メールのファイル「%1」を読めません（通常のファイルではないため開きません）。").arg(link)},
        {fifo, QStringLiteral("メールのファイル「%1」を読めません（通常のファイルではないため開きません）。").arg(fifo)},
        {folder.path(), QStringLiteral("メールのファイル「%1」を読めません（通常のファイルではないため開きません）。").arg(folder.path())},
        {empty, QStringLiteral("メールのファイルが空です。")},
    };
    for (const auto& row : rows) {
        QElapsedTimer timer;
        timer.start();
        const ViewedMessage view = ViewMessageFile(row.path);
        EXPECT_EQ(view.notes, QStringList{row.note});
        EXPECT_TRUE(view.text.isEmpty() && view.subject.isEmpty());
        EXPECT_FALSE(WritePartContent(row.path, {}, -1));
        EXPECT_EQ(PartContent(row.path, {}, 100), std::nullopt);
        EXPECT_LT(timer.elapsed(), 1000);
    }
    EXPECT_TRUE(SourceText(link, 100).contains(QStringLiteral("通常のファイルではない")));
}

TEST(ViewHostile, APathToNoPartIsAFailure) {
    const test::TempFolder folder;
    const QString path = storedMessage(folder, textMessage("text/plain", "one part"));
    for (const PartPath& wrong : {PartPath{0}, PartPath{-1}, PartPath(100, 0)})
        EXPECT_FALSE(WritePartContent(path, wrong, -1));
    EXPECT_EQ(writtenPart(folder, path, {}), QByteArray("one part\r\n"));
}

// ---------------------------------------------------------------------------
// The source

TEST(ViewSource, ShowsEachLineInItsOwnCharsetAndSaysWhatWasLeftOut) {
    const test::TempFolder folder;
    const QByteArray message = "Subject: " + QStringLiteral("件名").toUtf8() +
                               "\r\nContent-Type: text/plain; charset=Shift_JIS\r\n\r\n\x93\xfa\x96\x7b\x8c\xea\r\n\x87\x40\r\n";
    const QString path = storedMessage(folder, message);
    EXPECT_EQ(SourceText(path, 1 << 20),
              QStringLiteral("Subject: 件名\nContent-Type: text/plain; charset=Shift_JIS\n\n日本語\n①\n"));
    const qint64 size = MaildirLocalForm(message).size();
    EXPECT_EQ(SourceText(path, 30), QStringLiteral("Subject: 件名\n（ここから先の %L1 バイトは表示していません。）\n")
                                        .arg(size - QByteArray("Subject: ").size() - 7));
}

TEST(ViewSource, AJisLineReadsAsJapaneseAndEveryOtherSevenBitLineAsItStands) {
    const test::TempFolder folder;
    const QByteArray message = "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n"
                               "Content-Type: text/plain; charset=ISO-2022-JP\r\n\r\n\x1b$B-!%F%9%H\x1b(B ok\r\n$B%F\r\n";
    EXPECT_EQ(SourceText(storedMessage(folder, message), 1 << 20),
              QStringLiteral("Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\nContent-Type: text/plain; charset=ISO-2022-JP\n\n"
                             "①テスト ok\n$B%F\n"));
}

}  // namespace
}  // namespace lumopet::mail
