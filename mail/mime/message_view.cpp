// A message read whole for the reader. GMime reads the file over a stream
// that keeps each part a window on the file, so that listing a message with
// an attachment of tens of megabytes neither copies nor decodes it; texts
// go through DecodeCharset as in the mail check.

#include "mail/mime/message_view.h"

#include "core/safe_file.h"
#include "core/system_error_text.h"
#include "core/unique_fd.h"
#include "mail/gmime_handles.h"
#include "mail/japanese_charsets.h"
#include "mail/mime/mime_parts.h"
#include "store/fixed_record_file.h"

#include <QDir>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <set>

#include <fcntl.h>
#include <unistd.h>

namespace lumopet::mail {
namespace {

using namespace mime;

// A text part longer than this is shown from its start: no mail is read
// that long, and a crafted one must not take the memory.
constexpr qsizetype kViewedTextBytes = qsizetype{8} << 20;
// What is read of a base64 part to learn the length of its lines.
constexpr qsizetype kLineProbeBytes = 4096;
constexpr qsizetype kScanSliceBytes = 64 * 1024;

// ---------------------------------------------------------------------------
// Notes

QString unreadableFileNote(const QString& path, int error) {
    // OpenRecordFile's answer to a link, a FIFO, a folder or a device.
    const QString reason =
        error == ELOOP ? QStringLiteral("通常のファイルではないため開きません") : SystemErrorText(error);
    return QStringLiteral("メールのファイル「%1」を読めません（%2）。").arg(QDir::toNativeSeparators(path), reason);
}

QString unknownCharsetNote(QByteArrayView charset) {
    return QStringLiteral("文字コード「%1」は読めないため、自動判定で表示しています。")
        .arg(DecodeHeaderText(charset));
}

QString cutTextNote(qsizetype bytes) {
    return QStringLiteral("本文が長すぎるため、先頭の %L1 バイトだけを表示しています。").arg(bytes);
}

void addNote(ViewedMessage& view, const QString& note) {
    if (!view.notes.contains(note)) view.notes += note;
}

// ---------------------------------------------------------------------------
// Sizes, from the content as it stands

GMimeStream* encodedStreamOf(GMimePart* part) {
    GMimeDataWrapper* content = part ? g_mime_part_get_content(part) : nullptr;
    return content ? g_mime_data_wrapper_get_stream(content) : nullptr;
}

GMimeContentEncoding encodingOf(GMimePart* part) {
    GMimeDataWrapper* content = part ? g_mime_part_get_content(part) : nullptr;
    return content ? g_mime_data_wrapper_get_encoding(content) : GMIME_CONTENT_ENCODING_DEFAULT;
}

qint64 encodedSizeOf(GMimePart* part) {
    GMimeStream* stream = encodedStreamOf(part);
    return stream ? std::max<qint64>(0, g_mime_stream_length(stream)) : 0;
}

// Hands each slice of the part's content as it stands in the message (no
// decoding) to take, until take returns false.
void forEachEncodedSlice(GMimePart* part, qsizetype sliceBytes, const std::function<bool(QByteArrayView)>& take) {
    GMimeStream* stream = encodedStreamOf(part);
    if (!stream) return;
    std::vector<char> buffer(static_cast<size_t>(sliceBytes));
    g_mime_stream_reset(stream);
    ssize_t got = 0;
    while ((got = g_mime_stream_read(stream, buffer.data(), buffer.size())) > 0) {
        if (!take(QByteArrayView(buffer.data(), static_cast<qsizetype>(got)))) break;
    }
    g_mime_stream_reset(stream);
}

// Base64 (and uuencode) carries three bytes in four characters, in lines of
// one length: the first line gives the number of line ends to take away.
// Off by the padding (at most two bytes) for a well-formed part.
qint64 estimatedBase64Size(GMimePart* part, qint64 encoded) {
    if (encoded <= 0) return 0;
    QByteArray probe;
    forEachEncodedSlice(part, kLineProbeBytes, [&probe](QByteArrayView slice) {
        probe = slice.toByteArray();
        return false;
    });
    qint64 lineEnd = 0;
    qint64 lineLength = encoded;
    if (const qsizetype newline = probe.indexOf('\n'); newline >= 0) {
        lineEnd = newline > 0 && probe[newline - 1] == '\r' ? 2 : 1;
        lineLength = newline + 1 - lineEnd;
    }
    const qint64 lines = lineLength + lineEnd > 0 ? (encoded + lineLength + lineEnd - 1) / (lineLength + lineEnd) : 0;
    return std::max<qint64>(0, (encoded - lines * lineEnd) * 3 / 4);
}

// Content that is not encoded is written with CR LF line ends (as it came on
// the wire; the Maildir keeps LF): every LF without a CR before it adds one
// byte. Quoted-printable also loses two bytes per "=XX" and its soft line
// breaks, and is an estimate: decoders differ on blanks at line ends.
qint64 countedSize(GMimePart* part, qint64 encoded, bool quotedPrintable) {
    qint64 size = encoded;
    char before = 0;
    // The last bytes of the slice before, for an escape cut between slices.
    QByteArray carried;
    forEachEncodedSlice(part, kScanSliceBytes, [&](QByteArrayView slice) {
        for (qsizetype i = 0; i < slice.size(); ++i) {
            const char c = slice[i];
            if (c == '\n' && before != '\r') ++size;
            before = c;
        }
        if (!quotedPrintable) return true;
        const QByteArray text = carried + slice.toByteArray();
        // An escape is read whole: the last two bytes wait for the next slice.
        const qsizetype scanned = std::max<qsizetype>(0, text.size() - 2);
        qsizetype i = 0;
        for (; i < scanned; ++i) {
            if (text[i] != '=') continue;
            if (text[i + 1] == '\n') {
                size -= 3;  // "=" LF, which would have become "=" CR LF
                i += 1;
            } else if (text[i + 1] == '\r' && text[i + 2] == '\n') {
                size -= 3;
                i += 2;
            } else if (std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                       std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
                size -= 2;
                i += 2;
            }
        }
        carried = text.sliced(std::min(i, text.size()));
        return true;
    });
    if (quotedPrintable && carried.startsWith("=\n")) size -= 3;
    return std::max<qint64>(0, size);
}

qint64 decodedSizeOf(GMimePart* part, qint64 encoded) {
    switch (encodingOf(part)) {
        case GMIME_CONTENT_ENCODING_BASE64:
        case GMIME_CONTENT_ENCODING_UUENCODE:
            return estimatedBase64Size(part, encoded);
        case GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE:
            return countedSize(part, encoded, true);
        default:
            return countedSize(part, encoded, false);
    }
}

// An attached message is written whole, in CR LF: its size is what that
// writes, counted without keeping it.
qint64 writtenMessageSize(GMimeMessagePart* part) {
    GMimeMessage* message = g_mime_message_part_get_message(part);
    if (!message) return 0;
    const GObjectPtr<GMimeStream> counter(g_mime_stream_null_new());
    const std::unique_ptr<GMimeFormatOptions, FormatOptionsFree> format(g_mime_format_options_new());
    g_mime_format_options_set_newline_format(format.get(), GMIME_NEWLINE_FORMAT_DOS);
    g_mime_object_write_to_stream(objectOf(message), format.get(), counter.get());
    return static_cast<qint64>(reinterpret_cast<GMimeStreamNull*>(counter.get())->written);
}

QByteArray contentTypeOf(GMimeObject* object) {
    if (hasUnreadableContentType(object)) return "text/plain";
    GMimeContentType* type = g_mime_object_get_content_type(object);
    const GString_ name(type ? g_mime_content_type_get_mime_type(type) : nullptr);
    return name ? QByteArray(name.get()).toLower() : QByteArray("application/octet-stream");
}

QByteArray contentIdOf(GMimeObject* object) {
    const char* id = g_mime_object_get_content_id(object);
    return id ? QByteArray(id) : QByteArray();
}

ViewedPart describedPart(GMimeObject* object, const PartPath& path) {
    ViewedPart described;
    described.fileName = attachmentFileName(object);
    described.contentType = contentTypeOf(object);
    described.contentId = contentIdOf(object);
    described.path = path;
    if (GMimeMessagePart* message = asMessagePart(object)) {
        described.encodedSize = described.size = writtenMessageSize(message);
    } else if (GMimePart* part = asPart(object)) {
        described.encodedSize = encodedSizeOf(part);
        described.size = decodedSizeOf(part, described.encodedSize);
    }
    return described;
}

// ---------------------------------------------------------------------------
// Texts

// The decoded bytes of a text part: whole up to kViewedTextBytes, else its
// start in whole lines (cut set).
QByteArray textBytes(GMimePart* part, bool& cut) {
    cut = false;
    if (encodedSizeOf(part) <= kViewedTextBytes) return contentBytes(part);
    QByteArray start;
    forEachContentSlice(part, [&](QByteArrayView slice) {
        start += slice.first(std::min(slice.size(), kViewedTextBytes - start.size()));
        return start.size() < kViewedTextBytes;
    });
    cut = true;
    if (const qsizetype lastLine = start.lastIndexOf('\n'); lastLine >= 0) start.truncate(lastLine + 1);
    return start;
}

QString withLf(QString text) {
    if (text.contains(u'\r')) text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

// ---------------------------------------------------------------------------
// The parts

class MessageReader : public BodyWalk {
public:
    MessageReader(ViewedMessage& view, QByteArrayView charsetOverride)
        : view_(view), override_(charsetOverride.toByteArray()) {}

    void read(GMimeObject* top) {
        walk(top);
        htmlReferences_ = cidReferences(view_.html);
        PartPath path;
        collectInline(top, 0, path, false);
        std::set<PartPath> inlined;
        for (ViewedPart& part : view_.inlineParts) {
            part.inlineImage = true;
            inlined.insert(part.path);
        }
        for (ViewedPart& attachment : view_.attachments) attachment.inlineImage = inlined.count(attachment.path) != 0;
    }

    // The text of a part read as a whole (a message/partial, text GMime
    // could not read as a message).
    QString decoded(QByteArrayView bytes) const { return withLf(DecodeCharset(bytes, override_)); }

private:
    void bodyText(GMimeObject* object, GMimePart* part, const Path& /*path*/) override {
        const bool html = isType(object, "text", "html");
        const QString text = partText(object, part);
        if (html) {
            view_.html += text;
        } else {
            // A text part after the first continues on a line of its own.
            if (!view_.text.isEmpty() && !view_.text.endsWith(u'\n')) view_.text += u'\n';
            view_.text += text;
        }
    }

    void attachment(GMimeObject* object, const Path& path, bool /*inRelated*/) override {
        view_.attachments.push_back(describedPart(object, path));
    }

    // The check reads the plain alternative; the reader also wants the
    // HTML one.
    void alternativeLeftOut(GMimeObject* object, const Path& path, int depth) override {
        if (view_.html.isEmpty()) {
            Path at = path;
            findHtml(object, depth, at);
        }
    }

    void tooDeep() override { addNote(view_, QStringLiteral("入れ子が深すぎる部分は表示していません。")); }

    void findHtml(GMimeObject* object, int depth, Path& path) {
        if (!object || depth > kMaxDepth || !view_.html.isEmpty()) return;
        if (GMimeMultipart* multipart = asMultipart(object)) {
            for (int i = 0; i < g_mime_multipart_get_count(multipart) && view_.html.isEmpty(); ++i) {
                path.push_back(i);
                findHtml(g_mime_multipart_get_part(multipart, i), depth + 1, path);
                path.pop_back();
            }
        } else if (GMimePart* part = asPart(object); part && isBodyText(object, "html")) {
            view_.html = partText(object, part);
        }
    }

    // Pictures the HTML may show: an image with a Content-ID in a
    // multipart/related, or one the HTML names by cid:. Nothing else goes
    // there, whatever its Content-ID: a reader shows these as pictures.
    void collectInline(GMimeObject* object, int depth, Path& path, bool inRelated) {
        if (!object || depth > kMaxDepth) return;
        if (GMimeMultipart* multipart = asMultipart(object)) {
            const bool related = isType(object, "multipart", "related");
            for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i) {
                path.push_back(i);
                collectInline(g_mime_multipart_get_part(multipart, i), depth + 1, path, related);
                path.pop_back();
            }
            return;
        }
        if (!asPart(object) || asPartial(object) || !isType(object, "image", "*")) return;
        const QByteArray id = contentIdOf(object);
        if (id.isEmpty()) return;
        if (inRelated || htmlReferences_.contains(QString::fromLatin1(id)))
            view_.inlineParts.push_back(describedPart(object, path));
    }

    QString partText(GMimeObject* object, GMimePart* part) {
        bool cut = false;
        const QByteArray bytes = textBytes(part, cut);
        const QByteArray declared = charsetOf(object, bytes);
        if (override_.isEmpty() && !declared.isEmpty() && !IsReadableCharset(declared))
            addNote(view_, unknownCharsetNote(declared));
        const QByteArray& used = override_.isEmpty() ? declared : override_;
        if (!charsetSet_) {
            view_.charset = IsReadableCharset(used) ? QString::fromLatin1(used) : QString();
            charsetSet_ = true;
        }
        if (cut) addNote(view_, cutTextNote(bytes.size()));
        return withLf(DecodeCharset(bytes, used));
    }

    // The Content-IDs the HTML names ("cid:ID" in an attribute), looked up
    // once: a message of thousands of pictures must not search the HTML
    // for each.
    static QSet<QString> cidReferences(const QString& html) {
        QSet<QString> ids;
        for (qsizetype pos = 0; (pos = html.indexOf(QStringLiteral("cid:"), pos, Qt::CaseInsensitive)) >= 0;) {
            pos += 4;
            qsizetype end = pos;
            while (end < html.size() && !QStringView(u"\"'<> \t\r\n)").contains(html[end])) ++end;
            ids.insert(html.sliced(pos, end - pos));
            pos = end;
        }
        return ids;
    }

    ViewedMessage& view_;
    const QByteArray override_;
    QSet<QString> htmlReferences_;
    bool charsetSet_ = false;
};

// ---------------------------------------------------------------------------
// Whole messages

// headerStart: the message's first bytes, which hold its header block;
// stream: the whole message, for GMime.
ViewedMessage readMessage(QByteArrayView headerStart, GMimeStream* stream, QByteArrayView charsetOverride) {
    ViewedMessage view;
    const HeaderBlock block = readHeaderBlock(headerStart);
    const auto decodedValue = [&](QByteArrayView name) {
        return DecodeHeaderText(firstValue(block.fields, name), charsetOverride).trimmed();
    };
    view.subject = decodedValue("Subject");
    view.from = decodedValue("From");
    view.to = decodedValue("To");
    view.cc = decodedValue("Cc");
    view.date = formatDate(firstValue(block.fields, "Date"));
    view.headerFields.reserve(block.fields.size());
    for (const HeaderField& field : block.fields)
        view.headerFields.emplace_back(QString::fromLatin1(field.name), DecodeHeaderText(field.value, charsetOverride));

    MessageReader reader(view, charsetOverride);
    const MimeTree tree = stream ? parseMimeTree(stream, true) : MimeTree{};
    GMimeObject* top = tree.top();
    if (!top) {
        // Not a message GMime can read: what follows the header, as text.
        view.text = reader.decoded(headerStart.sliced(std::min(block.bodyStart, headerStart.size())));
        return view;
    }
    if (GMimeMessagePartial* partial = asPartial(top)) {
        addNote(view, QStringLiteral("分割して送られたメールの一部（%1/%2）のため、中身をそのまま表示しています。")
                          .arg(g_mime_message_partial_get_number(partial))
                          .arg(g_mime_message_partial_get_total(partial)));
        bool cut = false;
        view.text = reader.decoded(textBytes(asPart(top), cut));
        return view;
    }
    reader.read(top);
    if (const char* prologue = textOfUnendedMultipart(top); prologue && view.text.isEmpty() && view.html.isEmpty())
        view.text = reader.decoded(prologue);
    return view;
}

// The message file, open for reading: never through a link, never a FIFO
// or a device. Failure holds errno.
struct OpenedMessage {
    UniqueFd fd{-1};
    int error = 0;
};

OpenedMessage openMessage(const QString& path) {
    OpenedMessage opened;
    opened.fd = UniqueFd(OpenRecordFile(path, O_RDONLY));
    if (!opened.fd.ok()) opened.error = errno;
    return opened;
}

// GMime's stream over the whole file, on a descriptor of its own.
GObjectPtr<GMimeStream> streamOver(int fd) {
    const int own = ::dup(fd);
    if (own < 0) return nullptr;
    return GObjectPtr<GMimeStream>(g_mime_stream_fs_new_with_bounds(own, 0, -1));
}

// The part at the path in the tree, or null.
GMimeObject* partAt(GMimeObject* top, const PartPath& path) {
    if (path.size() > static_cast<size_t>(kMaxDepth) + 1) return nullptr;
    GMimeObject* object = top;
    for (const int index : path) {
        GMimeMultipart* multipart = asMultipart(object);
        if (!multipart || index < 0 || index >= g_mime_multipart_get_count(multipart)) return nullptr;
        object = g_mime_multipart_get_part(multipart, index);
    }
    return object;
}

// Runs use on the part of the message file at the path.
Status withPart(const QString& messagePath, const PartPath& path, const std::function<Status(GMimeObject*)>& use) {
    const OpenedMessage opened = openMessage(messagePath);
    if (!opened.fd.ok()) return Failure{unreadableFileNote(messagePath, opened.error)};
    const GObjectPtr<GMimeStream> stream = streamOver(opened.fd.get());
    if (!stream) return Failure{unreadableFileNote(messagePath, errno)};
    const MimeTree tree = parseMimeTree(stream.get(), true);
    GMimeObject* part = partAt(tree.top(), path);
    if (!part || asMultipart(part)) return Failure{QStringLiteral("メールにその部分がありません。")};
    return use(part);
}

// ---------------------------------------------------------------------------
// The source

bool isSevenBit(QByteArrayView bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isValidUtf8(QByteArrayView bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString text = decoder(bytes);
    return !decoder.hasError();
}

// Lines of ASCII as they stand, lines of UTF-8 as UTF-8 (a header encoded by
// a modern mailer above a Shift_JIS body), and the other 8-bit lines read
// together in the charset DecodeCharset guesses for them all.
// ISO-2022-JP is seven-bit: a line with its escapes reads as the Japanese
// the sender wrote, not as "$B%F%9%H(B".
QString sevenBitLine(QByteArrayView line) {
    if (line.contains('\x1b')) return DecodeCharset(line, "ISO-2022-JP");
    return QString::fromLatin1(line);
}

QString sourceLines(QByteArrayView bytes) {
    if (!bytes.contains('\x1b')) {
        if (isSevenBit(bytes)) return QString::fromLatin1(bytes);
        if (isValidUtf8(bytes)) return QString::fromUtf8(bytes);
    }
    std::vector<QByteArrayView> lines;
    for (qsizetype pos = 0; pos < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', pos);
        end = end < 0 ? bytes.size() : end + 1;
        lines.push_back(bytes.sliced(pos, end - pos));
        pos = end;
    }
    QByteArray guessed;
    for (const QByteArrayView line : lines) {
        if (isSevenBit(line) || isValidUtf8(line)) continue;
        guessed += line;
        if (!line.endsWith('\n')) guessed += '\n';
    }
    const QStringList guessedLines = DecodeCharset(guessed, {}).split(u'\n');
    // A line end swallowed by a broken character would shift every line
    // after it: then the whole text is read by the one guess.
    const auto countOfGuessed = static_cast<qsizetype>(std::count(guessed.begin(), guessed.end(), '\n'));
    if (guessedLines.size() != countOfGuessed + 1) return DecodeCharset(bytes, {});
    QString text;
    text.reserve(bytes.size());
    qsizetype next = 0;
    for (const QByteArrayView line : lines) {
        if (isSevenBit(line)) {
            text += sevenBitLine(line);
        } else if (isValidUtf8(line)) {
            text += QString::fromUtf8(line);
        } else {
            text += guessedLines[next++];
            if (line.endsWith('\n')) text += u'\n';
        }
    }
    return text;
}

}  // namespace

ViewedMessage ViewMessageFile(const QString& path, QByteArrayView charsetOverride) {
    const OpenedMessage opened = openMessage(path);
    if (!opened.fd.ok()) {
        ViewedMessage view;
        view.notes += unreadableFileNote(path, opened.error);
        return view;
    }
    const QByteArray start = startOfFile(opened.fd.get(), kHeldHeaderBytes);
    if (start.isEmpty()) {
        ViewedMessage view;
        view.notes += QStringLiteral("メールのファイルが空です。");
        return view;
    }
    const GObjectPtr<GMimeStream> stream = streamOver(opened.fd.get());
    return readMessage(start, stream.get(), charsetOverride);
}

ViewedMessage ViewMessage(QByteArrayView source, QByteArrayView charsetOverride) {
    if (source.isEmpty()) {
        ViewedMessage view;
        view.notes += QStringLiteral("メールが空です。");
        return view;
    }
    const GObjectPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(source.data(), static_cast<size_t>(source.size())));
    return readMessage(source.first(std::min(source.size(), kHeldHeaderBytes)), stream.get(), charsetOverride);
}

Status WritePartContent(const QString& messagePath, const PartPath& part, int fd) {
    return withPart(messagePath, part, [fd](GMimeObject* object) { return streamedContent(object)->writeTo(fd); });
}

std::optional<QByteArray> PartContent(const QString& messagePath, const PartPath& part, qint64 maxBytes) {
    QByteArray content;
    bool tooLarge = false;
    const Status read = withPart(messagePath, part, [&](GMimeObject* object) -> Status {
        GMimePart* leaf = asPart(object);
        if (!leaf) return Failure{QStringLiteral("メールのその部分はファイルではありません。")};
        return forEachContentSlice(leaf, [&](QByteArrayView slice) {
            tooLarge = content.size() + slice.size() > maxBytes;
            if (!tooLarge) content += slice;
            return !tooLarge;
        });
    });
    if (!read || tooLarge) return std::nullopt;
    return content;
}

QString SourceText(const QString& messagePath, qint64 maxBytes) {
    const OpenedMessage opened = openMessage(messagePath);
    if (!opened.fd.ok()) return unreadableFileNote(messagePath, opened.error);
    const qint64 length = FileLength(opened.fd.get());
    const qint64 wanted = std::clamp<qint64>(length, 0, std::max<qint64>(0, maxBytes));
    QByteArray bytes(static_cast<qsizetype>(wanted), Qt::Uninitialized);
    const qint64 got = ReadAt(opened.fd.get(), bytes.data(), wanted, 0);
    if (got < 0) return unreadableFileNote(messagePath, errno);
    bytes.truncate(static_cast<qsizetype>(got));
    const bool cut = got < length;
    // Cut at a line's end, never inside a character.
    if (cut) bytes.truncate(bytes.lastIndexOf('\n') + 1);
    QString text = sourceLines(bytes);
    // A NUL would end the text early in the widgets that show it.
    text.replace(QChar(u'\0'), QChar::ReplacementCharacter);
    if (cut) {
        text += QStringLiteral("（ここから先の %L1 バイトは表示していません。）\n").arg(length - bytes.size());
    }
    return text;
}

}  // namespace lumopet::mail
