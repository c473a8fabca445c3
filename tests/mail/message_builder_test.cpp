#include "mail/message_builder.h"

#include "mail/gmime_handles.h"
#include "tests/support/case_names.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTimeZone>

#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <vector>

namespace lumopet::mail {
namespace {

using namespace Qt::StringLiterals;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
GMimePart* AsPart(GMimeObject* object) { return GMIME_IS_PART(object) ? GMIME_PART(object) : nullptr; }
GMimeMultipart* AsMultipart(GMimeObject* object) { return GMIME_IS_MULTIPART(object) ? GMIME_MULTIPART(object) : nullptr; }
InternetAddressMailbox* AsMailbox(InternetAddress* address) { return INTERNET_ADDRESS_MAILBOX(address); }
QByteArray BytesOf(GMimeStream* stream) {
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), static_cast<qsizetype>(bytes->len));
}
#pragma GCC diagnostic pop

QString Utf8(const char* text) { return QString::fromUtf8(text ? text : ""); }

// iconv, through glib: how a receiver turns the text into characters.
QString Convert(const QByteArray& bytes, const char* charset) {
    gsize written = 0;
    GString_ utf8(g_convert(bytes.constData(), bytes.size(), "UTF-8", charset, nullptr, &written, nullptr));
    return utf8 ? QString::fromUtf8(utf8.get(), static_cast<qsizetype>(written)) : u"<not %1>"_s.arg(charset);
}

QByteArray DecodedContent(GMimePart* part) {
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(g_mime_part_get_content(part), stream.get());
    return BytesOf(stream.get());
}

GObjectPtr<GMimeMessage> Parse(const QByteArray& wire) {
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(wire.constData(), wire.size()));
    GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    return GObjectPtr<GMimeMessage>(g_mime_parser_construct_message(parser.get(), nullptr));
}

struct File {
    QString name;
    QByteArray content;
};

// What a receiving mailer makes of the bytes.
struct Received {
    QString subject, toName, toAddress;
    QByteArray charset, transferEncoding;
    QString text;  // from the first part, which must be text/plain
    std::vector<File> files;
    QStringList nameParameters;  // name= of each file's Content-Type
};

Received Receive(const QByteArray& wire) {
    Received received;
    GObjectPtr<GMimeMessage> message = Parse(wire);
    if (!message) return received;
    received.subject = Utf8(g_mime_message_get_subject(message.get()));
    InternetAddressList* to = g_mime_message_get_addresses(message.get(), GMIME_ADDRESS_TYPE_TO);
    if (internet_address_list_length(to) == 1) {
        received.toName = Utf8(internet_address_get_name(internet_address_list_get_address(to, 0)));
        received.toAddress = Utf8(internet_address_mailbox_get_addr(AsMailbox(internet_address_list_get_address(to, 0))));
    }
    GMimeObject* body = g_mime_message_get_mime_part(message.get());
    std::vector<GMimePart*> parts{AsPart(body)};
    if (GMimeMultipart* mixed = AsMultipart(body)) {
        parts.clear();
        for (int i = 0; i < g_mime_multipart_get_count(mixed); ++i)
            parts.push_back(AsPart(g_mime_multipart_get_part(mixed, i)));
    }
    if (parts.empty() || !parts[0]) return received;
    GMimeObject* first = &parts[0]->parent_object;
    if (!g_mime_content_type_is_type(g_mime_object_get_content_type(first), "text", "plain")) return received;
    received.charset = g_mime_object_get_content_type_parameter(first, "charset");
    received.transferEncoding = g_mime_content_encoding_to_string(g_mime_part_get_content_encoding(parts[0]));
    received.text = Convert(DecodedContent(parts[0]), received.charset.constData());
    for (size_t i = 1; i < parts.size(); ++i) {
        if (!parts[i]) continue;
        received.files.push_back({Utf8(g_mime_part_get_filename(parts[i])), DecodedContent(parts[i])});
        received.nameParameters.append(Utf8(g_mime_object_get_content_type_parameter(&parts[i]->parent_object, "name")));
    }
    return received;
}

// The first line that breaks RFC 5322 2.1.1 (a bare CR or LF, more than 998
// octets, no CR LF at the end), or nothing.
QString WireProblem(const QByteArray& wire) {
    const QList<QByteArray> lines = wire.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        if (!lines[i].endsWith('\r') || lines[i].chopped(1).contains('\r')) return u"bare CR or LF in line %1"_s.arg(i + 1);
        if (lines[i].size() - 1 > 998) return u"line %1 has %2 octets"_s.arg(i + 1).arg(lines[i].size() - 1);
    }
    return lines.last().isEmpty() ? QString() : u"the last line has no CR LF"_s;
}

// RFC 2047 in the Subject field: lines with encoded words of at most 76
// characters, B words of at most 75 that decode on their own (no character
// split between two words), ISO-2022-JP ones ending back in ASCII.
QString SubjectWordProblem(const QByteArray& wire) {
    static const QRegularExpression word(uR"(=\?([^?]+)\?B\?([^?]*)\?=)"_s);
    const QList<QByteArray> lines = wire.left(wire.indexOf("\r\n\r\n")).split('\n');
    bool inSubject = false;
    for (const QByteArray& line : lines) {
        inSubject = line.startsWith("Subject:") || (inSubject && line.startsWith(' '));
        if (!inSubject || !line.contains("=?")) continue;
        if (line.size() - 1 > 76) return u"line of %1 characters"_s.arg(line.size() - 1);
        for (const auto& match : word.globalMatch(QString::fromLatin1(line))) {
            const QByteArray payload = QByteArray::fromBase64(match.captured(2).toLatin1());
            const qsizetype lastEscape = payload.lastIndexOf('\x1b');
            if (match.capturedLength() > 75 || Convert(payload, match.captured(1).toLatin1().constData()).startsWith(u"<not ") ||
                (lastEscape >= 0 && payload.mid(lastEscape, 3) != "\x1b(B"))
                return u"bad word "_s + match.captured();
        }
    }
    return QString();
}

QByteArray Build(const OutgoingMessage& message) {
    const Result<QByteArray> built = BuildMessage(message);
    EXPECT_TRUE(built.ok()) << built.error().toStdString();
    if (!built) return QByteArray();
    EXPECT_EQ(WireProblem(built.value()), QString());
    return built.value();
}

OutgoingMessage Message(const QString& subject, const QString& body) {
    OutgoingMessage message;
    message.from = u"me@example.jp"_s;
    message.to = u"you@example.jp"_s;
    message.subject = subject;
    message.body = body;
    return message;
}

// The body as it must arrive: every line end CR LF, the last line ended.
QString OnTheWire(QString body) {
    body.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
    if (!body.isEmpty() && !body.endsWith(u'\n')) body += u'\n';
    return body.replace(u"\n"_s, u"\r\n"_s);
}

using lumopet::test::CaseName;
using lumopet::test::PrintTo;

struct CharsetCase {
    const char* name;
    QString subject, body;
    QByteArray charset, transferEncoding;
};

class TextCharset : public ::testing::TestWithParam<CharsetCase> {};

TEST_P(TextCharset, ChoosesIso2022JpOnlyWhenEveryCharacterIsJis) {
    const CharsetCase& c = GetParam();
    const Received received = Receive(Build(Message(c.subject, c.body)));
    EXPECT_EQ(received.charset.toUpper(), c.charset);
    EXPECT_EQ(received.transferEncoding, c.transferEncoding);
    EXPECT_EQ(received.text, OnTheWire(c.body));
    EXPECT_EQ(received.subject, c.subject);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextCharset,
    ::testing::Values(
        CharsetCase{"jis_text", u"打ち合わせの件"_s, u"明日は十時からです。\nよろしくお願いします。"_s, "ISO-2022-JP", "7bit"},
        CharsetCase{"ascii_text", u"Hello"_s, u"See you at 10.\n"_s, "ISO-2022-JP", "7bit"},
        CharsetCase{"wave_dash_and_yen", u"〜"_s, u"１〜５個、¥100"_s, "ISO-2022-JP", "7bit"},
        CharsetCase{"character_tag", u"タグ"_s, u"Lumopet（①の選択）"_s, "UTF-8", "base64"},
        CharsetCase{"circled_digit_in_subject_only", u"①の件"_s, u"本文です。"_s, "UTF-8", "base64"},
        CharsetCase{"halfwidth_kana", u"件名"_s, u"ﾙﾓﾍﾟｯﾄ"_s, "UTF-8", "base64"},
        CharsetCase{"fullwidth_tilde", u"件名"_s, u"１～５"_s, "UTF-8", "base64"},
        CharsetCase{"emoji", u"了解😀"_s, u"了解です😀"_s, "UTF-8", "base64"},
        CharsetCase{"accent_in_ascii_text", u"Menu"_s, u"A café au lait, please.\r\nThanks"_s, "UTF-8", "quoted-printable"},
        CharsetCase{"escape_character", u"件名"_s, u"a\x1b$Bb"_s, "UTF-8", "quoted-printable"}),
    CaseName);

struct RoundTripCase {
    const char* name;
    QString to, toName, toAddress;  // as written, then as the receiver reads it
    std::vector<File> files;
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ReceiverReadsWhatWasSent) {
    const RoundTripCase& c = GetParam();
    test::TempFolder folder;
    OutgoingMessage message = Message(u"資料の送付"_s, u"資料を送ります。\n"_s);
    message.to = c.to;
    message.attachmentPaths = {QString(), u"  "_s};  // blank entries are skipped
    for (const File& file : c.files) {
        folder.write(file.name, file.content);
        message.attachmentPaths.append(u" %1 "_s.arg(folder.path(file.name)));
    }
    const Received received = Receive(Build(message));
    EXPECT_EQ(received.toName, c.toName);
    EXPECT_EQ(received.toAddress, c.toAddress);
    EXPECT_EQ(received.subject, message.subject);
    EXPECT_EQ(received.text, OnTheWire(message.body));
    ASSERT_EQ(received.files.size(), c.files.size());
    for (size_t i = 0; i < c.files.size(); ++i) {
        EXPECT_EQ(received.files[i].name, c.files[i].name);
        EXPECT_EQ(received.nameParameters[i], c.files[i].name);
        EXPECT_EQ(received.files[i].content, c.files[i].content);
    }
}

QByteArray EveryByte() {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, RoundTrip,
    ::testing::Values(
        RoundTripCase{"plain_address", u"you@example.jp"_s, {}, u"you@example.jp"_s, {}},
        RoundTripCase{"japanese_name_and_file", u"山田 太郎 <taro@example.jp>"_s, u"山田 太郎"_s, u"taro@example.jp"_s,
                      {{u"資料.txt"_s, "\x8e\x91\x97\xbf\r\n"}}},
        RoundTripCase{"quoted_name_with_comma_and_angle", u"\"山田, <営業>\" <sales@example.jp>"_s, u"山田, <営業>"_s,
                      u"sales@example.jp"_s, {}},
        RoundTripCase{"ascii_name_needing_quotes", u"\"O'Brien; Pat\" <pat@example.com>"_s, u"O'Brien; Pat"_s,
                      u"pat@example.com"_s, {}},
        RoundTripCase{"name_outside_jis", u"髙橋① <t@example.jp>"_s, u"髙橋①"_s, u"t@example.jp"_s, {}},
        RoundTripCase{"several_files", u"you@example.jp"_s, {}, u"you@example.jp"_s,
                      {{u"report.pdf"_s, EveryByte()},
                       {u"写真😀.jpg"_s, EveryByte().repeated(40)},
                       {u"空.dat"_s, QByteArray()},
                       {u"とても長い日本語のファイル名で折り返しを確かめるための名前です.txt"_s, "x"}}}),
    CaseName);

// Built into a file, a large attachment encoded from its own as the
// message is written, it reads as the same message; what goes on the wire
// is the file with CR LF, and no line is over the limit.
TEST(BuiltIntoAFile, ReadsAsTheMessageBuiltInMemory) {
    test::TempFolder folder;
    QByteArray large = EveryByte().repeated(static_cast<qsizetype>(kStreamedAttachmentBytes / 256 + 1));
    folder.write(u"大きい.bin"_s, large);
    folder.write(u"小さい.txt"_s, "\x8e\x91\x97\xbf\r\n");
    OutgoingMessage message = Message(u"資料の送付"_s, u"資料を送ります。\n"_s);
    message.attachmentPaths = {folder.path(u"大きい.bin"_s), folder.path(u"小さい.txt"_s)};
    ASSERT_TRUE(HasLargeAttachment(message.attachmentPaths));

    const QString path = folder.path(u"built.eml"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    const Result<qint64> wireSize = BuildMessageFile(message, file.handle());
    ASSERT_TRUE(wireSize.ok()) << wireSize.error().toStdString();
    const QByteArray lf = folder.read(u"built.eml"_s);
    EXPECT_FALSE(lf.contains('\r'));
    const QByteArray wire = QByteArray(lf).replace("\n", "\r\n");
    EXPECT_EQ(wire.size(), wireSize.value());

    const Received fromFile = Receive(wire), inMemory = Receive(Build(message));
    EXPECT_EQ(fromFile.subject, inMemory.subject);
    EXPECT_EQ(fromFile.text, inMemory.text);
    ASSERT_EQ(fromFile.files.size(), 2u);
    EXPECT_EQ(fromFile.files[0].name, u"大きい.bin"_s);
    EXPECT_TRUE(fromFile.files[0].content == large);
    EXPECT_EQ(fromFile.files[1].content, inMemory.files[1].content);
    for (const QByteArray& line : wire.split('\n')) ASSERT_LE(line.size(), 999);
}

struct WireCase {
    const char* name;
    QString subject, body;
};

class WireShape : public ::testing::TestWithParam<WireCase> {};

TEST_P(WireShape, KeepsLinesShortAndEncodedWordsWhole) {
    const WireCase& c = GetParam();
    const QByteArray wire = Build(Message(c.subject, c.body));
    EXPECT_EQ(SubjectWordProblem(wire), QString());
    const Received received = Receive(wire);
    EXPECT_EQ(received.subject, c.subject);
    EXPECT_EQ(received.text, OnTheWire(c.body));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WireShape,
    ::testing::Values(WireCase{"ascii_line_of_5000", u"Long"_s, QString(5000, u'a')},
                      WireCase{"japanese_line_of_5000", u"長い行"_s, QString(5000, u'あ') + u"\nおわり"_s},
                      WireCase{"jis_line_just_over_998", u"境目"_s, QString(498, u'あ')},
                      WireCase{"mixed_line_ends", u"改行"_s, u"一\r二\r\n三\n\n四"_s},
                      WireCase{"long_jis_subject", u"来週の定例会議（第３会議室）の議題について、¥500の件とABC社の件を含めてご相談したいことがございます"_s, {}},
                      WireCase{"long_utf8_subject", u"ﾙﾓﾍﾟｯﾄ😀"_s.repeated(12), u"本文"_s},
                      WireCase{"ascii_before_three_byte_run", u"Lumopet①"_s + QString(60, u'漢'), u"本文"_s},
                      WireCase{"ascii_subject_without_blanks", QString(1500, u'x'), u"x"_s},
                      WireCase{"ascii_subject_like_encoded_word", u"=?UTF-8?B?44GC?= is not a word"_s, u"x"_s}),
    CaseName);

// --- The charset of a text attachment, as its Content-Type says it: a
// reader shows the file in it.

struct AttachmentCharsetCase {
    const char* name;
    QString fileName;
    QByteArray content;
    QByteArray mimeType;  // of the attachment part
    QByteArray charset;   // its charset parameter; empty: none
};

class AttachmentCharset : public ::testing::TestWithParam<AttachmentCharsetCase> {};

TEST_P(AttachmentCharset, NamesTheCharsetOfTheFile) {
    const AttachmentCharsetCase& c = GetParam();
    test::TempFolder folder;
    folder.write(c.fileName, c.content);
    OutgoingMessage message = Message(u"資料"_s, u"本文"_s);
    message.attachmentPaths = {folder.path(c.fileName)};
    const QByteArray wire = Build(message);
    GObjectPtr<GMimeMessage> parsed = Parse(wire);
    ASSERT_TRUE(parsed);
    GMimeMultipart* mixed = AsMultipart(g_mime_message_get_mime_part(parsed.get()));
    ASSERT_TRUE(mixed);
    ASSERT_EQ(g_mime_multipart_get_count(mixed), 2);
    GMimeObject* attachment = g_mime_multipart_get_part(mixed, 1);
    GMimeContentType* type = g_mime_object_get_content_type(attachment);
    EXPECT_EQ(QByteArray(g_mime_content_type_get_mime_type(type)), c.mimeType);
    EXPECT_EQ(QByteArray(g_mime_object_get_content_type_parameter(attachment, "charset")), c.charset);
    EXPECT_EQ(Utf8(g_mime_object_get_content_type_parameter(attachment, "name")), c.fileName) << "the name stays";
    ASSERT_TRUE(AsPart(attachment));
    EXPECT_EQ(DecodedContent(AsPart(attachment)), c.content) << "the bytes go as they are";
    if (!c.charset.isEmpty() && c.charset != "UTF-16") {
        // What a reader shows is the text of the file.
        const QString shown = Convert(c.content, c.charset == "Shift_JIS" ? "CP932" : c.charset.constData());
        EXPECT_FALSE(shown.startsWith(u"<not "_s)) << shown.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, AttachmentCharset,
    ::testing::Values(
        AttachmentCharsetCase{"utf8", u"メモ.txt"_s, "\xe4\xbc\x9a\xe8\xad\xb0\xe3\x81\xae\xe3\x83\xa1\xe3\x83\xa2\r\n", "text/plain", "utf-8"},
        AttachmentCharsetCase{"utf8_with_bom", u"bom.txt"_s, "\xef\xbb\xbf" "abc\xe2\x91\xa0", "text/plain", "utf-8"},
        // "会議のメモ①" and half-width "ｶﾅ" in CP932: not UTF-8.
        AttachmentCharsetCase{"cp932", u"資料.txt"_s, "\x89\xef\x8b\x63\x82\xcc\x83\x81\x83\x82\x87\x40\xb6\xc5\r\n", "text/plain", "Shift_JIS"},
        AttachmentCharsetCase{"ascii", u"readme.txt"_s, "plain ASCII only\r\n", "text/plain", "us-ascii"},
        AttachmentCharsetCase{"empty", u"空.txt"_s, QByteArray(), "text/plain", "us-ascii"},
        AttachmentCharsetCase{"iso_2022_jp", u"jis.txt"_s, "\x1b$B2q5D\x1b(B\r\n", "text/plain", "ISO-2022-JP"},
        AttachmentCharsetCase{"utf16_with_bom", u"wide.txt"_s, QByteArray("\xff\xfe" "a\0b\0", 6), "text/plain", "UTF-16"},
        AttachmentCharsetCase{"csv_is_text_too", u"一覧.csv"_s, "\x96\xbc\x91\x4f,\x8f\x5a\x8f\x8a\r\n", "text/csv", "Shift_JIS"},
        // Neither UTF-8 nor CP932 (a lone lead byte at the end): no charset
        // rather than a wrong one.
        AttachmentCharsetCase{"unknown_bytes", u"壊れ.txt"_s, "abc\x80\xff\x82", "text/plain", ""},
        AttachmentCharsetCase{"binary_has_none", u"data.bin"_s, "\xe4\xbc\x9a", "application/octet-stream", ""}),
    CaseName);

struct UnreadableCase {
    const char* name;
    const char* entry;  // in a folder that holds "ok.txt" and the folder "フォルダ"
};

class UnreadableAttachment : public ::testing::TestWithParam<UnreadableCase> {};

TEST_P(UnreadableAttachment, FailsNamingTheFile) {
    test::TempFolder folder;
    folder.write(u"ok.txt"_s, "fine");
    ASSERT_TRUE(QDir(folder.path()).mkdir(u"フォルダ"_s));
    const QString bad = folder.path(QString::fromUtf8(GetParam().entry));
    OutgoingMessage message = Message(u"件名"_s, u"本文"_s);
    message.attachmentPaths = {folder.path(u"ok.txt"_s), bad};
    const Result<QByteArray> built = BuildMessage(message);
    ASSERT_FALSE(built.ok());
    EXPECT_TRUE(built.error().contains(bad)) << built.error().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Files, UnreadableAttachment,
                         ::testing::Values(UnreadableCase{"missing", "無い.txt"}, UnreadableCase{"folder", "フォルダ"}),
                         CaseName);

struct IdentityCase {
    const char* name;
    QString from;
    QDateTime date;
    QByteArray messageIdDomain;
};

class Identity : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(Identity, DatesTheMessageAndTakesTheIdDomainFromTheSender) {
    OutgoingMessage message = Message(u"件名"_s, u"本文"_s);
    message.from = GetParam().from;
    message.date = GetParam().date;
    GObjectPtr<GMimeMessage> parsed = Parse(Build(message));
    ASSERT_TRUE(parsed && g_mime_message_get_date(parsed.get()));
    GDateTime* date = g_mime_message_get_date(parsed.get());
    EXPECT_EQ(g_date_time_to_unix(date), GetParam().date.toSecsSinceEpoch());
    EXPECT_EQ(g_date_time_get_utc_offset(date) / G_TIME_SPAN_SECOND, GetParam().date.offsetFromUtc());
    const QByteArray id = g_mime_message_get_message_id(parsed.get());
    EXPECT_TRUE(id.endsWith('@' + GetParam().messageIdDomain)) << id.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Senders, Identity,
    ::testing::Values(
        IdentityCase{"named_sender_in_japan", u"自分 <me@mail.example.jp>"_s,
                     QDateTime(QDate(2024, 1, 2), QTime(10, 0, 5), QTimeZone(9 * 3600)), "mail.example.jp"},
        IdentityCase{"japanese_domain", u"me@例え.jp"_s, QDateTime(QDate(2023, 12, 31), QTime(23, 59, 59), QTimeZone::utc()),
                     "xn--r8jz45g.jp"},
        IdentityCase{"no_domain", u"me"_s, QDateTime(QDate(2024, 7, 1), QTime(0, 0), QTimeZone(-5 * 3600)), "localhost"}),
    CaseName);

struct AddressCase {
    const char* name;
    QString text, address;
};

class AddressOfText : public ::testing::TestWithParam<AddressCase> {};

TEST_P(AddressOfText, FindsTheAddress) { EXPECT_EQ(AddressOf(GetParam().text), GetParam().address); }

INSTANTIATE_TEST_SUITE_P(
    Texts, AddressOfText,
    ::testing::Values(AddressCase{"bare_with_blanks", u"  a@example.jp \t"_s, u"a@example.jp"_s},
                      AddressCase{"named", u"名前 < a@example.jp > "_s, u"a@example.jp"_s},
                      AddressCase{"angle_only", u"<a@example.jp>"_s, u"a@example.jp"_s},
                      AddressCase{"quoted_name_with_angle_and_comma", u"\"山田, <x@y>\" <a@example.jp>"_s, u"a@example.jp"_s},
                      AddressCase{"escaped_quote_in_name", u"\"a \\\" <b>\" <a@example.jp>"_s, u"a@example.jp"_s},
                      AddressCase{"comment_with_angle", u"山田 (<営業>) <a@example.jp>"_s, u"a@example.jp"_s},
                      AddressCase{"unclosed_bracket", u"名前 <a@example.jp"_s, u"a@example.jp"_s}),
    CaseName);

// The addresses of one header field, as a receiver reads them.
QStringList AddressesIn(GMimeMessage* message, GMimeAddressType type) {
    QStringList addresses;
    InternetAddressList* list = g_mime_message_get_addresses(message, type);
    for (int i = 0; i < internet_address_list_length(list); ++i) {
        InternetAddress* address = internet_address_list_get_address(list, i);
        const QString name = Utf8(internet_address_get_name(address));
        const QString addr = Utf8(internet_address_mailbox_get_addr(AsMailbox(address)));
        addresses.append(name.isEmpty() ? addr : name + u" <"_s + addr + u'>');
    }
    return addresses;
}

struct RecipientsCase {
    const char* name;
    QString to, cc, bcc, inReplyTo, references;
    QStringList headerTo, headerCc, envelope;
    QByteArray inReplyToField, referencesField;  // "" when the field must be missing
};

class Recipients : public ::testing::TestWithParam<RecipientsCase> {};

// Bcc never goes on the wire (the sent copy that keeps it is the send's
// test); a reply's ids go as the e2e test sends them.
TEST_P(Recipients, HeaderNamesToAndCcAndTheEnvelopeEveryone) {
    const RecipientsCase& c = GetParam();
    OutgoingMessage message = Message(u"件名"_s, u"本文"_s);
    message.to = c.to;
    message.cc = c.cc;
    message.bcc = c.bcc;
    message.inReplyTo = c.inReplyTo;
    message.references = c.references;
    const QByteArray wire = Build(message);
    const QByteArray header = wire.left(wire.indexOf("\r\n\r\n") + 2);
    GObjectPtr<GMimeMessage> parsed = Parse(wire);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(AddressesIn(parsed.get(), GMIME_ADDRESS_TYPE_TO), c.headerTo);
    EXPECT_EQ(AddressesIn(parsed.get(), GMIME_ADDRESS_TYPE_CC), c.headerCc);
    EXPECT_FALSE(header.contains("\nBcc:")) << header.toStdString();
    for (const Mailbox& hidden : ParseAddressList(c.bcc).value())
        EXPECT_FALSE(wire.contains(hidden.asciiAddress.toUtf8())) << hidden.asciiAddress.toStdString();
    EXPECT_FALSE(header.contains('\x80'));  // the header is ASCII: IDN in ACE, names encoded
    const Result<QStringList> envelope = EnvelopeRecipients(message);
    ASSERT_TRUE(envelope.ok());
    EXPECT_EQ(envelope.value(), c.envelope);
    const char* inReplyTo = g_mime_object_get_header(&parsed->parent_object, "In-Reply-To");
    const char* references = g_mime_object_get_header(&parsed->parent_object, "References");
    EXPECT_EQ(QByteArray(inReplyTo ? inReplyTo : ""), c.inReplyToField);
    EXPECT_EQ(QByteArray(references ? references : ""), c.referencesField);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, Recipients,
    ::testing::Values(
        RecipientsCase{"to_cc_bcc", u"a@example.jp, 山田 太郎 <b@example.jp>"_s, u"\"営業, 東京\" <c@example.jp>"_s,
                       u"鈴木 <d@example.jp>; hidden@example.jp"_s, {}, {},
                       {u"a@example.jp"_s, u"山田 太郎 <b@example.jp>"_s}, {u"営業, 東京 <c@example.jp>"_s},
                       {u"a@example.jp"_s, u"b@example.jp"_s, u"c@example.jp"_s, u"d@example.jp"_s, u"hidden@example.jp"_s},
                       "", ""},
        RecipientsCase{"idn_in_ace", u"太郎 <taro@例え.jp>"_s, u"hanako@例え.jp"_s, u"jiro@例え.jp"_s, {}, {},
                       {u"太郎 <taro@例え.jp>"_s}, {u"hanako@例え.jp"_s},
                       {u"taro@xn--r8jz45g.jp"_s, u"hanako@xn--r8jz45g.jp"_s, u"jiro@xn--r8jz45g.jp"_s}, "", ""},
        RecipientsCase{"one_address_in_two_fields_gets_one_copy", u"a@example.jp"_s, u"A@Example.jp"_s, {}, {}, {},
                       {u"a@example.jp"_s}, {u"A@example.jp"_s}, {u"a@example.jp"_s}, "", ""},
        // Whatever the text holds, only ids reach the header: no field of its own.
        RecipientsCase{"junk_in_the_ids", u"a@example.jp"_s, {}, {}, u"x\r\nBcc: evil@example.jp <i@x>"_s,
                       u"<r@x>\r\nBcc: evil@example.jp"_s, {u"a@example.jp"_s}, {}, {u"a@example.jp"_s}, "<i@x>", "<r@x>"}),
    CaseName);

struct ReplyCharsetCase {
    const char* name;
    QByteArray replyCharset;
    QString body;
    QByteArray charset;  // what the text goes in
};

class ReplyCharset : public ::testing::TestWithParam<ReplyCharsetCase> {};

// (A Shift_JIS reply that fits is the e2e test's.)
TEST_P(ReplyCharset, TakesTheAnsweredCharsetWhenTheTextFits) {
    OutgoingMessage message = Message(u"Re: 件名"_s, GetParam().body);
    message.replyCharset = GetParam().replyCharset;
    const Received received = Receive(Build(message));
    EXPECT_EQ(received.charset.toUpper(), GetParam().charset.toUpper());
    EXPECT_EQ(received.text, OnTheWire(GetParam().body));
}

INSTANTIATE_TEST_SUITE_P(
    Charsets, ReplyCharset,
    ::testing::Values(
        ReplyCharsetCase{"euc_jp_fits", "euc-jp", u"日本語の返事"_s, "EUC-JP"},
        ReplyCharsetCase{"utf8_even_where_jis_fits", "UTF-8", u"日本語の返事"_s, "UTF-8"},
        ReplyCharsetCase{"latin1_fits", "ISO-8859-1", u"Un café, merci."_s, "ISO-8859-1"},
        ReplyCharsetCase{"shift_jis_without_emoji", "Shift_JIS", u"了解です😀"_s, "UTF-8"},
        ReplyCharsetCase{"jis_without_circled_digit", "ISO-2022-JP", u"①の件"_s, "UTF-8"},
        ReplyCharsetCase{"latin1_without_japanese", "ISO-8859-1", u"日本語"_s, "ISO-2022-JP"},
        ReplyCharsetCase{"unknown_charset_keeps_todays_choice", "x-unknown", u"日本語"_s, "ISO-2022-JP"},
        ReplyCharsetCase{"utf16_is_no_text_of_ours", "UTF-16", u"日本語"_s, "ISO-2022-JP"}),
    CaseName);

}  // namespace
}  // namespace lumopet::mail
