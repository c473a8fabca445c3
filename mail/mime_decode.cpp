// Received mail into DecodedMessage. GMime finds the MIME structure and
// undoes the transfer encodings; every text (headers, parameters, bodies)
// goes through DecodeCharset, because GMime converts with glibc's iconv,
// which drops the Windows characters Japanese mail is full of.

#include "mail/decoded_message.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "core/text_helpers.h"
#include "mail/gmime_handles.h"
#include "mail/japanese_charsets.h"

#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

namespace lumopet::mail {
namespace {

// Nested multiparts and message/partial wrappers deeper than this are not
// read: no real mail comes near it, and a crafted one must not exhaust the
// stack.
constexpr int kMaxDepth = 32;

// ---------------------------------------------------------------------------
// GMime's own cast macros are C casts; these checked casts stand in for them.

template <class T>
T* objectAs(GMimeObject* object, GType type) {
    if (!object || !g_type_check_instance_is_a(reinterpret_cast<GTypeInstance*>(object), type)) return nullptr;
    return reinterpret_cast<T*>(object);
}

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
// Upcasts: every GMime type starts with its parent.
GMimeObject* objectOf(GMimeMessage* message) { return reinterpret_cast<GMimeObject*>(message); }
GMimeObject* objectOf(GMimePart* part) { return reinterpret_cast<GMimeObject*>(part); }

struct ParserOptionsFree {
    void operator()(GMimeParserOptions* options) const { g_mime_parser_options_free(options); }
};
struct FormatOptionsFree {
    void operator()(GMimeFormatOptions* options) const { g_mime_format_options_free(options); }
};
struct DateTimeUnref {
    void operator()(GDateTime* date) const { g_date_time_unref(date); }
};

// The bytes written so far into a stream made by g_mime_stream_mem_new().
QByteArray bytesOf(GMimeStream* memoryStream) {
    GByteArray* array = g_mime_stream_mem_get_byte_array(reinterpret_cast<GMimeStreamMem*>(memoryStream));
    if (!array || array->len == 0) return {};
    return QByteArray(reinterpret_cast<const char*>(array->data), static_cast<qsizetype>(array->len));
}

// ---------------------------------------------------------------------------
// Small text helpers

bool isBlank(char c) { return c == ' ' || c == '\t'; }

QByteArray unfolded(QByteArrayView value) {
    QByteArray bytes = value.toByteArray();
    bytes.replace('\r', QByteArray()).replace('\n', QByteArray());
    return bytes.trimmed();
}

bool sameName(QByteArrayView a, QByteArrayView b) { return a.compare(b, Qt::CaseInsensitive) == 0; }


// ---------------------------------------------------------------------------
// The header block, read from the bytes themselves: GMime files the
// Content-* fields under the body part, and the block is wanted whole and in
// order. A message/partial needs the fields of two blocks merged, too.

struct HeaderField {
    QByteArray name;
    QByteArray value;  // unfolded, raw bytes
    // Where the field stands in the bytes read, its continuation lines and
    // line end included.
    qsizetype rawStart = 0;
    qsizetype rawEnd = 0;
};

struct HeaderBlock {
    std::vector<HeaderField> fields;
    qsizetype bodyStart = 0;
    // Blanks before the first field, which some mailers write.
    qsizetype firstLineIndent = 0;
    // False when the body starts right after the last field, without the
    // blank line between them.
    bool endsWithBlankLine = false;
};

bool isFieldName(QByteArrayView name) {
    if (name.isEmpty()) return false;
    return std::all_of(name.begin(), name.end(), [](char c) { return c > ' ' && c < 0x7F && c != ':'; });
}

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

// The message as GMime must see it to find the fields and the body that
// readHeaderBlock found: the first field without its indent, and a blank
// line where the body starts right after the fields. Nothing when the
// message needs no mending.
std::optional<QByteArray> withMendedHeaderBlock(QByteArrayView raw, const HeaderBlock& block) {
    const bool bodyWithoutBlankLine = !block.fields.empty() && !block.endsWithBlankLine && block.bodyStart < raw.size();
    if (block.firstLineIndent == 0 && !bodyWithoutBlankLine) return std::nullopt;
    QByteArray mended;
    mended.reserve(raw.size() + 2);
    mended += raw.sliced(block.firstLineIndent, block.bodyStart - block.firstLineIndent);
    if (bodyWithoutBlankLine) mended += mended.endsWith("\r\n") ? "\r\n" : "\n";
    mended += raw.sliced(block.bodyStart);
    return mended;
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

void fillHeaderFields(DecodedMessage& message, const std::vector<HeaderField>& fields) {
    message.subject = DecodeHeaderText(firstValue(fields, "Subject")).trimmed();
    message.from = DecodeHeaderText(firstValue(fields, "From")).trimmed();
    message.date = formatDate(firstValue(fields, "Date"));
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(fields.size()));
    for (const HeaderField& field : fields)
        lines += QString::fromLatin1(field.name) + QStringLiteral(": ") + DecodeHeaderText(field.value);
    message.headerText = lines.join(u"\r\n");
}

// RFC 2046 5.2.2.1: the reassembled message takes the enclosing message's
// fields, except Content-*, Subject, Message-ID, Encrypted and MIME-Version,
// which come from the enclosed one.
bool comesFromEnclosedMessage(const QByteArray& name) {
    return name.toLower().startsWith("content-") || sameName(name, "Subject") || sameName(name, "Message-ID") ||
           sameName(name, "Encrypted") || sameName(name, "MIME-Version");
}

std::vector<HeaderField> mergedPartialHeaders(const std::vector<HeaderField>& enclosing,
                                              const std::vector<HeaderField>& enclosed) {
    std::vector<HeaderField> merged;
    for (const HeaderField& field : enclosing) {
        if (!comesFromEnclosedMessage(field.name)) merged.push_back(field);
    }
    for (const HeaderField& field : enclosed) {
        if (comesFromEnclosedMessage(field.name)) merged.push_back(field);
    }
    return merged;
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

// ---------------------------------------------------------------------------
// HTML to readable text

struct NamedEntity {
    std::u16string_view name;
    char16_t character;
};

// The named entities mail actually uses; any other stays as written.
constexpr std::array<NamedEntity, 27> kNamedEntities = {{
    {u"amp", u'&'},   {u"lt", u'<'},     {u"gt", u'>'},    {u"quot", u'"'},   {u"apos", u'\''},  {u"nbsp", u' '},
    {u"copy", u'©'},  {u"reg", u'®'},    {u"trade", u'™'}, {u"yen", u'¥'},    {u"hellip", u'…'}, {u"mdash", u'—'},
    {u"ndash", u'–'}, {u"laquo", u'«'},  {u"raquo", u'»'}, {u"middot", u'·'}, {u"times", u'×'},  {u"divide", u'÷'},
    {u"bull", u'•'},  {u"lsquo", u'‘'},  {u"rsquo", u'’'}, {u"ldquo", u'“'},  {u"rdquo", u'”'},  {u"euro", u'€'},
    {u"deg", u'°'},   {u"plusmn", u'±'}, {u"ensp", u' '},
}};

struct Entity {
    QString text;
    qsizetype length = 0;
};

// "&name;", "&#NNNN;" or "&#xHHHH;" at pos (the ';' may be missing after a
// number, as browsers allow).
std::optional<Entity> readEntity(QStringView html, qsizetype pos) {
    qsizetype end = pos + 1;
    if (end < html.size() && html[end] == u'#') {
        ++end;
        const bool hex = end < html.size() && (html[end] == u'x' || html[end] == u'X');
        if (hex) ++end;
        const qsizetype digitsStart = end;
        while (end < html.size() && end - digitsStart < 8 &&
               (hex ? html[end].unicode() < 0x80 && std::isxdigit(html[end].unicode())
                    : html[end] >= u'0' && html[end] <= u'9'))
            ++end;
        if (end == digitsStart) return std::nullopt;
        bool ok = false;
        char32_t code = html.sliced(digitsStart, end - digitsStart).toUInt(&ok, hex ? 16 : 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
        if (end < html.size() && html[end] == u';') ++end;
        return Entity{QString::fromUcs4(&code, 1), end - pos};
    }
    while (end < html.size() && end - pos <= 8 && html[end].isLetterOrNumber()) ++end;
    if (end >= html.size() || html[end] != u';') return std::nullopt;
    const QStringView name = html.sliced(pos + 1, end - pos - 1);
    for (const NamedEntity& entity : kNamedEntities) {
        if (name == QStringView(entity.name.data(), static_cast<qsizetype>(entity.name.size())))
            return Entity{QString(QChar(entity.character)), end + 1 - pos};
    }
    return std::nullopt;
}

struct Tag {
    QString name;  // lower case; empty for comments and declarations
    bool closing = false;
    qsizetype end = 0;  // just past the '>'
};

// The tag starting at '<' at pos; nothing when the '<' starts no tag ("a < b").
std::optional<Tag> readTag(QStringView html, qsizetype pos) {
    Tag tag;
    qsizetype i = pos + 1;
    if (html.sliced(pos).startsWith(u"<!--")) {
        const qsizetype close = html.indexOf(u"-->", pos + 4);
        tag.end = close < 0 ? html.size() : close + 3;
        return tag;
    }
    if (i < html.size() && (html[i] == u'!' || html[i] == u'?')) {  // <!DOCTYPE ...>, <?xml ...?>
        const qsizetype close = html.indexOf(u'>', i);
        tag.end = close < 0 ? html.size() : close + 1;
        return tag;
    }
    if (i < html.size() && html[i] == u'/') {
        tag.closing = true;
        ++i;
    }
    const qsizetype nameStart = i;
    while (i < html.size() && html[i].unicode() < 0x80 && html[i].isLetterOrNumber()) ++i;
    if (i == nameStart || !html[nameStart].isLetter()) return std::nullopt;
    tag.name = html.sliced(nameStart, i - nameStart).toString().toLower();
    // The '>' that ends the tag, past quoted attribute values; an unclosed
    // quote falls back to the first '>'.
    qsizetype close = -1;
    for (qsizetype j = i; j < html.size(); ++j) {
        if (html[j] == u'"' || html[j] == u'\'') {
            const qsizetype quoteEnd = html.indexOf(html[j], j + 1);
            if (quoteEnd < 0) break;
            j = quoteEnd;
        } else if (html[j] == u'>') {
            close = j;
            break;
        }
    }
    if (close < 0) close = html.indexOf(u'>', i);
    tag.end = close < 0 ? html.size() : close + 1;
    return tag;
}

bool isBlockTag(const QString& name) {
    static constexpr std::array<std::u16string_view, 26> kBlocks = {
        u"p",  u"div",     u"tr",      u"li",      u"ul",     u"ol",     u"table",      u"h1",    u"h2",
        u"h3", u"h4",      u"h5",      u"h6",      u"hr",     u"pre",    u"blockquote", u"dd",    u"dt",
        u"dl", u"address", u"section", u"article", u"header", u"footer", u"form",       u"center"};
    return std::any_of(kBlocks.begin(), kBlocks.end(), [&](std::u16string_view block) {
        return QStringView(name) == QStringView(block.data(), static_cast<qsizetype>(block.size()));
    });
}

// What a reader sees of the HTML: no markup, no script or style, entities
// decoded, blanks collapsed as a browser does, <br> and the ends of
// paragraphs, rows and other blocks as line breaks.
QString htmlToText(QStringView html) {
    QString out;
    bool pendingBlank = false;
    int preformatted = 0;
    const auto atLineStart = [&] { return out.isEmpty() || out.endsWith(u'\n'); };
    const auto breakLine = [&] {
        out += u'\n';
        pendingBlank = false;
    };
    const auto endLine = [&] {
        if (!atLineStart()) out += u'\n';
        pendingBlank = false;
    };
    const auto append = [&](QStringView text) {
        if (pendingBlank && !atLineStart()) out += u' ';
        pendingBlank = false;
        out += text;
    };

    qsizetype pos = 0;
    while (pos < html.size()) {
        const QChar c = html[pos];
        if (c == u'<') {
            const auto tag = readTag(html, pos);
            if (!tag) {
                append(u"<");
                ++pos;
                continue;
            }
            pos = tag->end;
            const QString& name = tag->name;
            if (!tag->closing && (name == u"script" || name == u"style" || name == u"title")) {
                const qsizetype close = html.indexOf(QStringLiteral("</") + name, pos, Qt::CaseInsensitive);
                const qsizetype closeEnd = close < 0 ? -1 : html.indexOf(u'>', close);
                pos = closeEnd < 0 ? html.size() : closeEnd + 1;
            } else if (name == u"br") {
                breakLine();
            } else if (name == u"pre") {
                endLine();
                preformatted = std::max(0, preformatted + (tag->closing ? -1 : 1));
            } else if (isBlockTag(name)) {
                endLine();
            } else if ((name == u"td" || name == u"th") && !tag->closing) {
                pendingBlank = true;
            }
            continue;
        }
        if (c == u'&') {
            if (const auto entity = readEntity(html, pos)) {
                append(entity->text);
                pos += entity->length;
                continue;
            }
        }
        if (preformatted > 0) {
            if (c == u'\n')
                breakLine();
            else if (c != u'\r')
                append(QStringView(&c, 1));
        } else if (c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\f') {
            pendingBlank = true;
        } else {
            append(QStringView(&c, 1));
        }
        ++pos;
    }

    QStringList lines = out.split(u'\n');
    for (QString& line : lines) {
        while (line.endsWith(u' ')) line.chop(1);
    }
    while (!lines.isEmpty() && lines.first().isEmpty()) lines.removeFirst();
    while (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines.join(u'\n');
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

// ---------------------------------------------------------------------------
// Parts

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

QString readableText(GMimeObject* object, QByteArrayView bytes, QByteArrayView charset) {
    const QString text = DecodeCharset(bytes, charset);
    return WithCrLf(isType(object, "text", "html") ? htmlToText(text) : text);
}

QString partText(GMimePart* part) {
    GMimeObject* object = objectOf(part);
    const QByteArray bytes = contentBytes(part);
    return readableText(object, bytes, charsetOf(object, bytes));
}

// ---------------------------------------------------------------------------
// Parts of a message decoded from its file: read in slices, never whole.

constexpr qsizetype kSliceBytes = 256 * 1024;
// What a text too long to hold keeps of its end: the sender's tag and
// signature.
constexpr qsizetype kHeldTailBytes = 64 * 1024;

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

// The start and the end of a text part, whole lines each; cut says that
// what lies between them was left out.
struct HeldText {
    QByteArray start;
    QByteArray end;
    bool cut = false;
};

HeldText heldText(GMimePart* part) {
    HeldText held;
    forEachContentSlice(part, [&held](QByteArrayView slice) {
        if (!held.cut) {
            const qsizetype room = kHeldTextBytes - held.start.size();
            held.start += slice.first(std::min(room, slice.size()));
            if (slice.size() <= room) return true;
            slice = slice.sliced(room);
            held.cut = true;
        }
        held.end += slice;
        if (held.end.size() > 2 * kHeldTailBytes) held.end.remove(0, held.end.size() - kHeldTailBytes);
        return true;
    });
    if (!held.cut) return held;
    held.start.truncate(held.start.lastIndexOf('\n') + 1);
    if (held.end.size() > kHeldTailBytes) held.end.remove(0, held.end.size() - kHeldTailBytes);
    held.end.remove(0, held.end.indexOf('\n') + 1);
    return held;
}

QString partTextFromFile(GMimePart* part) {
    GMimeObject* object = objectOf(part);
    const HeldText held = heldText(part);
    const QByteArray charset = charsetOf(object, held.start);
    QString text = readableText(object, held.start, charset);
    if (held.cut) text += QStringLiteral("…\r\n") + readableText(object, held.end, charset);
    return text;
}

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

MailAttachment fileAttachment(GMimeObject* object) {
    MailAttachment attachment;
    attachment.fileName = proposedFileName(object);
    attachment.streamed = std::make_shared<FileContent>(object);
    if (GMimeMessagePart* part = asMessagePart(object); part && attachment.fileName.isEmpty()) {
        GMimeMessage* message = g_mime_message_part_get_message(part);
        const QString subject = message ? DecodeHeaderText(rawHeaderValue(objectOf(message), "Subject")).trimmed() : QString();
        attachment.fileName = (subject.isEmpty() ? QStringLiteral("message") : subject) + QStringLiteral(".eml");
    }
    return attachment;
}

// An attached message is saved as it came, under its own subject.
MailAttachment attachedMessage(GMimeObject* object, GMimeMessagePart* part) {
    MailAttachment attachment;
    if (GMimeMessage* message = g_mime_message_part_get_message(part)) {
        const std::unique_ptr<GMimeFormatOptions, FormatOptionsFree> format(g_mime_format_options_new());
        g_mime_format_options_set_newline_format(format.get(), GMIME_NEWLINE_FORMAT_DOS);
        const GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new());
        g_mime_object_write_to_stream(objectOf(message), format.get(), stream.get());
        attachment.content = bytesOf(stream.get());
    }
    attachment.fileName = proposedFileName(object);
    if (attachment.fileName.isEmpty()) {
        const QString subject =
            DecodeHeaderText(firstValue(readHeaderBlock(attachment.content).fields, "Subject")).trimmed();
        attachment.fileName = (subject.isEmpty() ? QStringLiteral("message") : subject) + QStringLiteral(".eml");
    }
    return attachment;
}

class BodyCollector {
public:
    // The message is read from its file: texts keep their start and end,
    // attachments are written from the file.
    bool fromFile = false;
    QString text;
    std::vector<MailAttachment> attachments;

    void collect(GMimeObject* object, int depth) {
        if (!object || depth > kMaxDepth) return;
        if (GMimeMultipart* multipart = asMultipart(object)) {
            const int count = g_mime_multipart_get_count(multipart);
            const int chosen = isType(object, "multipart", "alternative") ? bestAlternative(multipart, depth) : -1;
            for (int i = 0; i < count; ++i) {
                GMimeObject* child = g_mime_multipart_get_part(multipart, i);
                if (chosen < 0 || i == chosen)
                    collect(child, depth + 1);
                else
                    collectExplicitAttachments(child, depth + 1);
            }
            return;
        }
        if (GMimeMessagePart* messagePart = asMessagePart(object)) {
            attachments.push_back(fromFile ? fileAttachment(object) : attachedMessage(object, messagePart));
            return;
        }
        GMimePart* part = asPart(object);
        if (!part) return;
        if (isBodyText(object, "plain") || isBodyText(object, "html")) {
            appendText(fromFile ? partTextFromFile(part) : partText(part));
            // A named text is kept as the file it was sent as, too.
            if (hasFileName(object)) attachments.push_back(attachmentOf(object, part));
            return;
        }
        attachments.push_back(attachmentOf(object, part));
    }

private:
    MailAttachment attachmentOf(GMimeObject* object, GMimePart* part) const {
        if (fromFile) return fileAttachment(object);
        return {proposedFileName(object), contentBytes(part), nullptr};
    }

    // A text part after the first (a footer a list server added, the text
    // after an inline picture) continues on a line of its own.
    void appendText(const QString& piece) {
        if (!text.isEmpty() && !text.endsWith(u"\r\n")) text += u"\r\n";
        text += piece;
    }

    static bool yieldsText(GMimeObject* object, const char* subtype, int depth) {
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
    static int bestAlternative(GMimeMultipart* multipart, int depth) {
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

    // The alternatives not read still hold the files their sender marked
    // as attachments; the pictures of an HTML alternative are left out.
    void collectExplicitAttachments(GMimeObject* object, int depth) {
        if (!object || depth > kMaxDepth) return;
        if (GMimeMultipart* multipart = asMultipart(object)) {
            for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
                collectExplicitAttachments(g_mime_multipart_get_part(multipart, i), depth + 1);
        } else if (isDispositionAttachment(object)) {
            collect(object, depth);
        }
    }
};

// ---------------------------------------------------------------------------
// Whole messages

struct ParsedMessage {
    DecodedMessage message;  // all but the header fields
    std::vector<HeaderField> headers;
};

ParsedMessage parseMessage(QByteArrayView raw, int depth);
bool readBody(ParsedMessage& parsed, GMimeStream* stream, bool fromFile, int depth);

// RFC 2046 5.2.2: a message/partial of total=1 holds the whole message. A
// split message's parts come as separate mails; the receive code keeps them
// until all are there and joins them (split_message.h). Decoded alone, the
// first part still shows the start of its text.
void readPartial(ParsedMessage& parsed, GMimeMessagePartial* partial, GMimePart* part, bool fromFile, int depth) {
    const int number = g_mime_message_partial_get_number(partial);
    const int total = g_mime_message_partial_get_total(partial);
    const bool whole = number == 1 && total == 1;
    parsed.message.incompletePartial = !whole;
    if (number != 1 || depth >= kMaxDepth) return;

    // From a file, the enclosed message's start gives its header and text.
    ParsedMessage enclosed = parseMessage(fromFile ? heldText(part).start : contentBytes(part), depth + 1);
    parsed.headers = mergedPartialHeaders(parsed.headers, enclosed.headers);
    parsed.message.text = std::move(enclosed.message.text);
    if (whole) {
        parsed.message.attachments = std::move(enclosed.message.attachments);
        parsed.message.incompletePartial = enclosed.message.incompletePartial;
    }
}

// The texts and attachments of the message GMime reads from stream;
// nothing when it reads none (then the caller has the text).
bool readBody(ParsedMessage& parsed, GMimeStream* stream, bool fromFile, int depth) {
    // The options outlive every object parsed with them.
    const std::unique_ptr<GMimeParserOptions, ParserOptionsFree> options(g_mime_parser_options_new());
    // Undeclared 8-bit text in headers: UTF-8 when it is, else Shift_JIS.
    const char* fallbackCharsets[] = {"UTF-8", "CP932", nullptr};
    g_mime_parser_options_set_fallback_charsets(options.get(), fallbackCharsets);
    const GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream));
    // Over a file, each part's content stays a window on the file instead
    // of a copy in memory.
    g_mime_parser_set_persist_stream(parser.get(), TRUE);
    // From memory GMime sees only the fields that shape the body: the part
    // they head is all that is wanted, without the message around it (six
    // address lists and a header list, made and freed for nothing).
    GObjectPtr<GMimeMessage> message;
    GObjectPtr<GMimeObject> part;
    if (fromFile) message.reset(g_mime_parser_construct_message(parser.get(), options.get()));
    else part.reset(g_mime_parser_construct_part(parser.get(), options.get()));
    GMimeObject* top = message ? g_mime_message_get_mime_part(message.get()) : part.get();
    if (!top) return false;
    if (GMimeMessagePartial* partial = asPartial(top)) {
        readPartial(parsed, partial, asPart(top), fromFile, depth);
        return true;
    }
    BodyCollector body;
    body.fromFile = fromFile;
    body.collect(top, 0);
    parsed.message.text = std::move(body.text);
    parsed.message.attachments = std::move(body.attachments);
    // A multipart whose boundary never comes holds all its text in what
    // GMime calls the prologue.
    GMimeMultipart* multipart = asMultipart(top);
    if (multipart && g_mime_multipart_get_count(multipart) == 0 && parsed.message.text.isEmpty()) {
        if (const char* prologue = g_mime_multipart_get_prologue(multipart))
            parsed.message.text = WithCrLf(DecodeCharset(prologue, {}));
    }
    return true;
}

// What GMime is given of a message in memory: of the header, the first
// field (so that a body is never read as a header) and the fields that
// shape the body (Content-*, MIME-Version), as they stand, then the body.
// readHeaderBlock has read every field already; GMime made an object of
// each again, a quarter of a message's decoding.
QByteArray bodyShapingPart(QByteArrayView raw, const HeaderBlock& block) {
    if (block.fields.empty()) return raw.toByteArray();
    QByteArray kept;
    kept.reserve(raw.size());
    for (const HeaderField& field : block.fields) {
        const bool shaping = (field.name.size() > 8 && sameName(QByteArrayView(field.name).first(8), "content-")) ||
                             sameName(field.name, "mime-version");
        if (shaping || &field == &block.fields.front()) kept += raw.sliced(field.rawStart, field.rawEnd - field.rawStart);
    }
    // The blank line after the fields, then the body.
    kept += raw.sliced(block.fields.back().rawEnd);
    return kept;
}

ParsedMessage parseMessage(QByteArrayView raw, int depth) {
    ParsedMessage parsed;
    if (raw.isEmpty()) return parsed;
    HeaderBlock block = readHeaderBlock(raw);
    const std::optional<QByteArray> mended = withMendedHeaderBlock(raw, block);
    if (mended) {
        raw = *mended;
        block = readHeaderBlock(raw);
    }
    const QByteArray shaping = bodyShapingPart(raw, block);
    parsed.headers = std::move(block.fields);
    const GObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(shaping.data(), static_cast<size_t>(shaping.size())));
    // Not a message GMime can read (no header at all, binary bytes): what
    // follows the header block, if any, as undeclared text.
    if (!readBody(parsed, stream.get(), false, depth))
        parsed.message.text = WithCrLf(DecodeCharset(raw.sliced(block.bodyStart), {}));
    return parsed;
}

// The first bytes of the file fd.
QByteArray startOfFile(int fd, qsizetype bytes) {
    QByteArray start(bytes, Qt::Uninitialized);
    start.truncate(std::max<qint64>(0, ReadAt(fd, start.data(), bytes, 0)));
    return start;
}

}  // namespace

DecodedMessage DecodeMessage(QByteArrayView raw) {
    ParsedMessage parsed = parseMessage(raw, 0);
    fillHeaderFields(parsed.message, parsed.headers);
    return std::move(parsed.message);
}

DecodedMessage DecodeMessageFile(int fd) {
    ParsedMessage parsed;
    const QByteArray start = startOfFile(fd, kHeldHeaderBytes);
    const HeaderBlock block = readHeaderBlock(start);
    parsed.headers = block.fields;
    const int own = ::dup(fd);
    // From the start, wherever the descriptor stands (it was just written).
    const GObjectPtr<GMimeStream> stream(own >= 0 ? g_mime_stream_fs_new_with_bounds(own, 0, -1) : nullptr);
    if (!stream || !readBody(parsed, stream.get(), true, 0))
        parsed.message.text = WithCrLf(DecodeCharset(QByteArrayView(start).sliced(block.bodyStart), {}));
    fillHeaderFields(parsed.message, parsed.headers);
    return std::move(parsed.message);
}

QString BodyBeforeAttachmentStep(const DecodedMessage& message) {
    QString body = message.text;
    for (const MailAttachment& attachment : message.attachments) {
        body += u"\r\n[attachment: ";
        body += attachment.fileName.isEmpty() ? QStringLiteral("(no name)") : attachment.fileName;
        body += u']';
    }
    return body;
}

}  // namespace lumopet::mail
