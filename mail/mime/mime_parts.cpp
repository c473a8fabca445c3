// The rules by which the mail layer reads a message's MIME tree: its
// fields, names, types, content and the parts the mail check takes.

#include "mail/mime/mime_parts.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "mail/japanese_charsets.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

namespace lumopet::mail::mime {
namespace {

template <class T>
T* objectAs(GMimeObject* object, GType type) {
    if (!object || !g_type_check_instance_is_a(reinterpret_cast<GTypeInstance*>(object), type)) return nullptr;
    return reinterpret_cast<T*>(object);
}

struct DateTimeUnref {
    void operator()(GDateTime* date) const { g_date_time_unref(date); }
};

QByteArray unfolded(QByteArrayView value) {
    QByteArray bytes = value.toByteArray();
    bytes.replace('\r', QByteArray()).replace('\n', QByteArray());
    return bytes.trimmed();
}

bool isFieldName(QByteArrayView name) {
    if (name.isEmpty()) return false;
    return std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7F && c != ':'; });
}

// ---------------------------------------------------------------------------
// Parameters of Content-Type and Content-Disposition, read here rather than
// by GMime so that their charsets go through DecodeCharset.

struct Parameter {
    QByteArray name;   // lower case
    QByteArray value;  // unquoted, still encoded
};

bool isValidUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder(bytes);
    return !decoder.hasError();
}

bool isCp932LeadByte(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// RFC 2045 parameters after the "type/subtype" or disposition. Japanese
// mailers put raw Shift_JIS in quoted names, where the second byte of a
// character such as "表" (0x95 0x5C) is a backslash: in such a value a
// backslash after a lead byte is part of the character, not an escape.
std::vector<Parameter> readParameters(QByteArrayView value) {
    std::vector<Parameter> parameters;
    const bool rawShiftJis = !isValidUtf8(value);
    qsizetype pos = 0;
    const qsizetype size = value.size();
    const auto skipQuoted = [&](QByteArray* into) {
        ++pos;  // the opening quote
        while (pos < size && value[pos] != '"') {
            if (rawShiftJis && isCp932LeadByte(value[pos]) && pos + 1 < size) {
                if (into) into->append(value.sliced(pos, 2));
                pos += 2;
                continue;
            }
            if (value[pos] == '\\' && pos + 1 < size) ++pos;
            if (into) into->append(value[pos]);
            ++pos;
        }
        ++pos;  // the closing quote, when there is one
    };

    // The type itself.
    while (pos < size && value[pos] != ';') {
        if (value[pos] == '"')
            skipQuoted(nullptr);
        else
            ++pos;
    }
    while (pos < size) {
        ++pos;  // the ';'
        while (pos < size && isBlank(value[pos])) ++pos;
        const qsizetype nameStart = pos;
        while (pos < size && value[pos] != '=' && value[pos] != ';') ++pos;
        if (pos >= size || value[pos] == ';') continue;  // a name without a value
        Parameter parameter;
        parameter.name = value.sliced(nameStart, pos - nameStart).trimmed().toByteArray().toLower();
        ++pos;  // the '='
        while (pos < size && isBlank(value[pos])) ++pos;
        if (pos < size && value[pos] == '"') {
            skipQuoted(&parameter.value);
            while (pos < size && value[pos] != ';') ++pos;  // anything after the closing quote
        } else {
            const qsizetype valueStart = pos;
            while (pos < size && value[pos] != ';') ++pos;
            parameter.value = value.sliced(valueStart, pos - valueStart).trimmed().toByteArray();
        }
        if (!parameter.name.isEmpty()) parameters.push_back(std::move(parameter));
    }
    return parameters;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// RFC 2231 4: "%XX" is a byte; a broken "%" stays as it is.
QByteArray percentDecoded(QByteArrayView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            bytes += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

// The parameter's text: RFC 2231 (name*=, name*0*=, name*1=, ...) when the
// sender used it, else the plain value, in which Japanese mailers put
// RFC 2047 encoded-words or raw 8-bit text.
QString parameterText(const std::vector<Parameter>& parameters, QByteArrayView wanted) {
    const Parameter* plain = nullptr;
    struct Section {
        const Parameter* parameter;
        bool extended;
    };
    std::map<int, Section> sections;
    for (const Parameter& parameter : parameters) {
        if (parameter.name == wanted) {
            if (!plain) plain = &parameter;
            continue;
        }
        if (!parameter.name.startsWith(wanted) || parameter.name.size() <= wanted.size() ||
            parameter.name[wanted.size()] != '*')
            continue;
        QByteArray number = parameter.name.sliced(wanted.size() + 1);
        const bool extended = number.isEmpty() || number.endsWith('*');
        if (number.endsWith('*')) number.chop(1);
        bool ok = true;
        const int index = number.isEmpty() ? 0 : number.toInt(&ok);
        if (ok && index >= 0) sections.try_emplace(index, Section{&parameter, extended});
    }

    if (!sections.empty() && sections.begin()->first == 0) {
        QByteArray bytes;
        QByteArray charset;
        bool anyExtended = false;
        for (int index = 0; sections.count(index) != 0; ++index) {
            const Section& section = sections.at(index);
            QByteArray value = section.parameter->value;
            if (section.extended) {
                anyExtended = true;
                // RFC 2231 4: the first section starts "charset'language'".
                if (index == 0) {
                    const qsizetype first = value.indexOf('\'');
                    const qsizetype second = first < 0 ? -1 : value.indexOf('\'', first + 1);
                    if (second >= 0) {
                        charset = value.first(first);
                        value = value.sliced(second + 1);
                    }
                }
                bytes += percentDecoded(value);
            } else {
                bytes += value;
            }
        }
        // Without any extended section the sections are one plain value cut
        // in pieces, encoded-words and all.
        return anyExtended ? DecodeCharset(bytes, charset) : DecodeHeaderText(bytes);
    }
    if (plain) return DecodeHeaderText(plain->value);
    return {};
}

// "<meta charset=...>" or "<meta http-equiv content='text/html; charset=...'>"
// for HTML parts whose Content-Type names no charset.
QByteArray metaCharset(QByteArrayView html) {
    const QByteArray head = html.first(std::min<qsizetype>(html.size(), 4096)).toByteArray().toLower();
    qsizetype pos = head.indexOf("charset=");
    if (pos < 0) return {};
    pos += 8;
    while (pos < head.size() && (head[pos] == '"' || head[pos] == '\'' || isBlank(head[pos]))) ++pos;
    const qsizetype start = pos;
    while (pos < head.size() && (std::isalnum(static_cast<unsigned char>(head[pos])) || head[pos] == '-' ||
                                 head[pos] == '_' || head[pos] == '.' || head[pos] == ':'))
        ++pos;
    return head.sliced(start, pos - start);
}


// RFC 2045 5.1: token := 1*<any CHAR except SPACE, CTLs or tspecials>.
bool isTokenChar(char c) {
    return c > ' ' && c < 0x7F && !QByteArrayView("()<>@,;:\\\"/[]?=").contains(c);
}

// "type/subtype" at the start of a Content-Type value, as RFC 2045 writes
// it; whatever follows is GMime's to read.
bool startsWithMediaType(QByteArrayView value) {
    qsizetype pos = 0;
    const auto skipToken = [&] {
        const qsizetype start = pos;
        while (pos < value.size() && isTokenChar(value[pos])) ++pos;
        return pos > start;
    };
    if (!skipToken()) return false;
    if (pos >= value.size() || value[pos] != '/') return false;
    ++pos;
    return skipToken();
}

// ---------------------------------------------------------------------------
// Content labelled base64. RFC 2045 6.8: characters outside the alphabet
// are ignored, and "=" says the data has ended. Mail shows all sorts of
// damage (a stray "!" in a line, a list's footer after an unterminated
// multipart, old mailers' CR line ends), and also plain text that was only
// labelled base64. What is base64 is decoded, skipping what is not; the
// content is taken as it stands only when it clearly is not base64. The
// one rule for that is takenAsItStands().

// The value of each byte in the base64 alphabet, -1 for the others: an
// attachment of tens of megabytes goes through this byte by byte.
constexpr std::array<signed char, 256> kBase64Values = [] {
    std::array<signed char, 256> values{};
    values.fill(-1);
    constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < alphabet.size(); ++i) values[static_cast<unsigned char>(alphabet[i])] = static_cast<signed char>(i);
    return values;
}();

int base64Value(char c) { return kBase64Values[static_cast<unsigned char>(c)]; }
bool isBase64Char(char c) { return base64Value(c) >= 0; }

// The lines of the content that are not empty, without their line ends and
// outer blanks. Lines end in LF (with or without a CR before it), or, from a
// few old mailers, in CR alone: where there are LFs, a CR is no line end but
// one more character to skip.
class EncodedLines {
public:
    explicit EncodedLines(QByteArrayView content)
        : content_(content), separator_(content.contains('\n') ? '\n' : '\r') {}

    bool next(QByteArrayView& line) {
        while (position_ < content_.size()) {
            qsizetype end = content_.indexOf(separator_, position_);
            if (end < 0) end = content_.size();
            line = content_.sliced(position_, end - position_).trimmed();
            position_ = end + 1;
            if (!line.isEmpty()) return true;
        }
        return false;
    }
    // Whether no line with anything in it follows.
    bool atEnd() const {
        const QByteArrayView rest = content_.sliced(std::min(position_, content_.size()));
        return std::all_of(rest.begin(), rest.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
    }

private:
    QByteArrayView content_;
    char separator_;
    qsizetype position_ = 0;
};

struct EncodedLine {
    qsizetype characters = 0;  // of the alphabet
    qsizetype strays = 0;      // other characters, blanks and CRs aside
    bool padded = false;
    bool blankInside = false;

    // A line of words, of Japanese, or of a footer's address: more that is
    // not base64 than the stray character or two of a damaged line.
    bool isText() const { return blankInside || strays > 1 + characters / 32; }
};

EncodedLine readEncodedLine(QByteArrayView line) {
    EncodedLine read;
    for (const char c : line) {
        if (isBase64Char(c)) ++read.characters;
        else if (c == '=') read.padded = true;
        else if (c == ' ' || c == '\t') read.blankInside = true;
        else if (c != '\r') ++read.strays;
    }
    return read;
}

// What one pass over the lines found: where the data is, and how much of
// the content reads as base64 and how much as text.
struct EncodedShape {
    qsizetype dataBytes = 0;  // in the lines read as base64
    qsizetype textBytes = 0;  // in the lines of text before the data ended
    qsizetype dataLines = 0;
    // The data: from the start of its first line to the end of its last,
    // less the lines of text among them (seldom more than one or two).
    qsizetype dataBegin = 0;
    qsizetype dataEnd = 0;
    std::vector<std::pair<qsizetype, qsizetype>> textInside;
    // The whole content is one word of letters whose length no encoder
    // writes (one character over a multiple of four): "Hello".
    bool lonelyWord = false;
};

// Finds the lines of base64 data. The data ends with its padding, or with
// a line shorter than the first one (an encoder writes lines of one
// length, and only its last is shorter). Lines of text are skipped; after
// them only a line of the full length goes on with the data: anything else
// is what came after the data (the footer a list server put after a
// multipart whose end never came, whose last line, an address or a link,
// reads much like base64).
EncodedShape shapeOfEncoded(QByteArrayView content) {
    EncodedShape shape;
    EncodedLines lines(content);
    QByteArrayView line;
    qsizetype fullLength = 0;
    qsizetype textSinceData = 0;
    std::vector<std::pair<qsizetype, qsizetype>> textRun;
    qsizetype linesSeen = 0;
    EncodedLine first;
    while (lines.next(line)) {
        ++linesSeen;
        const qsizetype offset = line.data() - content.data();
        const EncodedLine read = readEncodedLine(line);
        if (read.isText()) {
            textSinceData += line.size();
            if (shape.dataLines > 0) textRun.emplace_back(offset, offset + line.size());
            continue;
        }
        if (shape.dataLines > 0 && textSinceData > 0 && read.characters < fullLength) break;
        shape.textBytes += std::exchange(textSinceData, 0);
        shape.textInside.insert(shape.textInside.end(), textRun.begin(), textRun.end());
        textRun.clear();
        if (shape.dataLines++ == 0) {
            fullLength = read.characters;
            first = read;
            shape.dataBegin = offset;
        }
        shape.dataEnd = offset + line.size();
        shape.dataBytes += line.size();
        if (read.padded || read.characters < fullLength) break;
    }
    shape.textBytes += textSinceData;
    shape.lonelyWord = linesSeen == 1 && lines.atEnd() && shape.dataLines == 1 && first.strays == 0 &&
                       !first.padded && first.characters % 4 == 1;
    return shape;
}

// Content labelled base64 that clearly is not: no line of it reads as
// base64, its lines of text (words with blanks between them, Japanese, the
// body of a message mislabelled by its mailer) outweigh those that do, or
// it is one word of an impossible length.
bool takenAsItStands(const EncodedShape& shape) {
    if (shape.dataLines == 0) return shape.textBytes > 0;
    return shape.lonelyWord || shape.textBytes > shape.dataBytes;
}

// The bytes of the data shapeOfEncoded found: every character of the
// alphabet, the others skipped, up to the padding. The last group may lack
// its padding: two or three characters still make one or two bytes; one
// alone makes none.
QByteArray base64Decoded(QByteArrayView content, const EncodedShape& shape) {
    QByteArray decoded((shape.dataEnd - shape.dataBegin) / 4 * 3 + 3, Qt::Uninitialized);
    char* out = decoded.data();
    quint32 group = 0;
    int count = 0;
    auto text = shape.textInside.begin();
    for (qsizetype i = shape.dataBegin; i < shape.dataEnd; ++i) {
        if (text != shape.textInside.end() && i == text->first) {
            i = (text++)->second - 1;
            continue;
        }
        const int value = base64Value(content[i]);
        if (value < 0) {
            // Padding after at least two characters ends the data.
            if (content[i] == '=' && count >= 2) break;
            continue;
        }
        group = (group << 6) | static_cast<quint32>(value);
        if (++count == 4) {
            *out++ = static_cast<char>((group >> 16) & 0xFF);
            *out++ = static_cast<char>((group >> 8) & 0xFF);
            *out++ = static_cast<char>(group & 0xFF);
            count = 0;
            group = 0;
        }
    }
    if (count == 2) *out++ = static_cast<char>((group >> 4) & 0xFF);
    if (count == 3) {
        *out++ = static_cast<char>((group >> 10) & 0xFF);
        *out++ = static_cast<char>((group >> 2) & 0xFF);
    }
    decoded.truncate(out - decoded.constData());
    return decoded;
}

// The decoded bytes, or the content as it stands when it is not base64.
QByteArray fromBase64OrAsItStands(QByteArray content) {
    const EncodedShape shape = shapeOfEncoded(content);
    if (takenAsItStands(shape)) return content;
    return base64Decoded(content, shape);
}

constexpr qsizetype kSliceBytes = 256 * 1024;

// An attachment of a message decoded from its file, written from there.
class FileContent : public StreamedContent {
public:
    explicit FileContent(GMimeObject* object) : object_(static_cast<GMimeObject*>(g_object_ref(object))) {}

    Status writeTo(int fd) const override {
        if (GMimeMessagePart* part = asMessagePart(object_.get())) return writeMessage(g_mime_message_part_get_message(part), fd);
        int error = 0;
        const Status read = forEachContentSlice(asPart(object_.get()), [&](QByteArrayView slice) {
            if (WriteAll(fd, slice)) return true;
            error = errno;
            return false;
        });
        if (error != 0) return Failure{SystemErrorText(error)};
        return read;
    }

private:
    // As it came, in the CR LF line ends an attached message is saved in.
    static Status writeMessage(GMimeMessage* message, int fd) {
        if (!message) return success();
        const GObjectPtr<GMimeStream> out(g_mime_stream_fs_new(fd));
        g_mime_stream_fs_set_owner(reinterpret_cast<GMimeStreamFs*>(out.get()), FALSE);
        const std::unique_ptr<GMimeFormatOptions, FormatOptionsFree> format(g_mime_format_options_new());
        g_mime_format_options_set_newline_format(format.get(), GMIME_NEWLINE_FORMAT_DOS);
        errno = 0;
        if (g_mime_object_write_to_stream(objectOf(message), format.get(), out.get()) < 0 || g_mime_stream_flush(out.get()) != 0)
            return Failure{SystemErrorText(errno != 0 ? errno : EIO)};
        return success();
    }

    GObjectPtr<GMimeObject> object_;
};

}  // namespace

GMimePart* asPart(GMimeObject* object) { return objectAs<GMimePart>(object, g_mime_part_get_type()); }
GMimeMultipart* asMultipart(GMimeObject* object) {
    return objectAs<GMimeMultipart>(object, g_mime_multipart_get_type());
}
GMimeMessagePart* asMessagePart(GMimeObject* object) {
    return objectAs<GMimeMessagePart>(object, g_mime_message_part_get_type());
}
GMimeMessagePartial* asPartial(GMimeObject* object) {
    return objectAs<GMimeMessagePartial>(object, g_mime_message_partial_get_type());
}

QByteArray bytesOf(GMimeStream* memoryStream) {
    GByteArray* array = g_mime_stream_mem_get_byte_array(reinterpret_cast<GMimeStreamMem*>(memoryStream));
    if (!array || array->len == 0) return {};
    return QByteArray(reinterpret_cast<const char*>(array->data), static_cast<qsizetype>(array->len));
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool sameName(QByteArrayView a, QByteArrayView b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

// ---------------------------------------------------------------------------
// The header block

HeaderBlock readHeaderBlock(QByteArrayView raw) {
    HeaderBlock block;
    qsizetype pos = 0;
    bool firstLine = true;
    while (pos < raw.size()) {
        const qsizetype newline = raw.indexOf('\n', pos);
        const qsizetype lineEnd = newline < 0 ? raw.size() : newline;
        const qsizetype next = newline < 0 ? raw.size() : newline + 1;
        QByteArrayView line = raw.sliced(pos, lineEnd - pos);
        if (line.endsWith('\r')) line.chop(1);

        if (line.isEmpty()) {
            block.bodyStart = next;
            block.endsWithBlankLine = !block.fields.empty();
            break;
        }
        if (firstLine && line.startsWith("From ")) {  // an mbox separator, as some servers keep it
            firstLine = false;
            pos = next;
            continue;
        }
        if (pos == 0 && isBlank(line[0])) {  // an indented first field, not a continuation
            while (block.firstLineIndent < line.size() && isBlank(line[block.firstLineIndent]))
                ++block.firstLineIndent;
            line = line.sliced(block.firstLineIndent);
            if (line.isEmpty()) break;
        }
        if (isBlank(line[0])) {
            if (block.fields.empty()) break;  // a continuation of nothing: this is no header block
            block.fields.back().value += ' ';
            block.fields.back().value += line.trimmed();
            block.fields.back().rawEnd = next;
        } else {
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0 || !isFieldName(line.first(colon).trimmed())) break;  // the body starts here
            block.fields.push_back({line.first(colon).trimmed().toByteArray(),
                                    line.sliced(colon + 1).trimmed().toByteArray(), pos, next});
        }
        firstLine = false;
        pos = next;
        block.bodyStart = pos;
    }
    if (block.fields.empty()) block = HeaderBlock{};
    return block;
}

QByteArray firstValue(const std::vector<HeaderField>& fields, QByteArrayView name) {
    for (const HeaderField& field : fields) {
        if (sameName(field.name, name)) return field.value;
    }
    return {};
}

QString formatDate(const QByteArray& value) {
    if (value.isEmpty()) return {};
    QByteArray text = value;
    // Old Japanese mailers name the zone "JST", which GMime reads as UTC.
    if (text.endsWith(" JST")) text = text.chopped(3) + "+0900";
    const std::unique_ptr<GDateTime, DateTimeUnref> date(g_mime_utils_header_decode_date(text.constData()));
    if (!date) return DecodeHeaderText(value);
    // The local time as localtime_r has it, which is what QDateTime asks
    // underneath; without QDateTime around it, a check of a thousand
    // messages spent a hundredth of a second less.
    const time_t seconds = static_cast<time_t>(g_date_time_to_unix(date.get()));
    tm local{};
    if (!localtime_r(&seconds, &local)) return DecodeHeaderText(value);
    return QString::asprintf("%04d/%02d/%02d  %d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                             local.tm_hour, local.tm_min, local.tm_sec);
}

QByteArray startOfFile(int fd, qsizetype bytes) {
    QByteArray start(bytes, Qt::Uninitialized);
    start.truncate(std::max<qint64>(0, ReadAt(fd, start.data(), bytes, 0)));
    return start;
}

// ---------------------------------------------------------------------------
// Fields of parts

QByteArray rawHeaderValue(GMimeObject* object, const char* name) {
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    GMimeHeader* header = list ? g_mime_header_list_get_header(list, name) : nullptr;
    const char* value = header ? g_mime_header_get_raw_value(header) : nullptr;
    return value ? unfolded(value) : QByteArray();
}

QString proposedFileName(GMimeObject* object) {
    QString name = parameterText(readParameters(rawHeaderValue(object, "Content-Disposition")), "filename");
    if (name.isEmpty()) name = parameterText(readParameters(rawHeaderValue(object, "Content-Type")), "name");
    return name;
}

QString attachmentFileName(GMimeObject* object) {
    QString name = proposedFileName(object);
    if (GMimeMessagePart* part = asMessagePart(object); part && name.isEmpty()) {
        GMimeMessage* message = g_mime_message_part_get_message(part);
        const QString subject = message ? DecodeHeaderText(rawHeaderValue(objectOf(message), "Subject")).trimmed() : QString();
        name = (subject.isEmpty() ? QStringLiteral("message") : subject) + QStringLiteral(".eml");
    }
    return name;
}

// RFC 2045 5.2: a Content-Type that cannot be read (a bare "text",
// "<html>") means text/plain. GMime does not read those as text, which
// would turn a message's text into a nameless file.
bool hasUnreadableContentType(GMimeObject* object) {
    const QByteArray value = rawHeaderValue(object, "Content-Type");
    return !value.isEmpty() && !startsWithMediaType(value);
}

bool isType(GMimeObject* object, const char* type, const char* subtype) {
    if (hasUnreadableContentType(object))
        return sameName(type, "text") && (sameName(subtype, "plain") || sameName(subtype, "*"));
    GMimeContentType* contentType = g_mime_object_get_content_type(object);
    return contentType && g_mime_content_type_is_type(contentType, type, subtype);
}

bool isDispositionAttachment(GMimeObject* object) {
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
    return disposition && g_mime_content_disposition_is_attachment(disposition);
}

bool hasFileName(GMimeObject* object) { return !proposedFileName(object).isEmpty(); }

// Plain text not marked as an attachment is shown, even when it carries a
// file name (a note or a log its sender put in as a file); an HTML part with
// a file name is a page sent as a file.
bool isBodyText(GMimeObject* object, const char* subtype) {
    if (!asPart(object) || asPartial(object) || !isType(object, "text", subtype) || isDispositionAttachment(object))
        return false;
    return isType(object, "text", "plain") || !hasFileName(object);
}

// ---------------------------------------------------------------------------
// Content

// The part's content with its transfer encoding (base64, quoted-printable,
// uuencode) undone; content that only claims to be base64 as it stands.
QByteArray contentBytes(GMimePart* part) {
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return {};
    GMimeStream* encoded = g_mime_data_wrapper_get_stream(content);
    if (encoded && g_mime_data_wrapper_get_encoding(content) == GMIME_CONTENT_ENCODING_BASE64) {
        const GObjectPtr<GMimeStream> copy(g_mime_stream_mem_new());
        g_mime_stream_reset(encoded);
        g_mime_stream_write_to_stream(encoded, copy.get());
        g_mime_stream_reset(encoded);
        return fromBase64OrAsItStands(bytesOf(copy.get()));
    }
    const GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
    g_mime_data_wrapper_write_to_stream(content, stream.get());
    return bytesOf(stream.get());
}

// The charset of a text part; for HTML that does not say it in its header,
// what its start says.
QByteArray charsetOf(GMimeObject* object, QByteArrayView start) {
    QByteArray charset = g_mime_object_get_content_type_parameter(object, "charset");
    // GMime reads no parameters from a type it could not read.
    if (charset.isEmpty() && hasUnreadableContentType(object))
        charset = parameterText(readParameters(rawHeaderValue(object, "Content-Type")), "charset").toLatin1();
    if (isType(object, "text", "html") && charset.isEmpty()) charset = metaCharset(start);
    return charset;
}

// Hands take each slice of the part's content in order, its transfer
// encoding undone by GMime's decoder, until take returns false. (Content
// in memory goes through the lenient decoder above; an attachment of a
// gigabyte gets the standard one.) Fails when the file cannot be read.
Status forEachContentSlice(GMimePart* part, const std::function<bool(QByteArrayView)>& take) {
    GMimeDataWrapper* content = part ? g_mime_part_get_content(part) : nullptr;
    GMimeStream* encoded = content ? g_mime_data_wrapper_get_stream(content) : nullptr;
    if (!encoded) return success();
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(content);
    std::vector<GObjectPtr<GMimeFilter>> filters;
    if (encoding == GMIME_CONTENT_ENCODING_BASE64 || encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE ||
        encoding == GMIME_CONTENT_ENCODING_UUENCODE)
        filters.emplace_back(g_mime_filter_basic_new(encoding, FALSE));
    // The file keeps LF line ends; lines that were lines on the wire come
    // out in the CR LF they came in, as from a message held in memory.
    if (encoding != GMIME_CONTENT_ENCODING_BASE64 && encoding != GMIME_CONTENT_ENCODING_UUENCODE)
        filters.emplace_back(g_mime_filter_unix2dos_new(FALSE));
    const auto filtered = [&filters](char* in, size_t length, bool last) {
        for (const auto& filter : filters) {
            char* out = nullptr;
            size_t outLength = 0, outPrespace = 0;
            if (last) g_mime_filter_complete(filter.get(), in, length, 0, &out, &outLength, &outPrespace);
            else g_mime_filter_filter(filter.get(), in, length, 0, &out, &outLength, &outPrespace);
            in = out;
            length = outLength;
        }
        return QByteArrayView(in, static_cast<qsizetype>(length));
    };
    std::vector<char> buffer(static_cast<size_t>(kSliceBytes));
    g_mime_stream_reset(encoded);
    bool goOn = true;
    ssize_t got = 0;
    while (goOn && (got = g_mime_stream_read(encoded, buffer.data(), buffer.size())) > 0)
        goOn = take(filtered(buffer.data(), static_cast<size_t>(got), false));
    // A window on a file ends with -1 rather than 0 once it is read to its
    // bound.
    if (got < 0 && !g_mime_stream_eos(encoded)) return Failure{QStringLiteral("受信したメールのファイルを読めません。")};
    if (goOn) take(filtered(buffer.data(), 0, true));
    g_mime_stream_reset(encoded);
    return success();
}

std::shared_ptr<const StreamedContent> streamedContent(GMimeObject* object) {
    return std::make_shared<FileContent>(object);
}

const char* textOfUnendedMultipart(GMimeObject* top) {
    GMimeMultipart* multipart = asMultipart(top);
    if (!multipart || g_mime_multipart_get_count(multipart) != 0) return nullptr;
    return g_mime_multipart_get_prologue(multipart);
}

// ---------------------------------------------------------------------------
// Parsing

GMimeObject* MimeTree::top() const { return message ? g_mime_message_get_mime_part(message.get()) : part.get(); }

MimeTree parseMimeTree(GMimeStream* stream, bool wholeMessage) {
    MimeTree tree;
    tree.options.reset(g_mime_parser_options_new());
    // Undeclared 8-bit text in headers: UTF-8 when it is, else Shift_JIS.
    const char* fallbackCharsets[] = {"UTF-8", "CP932", nullptr};
    g_mime_parser_options_set_fallback_charsets(tree.options.get(), fallbackCharsets);
    const GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    if (wholeMessage) tree.message.reset(g_mime_parser_construct_message(parser.get(), tree.options.get()));
    else tree.part.reset(g_mime_parser_construct_part(parser.get(), tree.options.get()));
    return tree;
}

// ---------------------------------------------------------------------------
// The body as the mail check takes it

void BodyWalk::walk(GMimeObject* top) {
    Path path;
    collect(top, 0, path, false);
}

void BodyWalk::collect(GMimeObject* object, int depth, Path& path, bool inRelated) {
    if (!object) return;
    if (depth > kMaxDepth) {
        tooDeep();
        return;
    }
    if (GMimeMultipart* multipart = asMultipart(object)) {
        const int count = g_mime_multipart_get_count(multipart);
        const int chosen = isType(object, "multipart", "alternative") ? bestAlternative(multipart, depth) : -1;
        const bool related = isType(object, "multipart", "related");
        for (int i = 0; i < count; ++i) {
            GMimeObject* child = g_mime_multipart_get_part(multipart, i);
            path.push_back(i);
            if (chosen < 0 || i == chosen) {
                collect(child, depth + 1, path, related);
            } else {
                alternativeLeftOut(child, path, depth + 1);
                collectExplicitAttachments(child, depth + 1, path, related);
            }
            path.pop_back();
        }
        return;
    }
    if (asMessagePart(object)) {
        attachment(object, path, inRelated);
        return;
    }
    GMimePart* part = asPart(object);
    if (!part) return;
    if (isBodyText(object, "plain") || isBodyText(object, "html")) {
        bodyText(object, part, path);
        // A named text is kept as the file it was sent as, too.
        if (hasFileName(object)) attachment(object, path, inRelated);
        return;
    }
    attachment(object, path, inRelated);
}

bool BodyWalk::yieldsText(GMimeObject* object, const char* subtype, int depth) {
    if (depth > kMaxDepth) return false;
    if (GMimeMultipart* multipart = asMultipart(object)) {
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
            if (yieldsText(g_mime_multipart_get_part(multipart, i), subtype, depth + 1)) return true;
        }
        return false;
    }
    return isBodyText(object, subtype);
}

// The alternative to read: the first that gives plain text, else the
// first that gives HTML; -1 (read them all) when none gives text.
int BodyWalk::bestAlternative(GMimeMultipart* multipart, int depth) {
    int best = -1;
    int bestScore = 0;
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
        GMimeObject* child = g_mime_multipart_get_part(multipart, i);
        const int score = yieldsText(child, "plain", depth + 1) ? 2 : yieldsText(child, "html", depth + 1) ? 1 : 0;
        if (score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    return best;
}

// The alternatives not read still hold the files their sender marked as
// attachments; the pictures of an HTML alternative are left out.
void BodyWalk::collectExplicitAttachments(GMimeObject* object, int depth, Path& path, bool inRelated) {
    if (!object) return;
    if (depth > kMaxDepth) {
        tooDeep();
        return;
    }
    if (GMimeMultipart* multipart = asMultipart(object)) {
        const bool related = isType(object, "multipart", "related");
        for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
            path.push_back(i);
            collectExplicitAttachments(g_mime_multipart_get_part(multipart, i), depth + 1, path, related);
            path.pop_back();
        }
    } else if (isDispositionAttachment(object)) {
        collect(object, depth, path, inRelated);
    }
}

}  // namespace lumopet::mail::mime
