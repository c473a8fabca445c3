#include "mail/message_builder.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "core/unique_fd.h"
#include "mail/gmime_handles.h"
#include "mail/reply_context.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <iconv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <optional>
#include <vector>

namespace lumopet::mail {
namespace {

constexpr char kMailer[] = "Lumopet 2.13";
// RFC 5322 2.1.1: "Each line of characters MUST be no more than 998
// characters ... excluding the CRLF."
constexpr qsizetype kMaxLineOctets = 998;
// RFC 2047 2: "An 'encoded-word' may not be more than 75 characters long"
// and 76 characters for each line of a header field holding one.
constexpr qsizetype kMaxEncodedWord = 75;
constexpr qsizetype kMaxEncodedLine = 76;

// GMime's cast macros are C casts; they are used here and nowhere else.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
GMimeObject* AsObject(gpointer object) { return GMIME_OBJECT(object); }
GMimeStreamMem* AsMemoryStream(GMimeStream* stream) { return GMIME_STREAM_MEM(stream); }
#pragma GCC diagnostic pop

struct FormatOptionsFree {
    void operator()(GMimeFormatOptions* options) const { g_mime_format_options_free(options); }
};

// glibc's "ISO-2022-JP" is the RFC 1468 set: ASCII, JIS X 0201 Roman and
// JIS X 0208. It refuses half-width katakana, the NEC and IBM extensions
// (①, ㈱, 髙) and the Windows forms of a few JIS characters (U+FF5E, U+FF0D,
// U+FFE2, U+2225 where JIS has U+301C, U+2212, U+00AC, U+2016): exactly the
// characters that would arrive wrong or not at all, so a failed conversion
// is our test for "this text cannot travel as ISO-2022-JP".
class Iso2022JpEncoder {
public:
    Iso2022JpEncoder() : handle_(iconv_open("ISO-2022-JP", "UTF-8")) {}
    ~Iso2022JpEncoder() {
        if (usable()) iconv_close(handle_);
    }
    Iso2022JpEncoder(const Iso2022JpEncoder&) = delete;
    Iso2022JpEncoder& operator=(const Iso2022JpEncoder&) = delete;

    // The text in ISO-2022-JP, starting and ending in ASCII mode; nothing
    // when a character is not in the set (or iconv lacks the charset).
    std::optional<QByteArray> encode(QStringView text) {
        if (!usable()) return std::nullopt;
        QByteArray input = text.toUtf8();
        // A character grows at most to an escape sequence and two bytes,
        // plus the escape back to ASCII at the end.
        QByteArray output(input.size() * 4 + 8, Qt::Uninitialized);
        char* in = input.data();
        size_t inLeft = static_cast<size_t>(input.size());
        char* out = output.data();
        size_t outLeft = static_cast<size_t>(output.size());
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(handle_, &in, &inLeft, &out, &outLeft) == failed) return std::nullopt;
        if (iconv(handle_, nullptr, nullptr, &out, &outLeft) == failed) return std::nullopt;
        output.truncate(out - output.data());
        return output;
    }

private:
    static constexpr size_t failed = static_cast<size_t>(-1);
    bool usable() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    iconv_t handle_;
};

// Header texts are one line: a line break or control character the user
// pasted in must not start a header of its own.
QString OneLine(const QString& text) {
    QString line = text;
    for (QChar& c : line)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) c = u' ';
    return line.trimmed();
}

bool IsAscii(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

qsizetype Base64Length(qsizetype bytes) { return (bytes + 2) / 3 * 4; }

qsizetype NextCharacterEnd(QStringView text, qsizetype index) {
    const bool pair = text[index].isHighSurrogate() && index + 1 < text.size() && text[index + 1].isLowSurrogate();
    return index + (pair ? 2 : 1);
}

// The Q form (RFC 2047 4.2) with nothing but letters and digits left
// literal, which is safe in a phrase as well as in unstructured text.
QByteArray QEncoded(const QByteArray& bytes) {
    QByteArray encoded;
    for (char c : bytes) {
        if (std::isalnum(static_cast<unsigned char>(c)) && static_cast<unsigned char>(c) < 0x80) encoded += c;
        else encoded += '=' + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0').toUpper();
    }
    return encoded;
}

// RFC 2047 encoded words for the text, each at most 75 characters, the
// first at most firstLimit, the others at most restLimit. ISO-2022-JP when
// the whole text fits it, else UTF-8. Words end between characters, never
// inside one, and each ISO-2022-JP word is converted on its own, so it
// starts and ends in ASCII mode as RFC 1468 and RFC 2047 require.
//
// Words are B-encoded and hold a multiple of three bytes where the text
// allows, so their base64 has no "=" padding: decoders that join a run of
// adjacent words of one charset before decoding them (GMime's among them)
// drop everything after a padded word that is not the last of its run.
// When no such cut exists (an emoji or an ASCII letter before a stretch of
// three-byte characters), the padded word is followed by a one-character
// Q-encoded word, which ends the run.
QList<QByteArray> EncodedWords(Iso2022JpEncoder& jis, const QString& text, qsizetype firstLimit,
                               qsizetype restLimit) {
    const bool useJis = jis.encode(text).has_value();
    const QByteArray charset = useJis ? "ISO-2022-JP" : "UTF-8";
    const QByteArray opening = "=?" + charset + "?B?";
    auto payload = [&](qsizetype start, qsizetype end) {
        const QStringView piece = QStringView(text).sliced(start, end - start);
        return useJis ? *jis.encode(piece) : piece.toUtf8();
    };

    QList<QByteArray> words;
    qsizetype start = 0;
    qsizetype limit = std::min(firstLimit, kMaxEncodedWord);
    bool endRun = false;
    while (start < text.size()) {
        if (endRun) {
            const qsizetype end = NextCharacterEnd(text, start);
            words.append("=?" + charset + "?Q?" + QEncoded(payload(start, end)) + "?=");
            start = end;
            endRun = false;
            continue;
        }
        qsizetype end = start;
        QByteArray bytes;
        qsizetype alignedEnd = start;
        QByteArray alignedBytes;
        while (end < text.size()) {
            const qsizetype next = NextCharacterEnd(text, end);
            QByteArray longer = payload(start, next);
            if (end > start && opening.size() + Base64Length(longer.size()) + 2 > limit) break;
            bytes = std::move(longer);
            end = next;
            if (bytes.size() % 3 == 0) {
                alignedEnd = end;
                alignedBytes = bytes;
            }
        }
        // A much shorter aligned word is not worth it: the Q word is cheaper.
        if (end < text.size() && alignedBytes.size() * 2 >= bytes.size() && alignedEnd > start) {
            end = alignedEnd;
            bytes = alignedBytes;
        }
        words.append(opening + bytes.toBase64() + "?=");
        endRun = bytes.size() % 3 != 0;
        start = end;
        limit = std::min(restLimit, kMaxEncodedWord);
    }
    return words;
}

// A header value as GMime writes a raw one: a blank after the colon, lines
// folded with "\n " (the writer makes that CR LF), a final "\n". Pieces are
// separated by one blank, or by a fold when the line would pass 76.
class FoldedValue {
public:
    explicit FoldedValue(const char* headerName) : column_(qstrlen(headerName) + 1) {}

    void add(const QByteArray& piece) {
        if (!value_.isEmpty() && !piece.isEmpty() && column_ + 1 + piece.size() > kMaxEncodedLine) {
            value_ += '\n';
            column_ = 0;
        }
        value_ += ' ' + piece;
        column_ += 1 + piece.size();
    }
    QByteArray text() const { return (value_.isEmpty() ? QByteArray(" ") : value_) + '\n'; }
    // Room for the next piece on the current line, after its blank.
    qsizetype room() const { return kMaxEncodedLine - column_ - 1; }

private:
    QByteArray value_;
    qsizetype column_;
};

// RFC 5322 3.2.3 atext, and the blank between words.
bool IsPlainPhrase(QStringView name) {
    static const QString kAtextSymbols = QStringLiteral("!#$%&'*+-/=?^_`{|}~ ");
    return std::all_of(name.begin(), name.end(),
                       [](QChar c) { return c.isLetterOrNumber() || kAtextSymbols.contains(c); });
}

QByteArray QuotedString(QStringView text) {
    QByteArray quoted = "\"";
    for (char c : text.toLatin1()) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

// Mailboxes as a raw header value: each with its display name, when it
// has one, plain, quoted or RFC 2047 encoded, then "<address>" in ASCII
// form; a "," after each but the last.
QByteArray MailboxListValue(Iso2022JpEncoder& jis, const char* headerName, const QList<Mailbox>& mailboxes) {
    FoldedValue value(headerName);
    for (qsizetype i = 0; i < mailboxes.size(); ++i) {
        const QString name = OneLine(mailboxes[i].name);
        const QByteArray address = OneLine(mailboxes[i].asciiAddress).toUtf8();
        const QByteArray separator = i + 1 < mailboxes.size() ? "," : "";
        if (name.isEmpty()) {
            value.add(address + separator);
            continue;
        }
        if (!IsAscii(name)) {
            for (const QByteArray& word : EncodedWords(jis, name, value.room(), kMaxEncodedWord)) value.add(word);
        } else {
            value.add(IsPlainPhrase(name) ? name.toLatin1() : QuotedString(name));
        }
        value.add('<' + address + '>' + separator);
    }
    return value.text();
}

QByteArray MessageIdsValue(const char* headerName, const QStringList& ids) {
    FoldedValue value(headerName);
    for (const QString& piece : ids) value.add(piece.toLatin1());
    return value.text();
}

// An ASCII subject goes as it is, folded at its blanks; anything else, and
// an ASCII text that would read as an encoded word or cannot be folded into
// lines of 998, goes as encoded words.
QByteArray SubjectValue(Iso2022JpEncoder& jis, const QString& subject) {
    FoldedValue value("Subject");
    const QString text = OneLine(subject);
    const QStringList words = text.split(u' ');
    const bool plain = IsAscii(text) && !text.contains(QStringLiteral("=?")) &&
                       std::all_of(words.begin(), words.end(), [](const QString& word) { return word.size() < 900; });
    if (plain) {
        for (const QString& word : words) value.add(word.toLatin1());
    } else {
        for (const QByteArray& word : EncodedWords(jis, text, value.room(), kMaxEncodedWord)) value.add(word);
    }
    return value.text();
}

// The body's lines without their ends; CR LF, LF and a lone CR each end one.
// The end of the last line is not a line of its own.
QStringList BodyLines(const QString& body) {
    QString text = body;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (text.isEmpty()) return {};
    if (text.endsWith(u'\n')) text.chop(1);
    return text.split(u'\n');
}

bool HasControlCharacter(QStringView line) {
    return std::any_of(line.begin(), line.end(),
                       [](QChar c) { return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F; });
}

struct EncodedText {
    QByteArray charset;
    GMimeContentEncoding transferEncoding;
    QByteArray bytes;  // lines end in CR LF
};

// The lines in ISO-2022-JP, each ended by CR LF: nothing when a line does
// not convert, holds a control character (an ESC of the user's would be
// read as a shift) or passes 998 octets.
std::optional<QByteArray> JisLines(Iso2022JpEncoder& jis, const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines) {
        const std::optional<QByteArray> encoded = HasControlCharacter(line) ? std::nullopt : jis.encode(line);
        if (!encoded || encoded->size() > kMaxLineOctets) return std::nullopt;
        bytes += *encoded + "\r\n";
    }
    return bytes;
}

// 8-bit text: quoted-printable when it is mostly ASCII, base64 when not (a
// third of the size of QP for Japanese).
EncodedText EightBitText(const QByteArray& charset, const QByteArray& bytes) {
    const auto nonAscii = std::count_if(bytes.begin(), bytes.end(), [](char c) { return c & 0x80; });
    const bool mostlyAscii = nonAscii * 6 <= bytes.size();
    return {charset, mostlyAscii ? GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE : GMIME_CONTENT_ENCODING_BASE64, bytes};
}

// The lines in an 8-bit charset iconv knows, each ended by CR LF; nothing
// when a character is not in it.
std::optional<QByteArray> IconvLines(const char* charset, const QStringList& lines) {
    const iconv_t handle = iconv_open(charset, "UTF-8");
    if (handle == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    constexpr size_t failed = static_cast<size_t>(-1);
    QByteArray bytes;
    bool fits = true;
    for (qsizetype i = 0; i < lines.size() && fits; ++i) {
        QByteArray input = lines[i].toUtf8();
        QByteArray output(input.size() * 2 + 8, Qt::Uninitialized);
        char* in = input.data();
        size_t inLeft = static_cast<size_t>(input.size());
        char* out = output.data();
        size_t outLeft = static_cast<size_t>(output.size());
        fits = iconv(handle, &in, &inLeft, &out, &outLeft) != failed;
        bytes += QByteArrayView(output.constData(), out - output.constData());
        bytes += "\r\n";
    }
    iconv_close(handle);
    return fits ? std::optional<QByteArray>(bytes) : std::nullopt;
}

// The body in the answered message's charset, when it is one we can write
// and the text fits it. Japanese mail names CP932 "Shift_JIS"; the charsets
// that are not ASCII with 8-bit additions (UTF-16, UTF-7, ...) are left out:
// our lines end in CR LF bytes.
std::optional<EncodedText> InReplyCharset(Iso2022JpEncoder& jis, const QStringList& lines, const QByteArray& charset) {
    const QByteArray name = charset.trimmed().toLower();
    if (name == "iso-2022-jp") {
        if (const auto bytes = JisLines(jis, lines)) return EncodedText{"ISO-2022-JP", GMIME_CONTENT_ENCODING_7BIT, *bytes};
        return std::nullopt;
    }
    if (name == "utf-8") {
        QByteArray bytes;
        for (const QString& line : lines) bytes += line.toUtf8() + "\r\n";
        return EightBitText("UTF-8", bytes);
    }
    static const QRegularExpression singleByte(QStringLiteral("^(iso-8859-([1-9]|1[0-6])|windows-125[0-8]|koi8-[ru])$"));
    struct Known {
        const char* label;
        const char* iconvName;
    };
    std::optional<Known> known;
    if (name == "shift_jis" || name == "shift-jis" || name == "x-sjis" || name == "sjis" || name == "cp932" ||
        name == "windows-31j" || name == "ms_kanji")
        known = Known{"Shift_JIS", "CP932"};
    else if (name == "euc-jp" || name == "x-euc-jp")
        known = Known{"EUC-JP", "EUC-JP"};
    else if (singleByte.match(QString::fromLatin1(name)).hasMatch())
        known = Known{name.constData(), name.constData()};
    if (!known) return std::nullopt;
    const std::optional<QByteArray> bytes = IconvLines(known->iconvName, lines);
    if (!bytes) return std::nullopt;
    return EightBitText(known->label, *bytes);
}

// In the reply charset when there is one and the text fits it; else
// ISO-2022-JP 7bit when the subject and every line fit it; else UTF-8.
EncodedText EncodeText(Iso2022JpEncoder& jis, const QString& subject, const QString& body,
                       const QByteArray& replyCharset) {
    const QStringList lines = BodyLines(body);
    if (!replyCharset.isEmpty())
        if (std::optional<EncodedText> reply = InReplyCharset(jis, lines, replyCharset)) return *reply;
    if (jis.encode(subject))
        if (const auto bytes = JisLines(jis, lines)) return {"ISO-2022-JP", GMIME_CONTENT_ENCODING_7BIT, *bytes};
    QByteArray bytes;
    for (const QString& line : lines) bytes += line.toUtf8() + "\r\n";
    return EightBitText("UTF-8", bytes);
}

// The part over its content: bytes in memory, or a stream GMime reads as
// it writes the message.
GObjectPtr<GMimePart> NewPart(const char* type, const char* subtype, GMimeStream* content,
                              GMimeContentEncoding transferEncoding) {
    GObjectPtr<GMimePart> part(g_mime_part_new_with_type(type, subtype));
    GObjectPtr<GMimeDataWrapper> wrapper(g_mime_data_wrapper_new_with_stream(content, GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part.get(), wrapper.get());
    g_mime_part_set_content_encoding(part.get(), transferEncoding);
    return part;
}

GObjectPtr<GMimePart> NewPart(const char* type, const char* subtype, const QByteArray& content,
                              GMimeContentEncoding transferEncoding) {
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(content.constData(), content.size()));
    return NewPart(type, subtype, stream.get(), transferEncoding);
}

void SetRawHeader(GMimeObject* object, const char* name, const QByteArray& rawValue) {
    GMimeHeader* header = g_mime_header_list_get_header(g_mime_object_get_header_list(object), name);
    if (header) g_mime_header_set_raw_value(header, rawValue.constData());
}

QByteArray GuessContentType(const QString& fileName) {
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    return type.isValid() && type.name().count(u'/') == 1 ? type.name().toLatin1() : "application/octet-stream";
}

bool IsValidUtf8(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char lead = *p++;
        if (lead < 0x80) continue;
        int trail = 0;
        unsigned char low = 0x80, high = 0xBF;  // the range of the first trail byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            if (lead == 0xE0) low = 0xA0;   // overlong
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            if (lead == 0xF0) low = 0x90;   // overlong
            if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
        } else {
            return false;
        }
        if (end - p < trail) return false;
        for (int i = 0; i < trail; ++i, ++p) {
            if (*p < low || *p > high) return false;
            low = 0x80;
            high = 0xBF;
        }
    }
    return true;
}

// Single bytes 00-7F and A1-DF (half-width katakana); a lead byte 81-9F or
// E0-FC and a trail byte 40-7E or 80-FC.
bool IsValidCp932(QByteArrayView bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = p + bytes.size();
    while (p < end) {
        const unsigned char byte = *p++;
        if (byte < 0x80 || (byte >= 0xA1 && byte <= 0xDF)) continue;
        if (!((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC)) || p == end) return false;
        const unsigned char trail = *p++;
        if (trail < 0x40 || trail == 0x7F || trail > 0xFC) return false;
    }
    return true;
}

// The charset a text file is written in, by the names mail readers know
// (RFC 2046 4.1.2: text without one is taken for US-ASCII, and 8-bit text
// then shows garbled). Japanese text files come from Windows as CP932 or,
// from newer editors, as UTF-8; CP932 goes by its registered name
// Shift_JIS, which the readers decode with the Windows extensions.
// Nothing for bytes that are none of these: no charset beats a wrong one.
QByteArray TextCharset(QByteArrayView bytes) {
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) return "UTF-16";  // RFC 2781 3.3
    const bool sevenBit = std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (sevenBit) {
        // ESC $ B or ESC $ @: JIS X 0208 in ISO-2022-JP, itself 7-bit.
        return bytes.indexOf("\x1B$B") >= 0 || bytes.indexOf("\x1B$@") >= 0 ? "ISO-2022-JP" : "us-ascii";
    }
    if (IsValidUtf8(bytes)) return "utf-8";
    if (IsValidCp932(bytes)) return "Shift_JIS";
    return {};
}

// An attachment read into memory, or for a large one its file, encoded as
// the message is written.
struct Attachment {
    QString path;
    QByteArray content;
    std::shared_ptr<UniqueFd> file;  // set for a large one; content is then empty
};

// The attachment part. The file name goes twice: filename* in
// Content-Disposition as RFC 2231 says, and name= in Content-Type RFC 2047
// encoded, the only one many Japanese mailers read.
GObjectPtr<GMimePart> AttachmentPart(Iso2022JpEncoder& jis, const Attachment& attachment) {
    const QString fileName = OneLine(QFileInfo(attachment.path).fileName());
    const QByteArray contentType = GuessContentType(fileName);
    const qsizetype slash = contentType.indexOf('/');
    const QByteArray type = contentType.left(slash), subtype = contentType.mid(slash + 1);
    GObjectPtr<GMimeStream> file(attachment.file ? g_mime_stream_fs_new_with_bounds(::dup(attachment.file->get()), 0, -1) : nullptr);
    GObjectPtr<GMimePart> part =
        file ? NewPart(type.constData(), subtype.constData(), file.get(), GMIME_CONTENT_ENCODING_BASE64)
             : NewPart(type.constData(), subtype.constData(), attachment.content, GMIME_CONTENT_ENCODING_BASE64);
    GMimeObject* object = AsObject(part.get());
    g_mime_object_set_disposition(object, GMIME_DISPOSITION_ATTACHMENT);
    g_mime_part_set_filename(part.get(), fileName.toUtf8().constData());

    QByteArray name;
    if (IsAscii(fileName)) {
        name = QuotedString(fileName);
    } else {
        // Inside the quotes: room for ` name="` before the first word and
        // the closing quote after the last.
        name = '"' + EncodedWords(jis, fileName, kMaxEncodedLine - 7, kMaxEncodedLine - 2).join("\n ") + '"';
    }
    QByteArray parameters;
    if (contentType.startsWith("text/"))
        // A large file is not read to tell its charset: none beats a wrong one.
        if (const QByteArray charset = attachment.file ? QByteArray() : TextCharset(attachment.content); !charset.isEmpty())
            parameters = " charset=" + charset + ';';
    SetRawHeader(object, "Content-Type", ' ' + contentType + ';' + parameters + "\n name=" + name + '\n');
    return part;
}

Failure UnreadableAttachment(const QString& path) {
    return Failure{QStringLiteral("添付ファイル「%1」を読み込めません。").arg(path)};
}

// The file, open for reading, when it is a regular file. O_NONBLOCK keeps a
// FIFO from holding the open until some writer comes; fstat then looks at
// what was opened, not at what the name may point to a moment later.
Result<std::shared_ptr<UniqueFd>> OpenRegularFile(const QString& path) {
    auto fd = std::make_shared<UniqueFd>(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat info {};
    if (!fd->ok() || ::fstat(fd->get(), &info) != 0 || !S_ISREG(info.st_mode)) return UnreadableAttachment(path);
    const int flags = ::fcntl(fd->get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd->get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return UnreadableAttachment(path);
    return fd;
}

// Large attachments stay in their files when streamed is set.
Result<std::vector<Attachment>> ReadAttachments(const QStringList& paths, bool streamed) {
    std::vector<Attachment> attachments;
    for (const QString& entry : paths) {
        const QString path = entry.trimmed();
        if (path.isEmpty()) continue;
        const auto opened = OpenRegularFile(path);
        if (!opened) return Failure{opened.error()};
        struct stat info {};
        if (streamed && ::fstat(opened.value()->get(), &info) == 0 && info.st_size > kStreamedAttachmentBytes) {
            attachments.push_back({path, {}, opened.value()});
            continue;
        }
        QFile file;
        QByteArray content;
        if (file.open(opened.value()->get(), QIODevice::ReadOnly, QFileDevice::DontCloseHandle)) content = file.readAll();
        if (!file.isOpen() || file.error() != QFileDevice::NoError) return UnreadableAttachment(path);
        attachments.push_back({path, std::move(content), nullptr});
    }
    return attachments;
}

bool HasLineBreakOrControl(QStringView text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

GDateTime* NewGDateTime(const QDateTime& date) {
    const QDateTime when = date.isValid() ? date : QDateTime::currentDateTime();
    GTimeZone* zone = g_time_zone_new_offset(when.offsetFromUtc());
    const QDate day = when.date();
    const QTime time = when.time();
    GDateTime* result =
        g_date_time_new(zone, day.year(), day.month(), day.day(), time.hour(), time.minute(), time.second());
    g_time_zone_unref(zone);
    return result;
}

// The From address's domain, in its ASCII form, for the Message-ID.
QByteArray MessageIdDomain(const QString& from) {
    const QString address = FirstMailbox(from).asciiAddress;
    const qsizetype at = address.lastIndexOf(u'@');
    const QByteArray domain = at < 0 ? QByteArray() : QUrl::toAce(address.mid(at + 1));
    return domain.isEmpty() ? QByteArray("localhost") : domain;
}

struct Recipients {
    QList<Mailbox> to, cc, bcc;
};

Result<Recipients> RecipientsOf(const OutgoingMessage& message) {
    Recipients recipients;
    const std::pair<const QString*, QList<Mailbox>*> boxes[] = {
        {&message.to, &recipients.to}, {&message.cc, &recipients.cc}, {&message.bcc, &recipients.bcc}};
    static const QString kLabels[] = {QStringLiteral("宛先"), QStringLiteral("CC"), QStringLiteral("BCC")};
    for (size_t i = 0; i < std::size(boxes); ++i) {
        Result<QList<Mailbox>> parsed = ParseAddressList(*boxes[i].first, kLabels[i]);
        if (!parsed) return Failure{parsed.error()};
        *boxes[i].second = parsed.value();
    }
    if (recipients.to.isEmpty()) return Failure{QStringLiteral("宛先のメールアドレスを入力してください。")};
    return recipients;
}

void AddMailboxes(GMimeMessage* message, GMimeAddressType type, const QList<Mailbox>& mailboxes) {
    for (const Mailbox& mailbox : mailboxes)
        g_mime_message_add_mailbox(message, type, mailbox.name.toUtf8().constData(),
                                   mailbox.asciiAddress.toUtf8().constData());
}

void SetHeaders(Iso2022JpEncoder& jis, GMimeMessage* message, const OutgoingMessage& outgoing,
                const Recipients& recipients) {
    GMimeObject* object = AsObject(message);
    const Mailbox from = FirstMailbox(outgoing.from);
    // The mailboxes and the subject are set in GMime's model too; the raw
    // values are what goes on the wire.
    AddMailboxes(message, GMIME_ADDRESS_TYPE_FROM, {from});
    AddMailboxes(message, GMIME_ADDRESS_TYPE_TO, recipients.to);
    AddMailboxes(message, GMIME_ADDRESS_TYPE_CC, recipients.cc);
    g_mime_message_set_subject(message, OneLine(outgoing.subject).toUtf8().constData(), nullptr);

    GDateTime* date = NewGDateTime(outgoing.date);
    g_mime_message_set_date(message, date);
    g_date_time_unref(date);
    GString_ id(g_mime_utils_generate_message_id(MessageIdDomain(outgoing.from).constData()));
    g_mime_message_set_message_id(message, id.get());
    // RFC 5322 3.6.4: the reply names the message it answers and the
    // thread it belongs to.
    // Only Message-IDs get there: nothing else of the text reaches the header.
    const QStringList inReplyTo = MessageIds(outgoing.inReplyTo);
    const QStringList references = MessageIds(outgoing.references);
    if (!inReplyTo.isEmpty()) g_mime_object_set_header(object, "In-Reply-To", "<>", nullptr);
    if (!references.isEmpty()) g_mime_object_set_header(object, "References", "<>", nullptr);
    g_mime_object_set_header(object, "MIME-Version", "1.0", nullptr);
    g_mime_object_set_header(object, "X-Mailer", kMailer, nullptr);

    SetRawHeader(object, "From", MailboxListValue(jis, "From", {from}));
    SetRawHeader(object, "To", MailboxListValue(jis, "To", recipients.to));
    if (!recipients.cc.isEmpty()) SetRawHeader(object, "Cc", MailboxListValue(jis, "Cc", recipients.cc));
    if (!inReplyTo.isEmpty()) SetRawHeader(object, "In-Reply-To", MessageIdsValue("In-Reply-To", {inReplyTo.first()}));
    if (!references.isEmpty()) SetRawHeader(object, "References", MessageIdsValue("References", references));
    SetRawHeader(object, "Subject", SubjectValue(jis, outgoing.subject));
}

// Writes the message into stream with the line ends given; false when the
// stream fails.
bool WriteTo(GMimeObject* object, GMimeStream* stream, GMimeNewLineFormat lineEnds) {
    std::unique_ptr<GMimeFormatOptions, FormatOptionsFree> options(g_mime_format_options_new());
    g_mime_format_options_set_newline_format(options.get(), lineEnds);
    g_mime_format_options_set_param_encoding_method(options.get(), GMIME_PARAM_ENCODING_METHOD_RFC2231);
    return g_mime_object_write_to_stream(object, options.get(), stream) >= 0 && g_mime_stream_flush(stream) == 0;
}

QByteArray Written(GMimeObject* object) {
    GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    WriteTo(object, stream.get(), GMIME_NEWLINE_FORMAT_DOS);
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(AsMemoryStream(stream.get()));
    return QByteArray(reinterpret_cast<const char*>(bytes->data), static_cast<qsizetype>(bytes->len));
}

bool HasOverlongLine(const QByteArray& message) {
    qsizetype start = 0;
    while (start < message.size()) {
        qsizetype end = message.indexOf("\r\n", start);
        if (end < 0) end = message.size();
        if (end - start > kMaxLineOctets) return true;
        start = end + 2;
    }
    return false;
}

// Of a message written with LF line ends into fd: its size with CR LF, or
// nothing when a line is over the limit or the file cannot be read.
std::optional<qint64> WireSize(int fd) {
    std::vector<char> buffer(1 << 20);
    qint64 size = 0, line = 0;
    for (qint64 offset = 0;;) {
        const qint64 got = ReadAt(fd, buffer.data(), static_cast<qint64>(buffer.size()), offset);
        if (got < 0) return std::nullopt;
        if (got == 0) return size;
        offset += got;
        for (qint64 i = 0; i < got; ++i) {
            if (buffer[static_cast<size_t>(i)] != '\n') {
                if (++line > kMaxLineOctets) return std::nullopt;
                continue;
            }
            line = 0;
            ++size;  // its CR
        }
        size += got;
    }
}

}  // namespace

Status CheckRecipient(const QString& text) {
    const Result<QList<Mailbox>> parsed = ParseAddressList(text, QStringLiteral("宛先"));
    if (!parsed) return Failure{parsed.error()};
    if (parsed.value().isEmpty()) return Failure{QStringLiteral("宛先のメールアドレスを入力してください。")};
    return success();
}

QStringList AttachmentPaths(const QString& list) {
    QStringList paths;
    for (const QString& entry : list.split(u','))
        if (!entry.trimmed().isEmpty()) paths.append(entry.trimmed());
    return paths;
}

Status CheckAttachments(const QStringList& paths) {
    for (const QString& path : paths) {
        if (path.trimmed().isEmpty()) continue;
        const auto opened = OpenRegularFile(path.trimmed());
        if (!opened) return Failure{opened.error()};
    }
    return success();
}

namespace {

const QString kOverlongLineText =
    QStringLiteral("メールに 998 バイトを超える行があるため、送信できません。宛先と差出人を確かめてください。");

// The message as GMime's model, ready to be written; large attachments
// stay in their files when streamed is set.
Result<GObjectPtr<GMimeMessage>> MimeMessage(const OutgoingMessage& message, bool streamed) {
    // The caller has checked these already; whatever it missed, the user's
    // text never becomes a header line or an SMTP command of its own.
    const Result<Recipients> recipients = RecipientsOf(message);
    if (!recipients) return Failure{recipients.error()};
    if (HasLineBreakOrControl(message.from))
        return Failure{QStringLiteral("差出人のメールアドレスに改行が含まれているため、送信できません。設定を確かめてください。")};

    Result<std::vector<Attachment>> attachments = ReadAttachments(message.attachmentPaths, streamed);
    if (!attachments) return Failure{attachments.error()};

    Iso2022JpEncoder jis;
    GObjectPtr<GMimeMessage> mime(g_mime_message_new(FALSE));
    SetHeaders(jis, mime.get(), message, recipients.value());

    const EncodedText text = EncodeText(jis, message.subject, message.body, message.replyCharset);
    GObjectPtr<GMimePart> textPart = NewPart("text", "plain", text.bytes, text.transferEncoding);
    g_mime_object_set_content_type_parameter(AsObject(textPart.get()), "charset", text.charset.constData());

    if (attachments.value().empty()) {
        g_mime_message_set_mime_part(mime.get(), AsObject(textPart.get()));
    } else {
        GObjectPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.get(), AsObject(textPart.get()));
        for (const Attachment& attachment : attachments.value())
            g_mime_multipart_add(mixed.get(), AsObject(AttachmentPart(jis, attachment).get()));
        g_mime_message_set_mime_part(mime.get(), AsObject(mixed.get()));
    }
    return mime;
}

}  // namespace

Result<QStringList> EnvelopeRecipients(const OutgoingMessage& message) {
    const Result<Recipients> recipients = RecipientsOf(message);
    if (!recipients) return Failure{recipients.error()};
    QStringList addresses;
    for (const QList<Mailbox>* list : {&recipients.value().to, &recipients.value().cc, &recipients.value().bcc})
        for (const Mailbox& mailbox : *list)
            if (!addresses.contains(mailbox.asciiAddress, Qt::CaseInsensitive)) addresses.append(mailbox.asciiAddress);
    return addresses;
}

QByteArray SentCopyHeader(const OutgoingMessage& message) {
    const Result<QList<Mailbox>> bcc = ParseAddressList(message.bcc);
    if (!bcc || bcc.value().isEmpty()) return QByteArray();
    Iso2022JpEncoder jis;
    return "Bcc:" + MailboxListValue(jis, "Bcc", bcc.value()).replace('\n', "\r\n");
}

Result<QByteArray> BuildMessage(const OutgoingMessage& message) {
    const Result<GObjectPtr<GMimeMessage>> mime = MimeMessage(message, false);
    if (!mime) return Failure{mime.error()};
    QByteArray bytes = Written(AsObject(mime.value().get()));
    // Only an address of hundreds of characters without a blank gets here.
    if (HasOverlongLine(bytes)) return Failure{kOverlongLineText};
    return bytes;
}

bool HasLargeAttachment(const QStringList& paths) {
    return std::any_of(paths.begin(), paths.end(), [](const QString& path) {
        return QFileInfo(path.trimmed()).size() > kStreamedAttachmentBytes;
    });
}

Result<qint64> BuildMessageFile(const OutgoingMessage& message, int fd) {
    const Result<GObjectPtr<GMimeMessage>> mime = MimeMessage(message, true);
    if (!mime) return Failure{mime.error()};
    GObjectPtr<GMimeStream> out(g_mime_stream_fs_new_with_bounds(::dup(fd), 0, -1));
    errno = 0;
    if (!WriteTo(AsObject(mime.value().get()), out.get(), GMIME_NEWLINE_FORMAT_UNIX))
        return Failure{QStringLiteral("送信するメールを書き込めません。\n") + SystemErrorText(errno != 0 ? errno : EIO)};
    const std::optional<qint64> size = WireSize(fd);
    if (!size) return Failure{kOverlongLineText};
    return *size;
}

}  // namespace lumopet::mail
