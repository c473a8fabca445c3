// Received mail into DecodedMessage. GMime finds the MIME structure and
// undoes the transfer encodings; every text (headers, parameters, bodies)
// goes through DecodeCharset, because GMime converts with glibc's iconv,
// which drops the Windows characters Japanese mail is full of. The rules
// for reading the tree itself are mail/mime/mime_parts.h, shared with the
// reader's view of a whole message.

#include "mail/decoded_message.h"

#include "core/text_helpers.h"
#include "mail/gmime_handles.h"
#include "mail/japanese_charsets.h"
#include "mail/mime/html_entities.h"
#include "mail/mime/mime_parts.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

namespace lumopet::mail {
namespace {

using namespace mime;

// ---------------------------------------------------------------------------
// The header block of the message as a whole. A message/partial needs the
// fields of two blocks merged.


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
// HTML to readable text

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
    while (end < html.size() && end - pos <= kLongestHtmlEntityName && html[end].unicode() < 0x80 &&
           html[end].isLetterOrNumber())
        ++end;
    const QStringView name = html.sliced(pos + 1, end - pos - 1);
    // The blanks the record's code page lacks stay the plain blank they
    // always were here.
    if (name == u"nbsp" || name == u"ensp" || name == u"emsp" || name == u"thinsp") {
        const bool closed = end < html.size() && html[end] == u';';
        if (closed || name == u"nbsp") return Entity{QStringLiteral(" "), end + (closed ? 1 : 0) - pos};
    }
    if (end < html.size() && html[end] == u';') {
        if (auto text = HtmlEntityText(name)) return Entity{*text, end + 1 - pos};
    }
    // Browsers read the old names without their ';' too, and the longest
    // of them that begins the name ("&copy2" is "©2").
    for (qsizetype length = name.size(); length >= 2; --length) {
        if (auto text = HtmlLegacyEntityText(name.first(length))) return Entity{*text, 1 + length};
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

// ---------------------------------------------------------------------------
// Texts

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

// What a text too long to hold keeps of its end: the sender's tag and
// signature.
constexpr qsizetype kHeldTailBytes = 64 * 1024;


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
    // Whole lines where there are lines; a text of one long line (minified
    // HTML) keeps its held start rather than nothing.
    if (const qsizetype lineEnd = held.start.lastIndexOf('\n'); lineEnd >= 0) held.start.truncate(lineEnd + 1);
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

MailAttachment fileAttachment(GMimeObject* object) {
    return {attachmentFileName(object), {}, streamedContent(object)};
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

class BodyCollector : public BodyWalk {
public:
    // The message is read from its file: texts keep their start and end,
    // attachments are written from the file.
    bool fromFile = false;
    QString text;
    std::vector<MailAttachment> attachments;

private:
    void bodyText(GMimeObject* /*object*/, GMimePart* part, const Path& /*path*/) override {
        appendText(fromFile ? partTextFromFile(part) : partText(part));
    }

    void attachment(GMimeObject* object, const Path& /*path*/, bool /*inRelated*/) override {
        if (fromFile) {
            attachments.push_back(fileAttachment(object));
        } else if (GMimeMessagePart* messagePart = asMessagePart(object)) {
            attachments.push_back(attachedMessage(object, messagePart));
        } else {
            attachments.push_back({proposedFileName(object), contentBytes(asPart(object)), nullptr});
        }
    }

    // A text part after the first (a footer a list server added, the text
    // after an inline picture) continues on a line of its own.
    void appendText(const QString& piece) {
        if (!text.isEmpty() && !text.endsWith(u"\r\n")) text += u"\r\n";
        text += piece;
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
    // From memory GMime sees only the fields that shape the body: the part
    // they head is all that is wanted, without the message around it (six
    // address lists and a header list, made and freed for nothing).
    const MimeTree tree = parseMimeTree(stream, fromFile);
    GMimeObject* top = tree.top();
    if (!top) return false;
    if (GMimeMessagePartial* partial = asPartial(top)) {
        readPartial(parsed, partial, asPart(top), fromFile, depth);
        return true;
    }
    BodyCollector body;
    body.fromFile = fromFile;
    body.walk(top);
    parsed.message.text = std::move(body.text);
    parsed.message.attachments = std::move(body.attachments);
    if (const char* prologue = textOfUnendedMultipart(top); prologue && parsed.message.text.isEmpty())
        parsed.message.text = WithCrLf(DecodeCharset(prologue, {}));
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
