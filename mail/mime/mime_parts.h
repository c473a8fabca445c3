#pragma once
// How the mail layer reads a message's MIME tree, shared by the decoder of
// the mail check (mime_decode.cpp) and the reader's view of a whole message
// (message_view.cpp): one copy of each rule. Internal to mail/: GMime stays
// inside the mail layer.

#include "core/result.h"
#include "mail/decoded_message.h"
#include "mail/gmime_handles.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace lumopet::mail::mime {

// Nested multiparts and message/partial wrappers deeper than this are not
// read: no real mail comes near it, and a crafted one must not exhaust the
// stack.
inline constexpr int kMaxDepth = 32;

// ---------------------------------------------------------------------------
// GMime's own cast macros are C casts; these checked casts stand in for them.

GMimePart* asPart(GMimeObject* object);
GMimeMultipart* asMultipart(GMimeObject* object);
GMimeMessagePart* asMessagePart(GMimeObject* object);
GMimeMessagePartial* asPartial(GMimeObject* object);
// Upcasts: every GMime type starts with its parent.
inline GMimeObject* objectOf(GMimeMessage* message) { return reinterpret_cast<GMimeObject*>(message); }
inline GMimeObject* objectOf(GMimePart* part) { return reinterpret_cast<GMimeObject*>(part); }

struct ParserOptionsFree {
    void operator()(GMimeParserOptions* options) const { g_mime_parser_options_free(options); }
};
struct FormatOptionsFree {
    void operator()(GMimeFormatOptions* options) const { g_mime_format_options_free(options); }
};

// The bytes written so far into a stream made by g_mime_stream_mem_new().
QByteArray bytesOf(GMimeStream* memoryStream);

bool isBlank(char c);
bool sameName(QByteArrayView a, QByteArrayView b);

// ---------------------------------------------------------------------------
// The header block, read from the bytes themselves: GMime files the
// Content-* fields under the body part, and the block is wanted whole and in
// order.

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

HeaderBlock readHeaderBlock(QByteArrayView raw);
QByteArray firstValue(const std::vector<HeaderField>& fields, QByteArrayView name);
// "yyyy/MM/dd  H:mm:ss" in local time when the value parses as a date, else
// the value's own text.
QString formatDate(const QByteArray& value);
// The first bytes of the file fd (fewer when it is shorter).
QByteArray startOfFile(int fd, qsizetype bytes);

// ---------------------------------------------------------------------------
// Fields of parts

// The field's value as it stands in the part's header, unfolded.
QByteArray rawHeaderValue(GMimeObject* object, const char* name);
// The name the sender gave the part (RFC 2231 or RFC 2047 decoded, raw 8-bit
// read as undeclared), unchecked; empty when none.
QString proposedFileName(GMimeObject* object);
// The name an attachment goes by: its own, or for an attached message
// without one, its subject and ".eml".
QString attachmentFileName(GMimeObject* object);

bool hasUnreadableContentType(GMimeObject* object);
// Whether the part is of the type; a Content-Type that cannot be read is
// text/plain (RFC 2045 5.2).
bool isType(GMimeObject* object, const char* type, const char* subtype);
bool isDispositionAttachment(GMimeObject* object);
bool hasFileName(GMimeObject* object);
// Whether the part is text to show (plain or html): not a file its sender
// attached.
bool isBodyText(GMimeObject* object, const char* subtype);

// ---------------------------------------------------------------------------
// Content

// The part's content with its transfer encoding (base64, quoted-printable,
// uuencode) undone; content that only claims to be base64 as it stands.
QByteArray contentBytes(GMimePart* part);
// The charset of a text part; for HTML that does not say it in its header,
// what its start says.
QByteArray charsetOf(GMimeObject* object, QByteArrayView start);

// Hands take each slice of the part's content in order, its transfer
// encoding undone by GMime's decoder, until take returns false. Lines that
// were lines on the wire come out in CR LF. Fails when the file cannot be
// read.
Status forEachContentSlice(GMimePart* part, const std::function<bool(QByteArrayView)>& take);
// The part's content (or an attached message whole) written to fd from the
// file the message was read from, as the mail check saves it.
std::shared_ptr<const StreamedContent> streamedContent(GMimeObject* object);

// A multipart whose boundary never comes holds all its text in what GMime
// calls the prologue: that text, else null.
const char* textOfUnendedMultipart(GMimeObject* top);

// ---------------------------------------------------------------------------
// Parsing

// A message (or the part shaped by a message's Content-* fields) as GMime
// reads it. The options outlive every object parsed with them.
struct MimeTree {
    std::unique_ptr<GMimeParserOptions, ParserOptionsFree> options;
    GObjectPtr<GMimeMessage> message;
    GObjectPtr<GMimeObject> part;
    // The top of the MIME tree; null when GMime read none.
    GMimeObject* top() const;
};
// Over a seekable stream (a file), each part's content stays a window on
// the stream instead of a copy in memory.
MimeTree parseMimeTree(GMimeStream* stream, bool wholeMessage);

// ---------------------------------------------------------------------------
// The parts of the body as the mail check takes them: the text it shows and
// the files it saves. Each part is handed over with its place in the tree
// (child indexes from the top).

class BodyWalk {
public:
    virtual ~BodyWalk() = default;
    void walk(GMimeObject* top);

protected:
    using Path = std::vector<int>;
    // A text part to show (plain or html).
    virtual void bodyText(GMimeObject* object, GMimePart* part, const Path& path) = 0;
    // A part the check saves as a file; inRelated when its parent is a
    // multipart/related.
    virtual void attachment(GMimeObject* object, const Path& path, bool inRelated) = 0;
    // An alternative the check does not read (its explicit attachments are
    // still handed over after this).
    virtual void alternativeLeftOut(GMimeObject* /*object*/, const Path& /*path*/, int /*depth*/) {}
    // A part nested deeper than kMaxDepth, not read.
    virtual void tooDeep() {}

private:
    void collect(GMimeObject* object, int depth, Path& path, bool inRelated);
    void collectExplicitAttachments(GMimeObject* object, int depth, Path& path, bool inRelated);
    static bool yieldsText(GMimeObject* object, const char* subtype, int depth);
    static int bestAlternative(GMimeMultipart* multipart, int depth);
};

}  // namespace lumopet::mail::mime
