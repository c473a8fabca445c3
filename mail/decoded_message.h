#pragma once
// A received message as the rest of the program sees it: texts decoded from
// whatever charset and transfer encoding they came in, and the attachment
// parts with their contents.

#include "core/result.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

namespace lumopet::mail {

// The content of an attachment of a message decoded from its file: too
// large to hold, it is decoded from the file as it is written.
class StreamedContent {
public:
    virtual ~StreamedContent() = default;
    // Writes the content, transfer encoding removed, to the file fd.
    virtual Status writeTo(int fd) const = 0;
};

struct MailAttachment {
    // The name the sender gave (RFC 2231 or RFC 2047 decoded), unchecked:
    // it may be empty, hold a path, or anything else.
    QString fileName;
    QByteArray content;  // transfer encoding removed
    // In place of content, for a message decoded from its file.
    std::shared_ptr<const StreamedContent> streamed = nullptr;
};

struct DecodedMessage {
    QString subject;
    // "yyyy/MM/dd  H:mm:ss" in local time when the Date header parses (the
    // same form as the sent history's dates), else the header's own text.
    QString date;
    QString from;        // the whole From text, e.g. "山田 太郎 <taro@example.jp>"
    QString headerText;  // the header block, decoded, lines joined by CR LF
    QString text;        // the readable text: text/plain, or an HTML part's text without markup
    // The parts sent as files. A plain text part with a file name that is
    // not marked as an attachment is in both: shown in text, kept as a file.
    std::vector<MailAttachment> attachments;
    // A message/partial whose parts are not all in this message.
    bool incompletePartial = false;
};

// Never fails: a broken message gives what could be read of it.
DecodedMessage DecodeMessage(QByteArrayView raw);

// The same for a message in the file fd (a message too large to hold), in
// memory that does not grow with it: the header is read from the file's
// first kHeldHeaderBytes, attachments are StreamedContent over the file
// (which must stay as it is while they are used; the descriptor may be
// closed), and a text part larger than kHeldTextBytes keeps its start and
// its end (where the sender's tag is), with a line "…" between them. The
// record shows far less than the start, and the source stays whole in the
// Maildir.
DecodedMessage DecodeMessageFile(int fd);
inline constexpr qsizetype kHeldHeaderBytes = 1 << 20;
inline constexpr qsizetype kHeldTextBytes = 1 << 20;

// The body as the receive code searches it before the attachment step: the
// text, and after it one line per attachment part that names the part with
// the word "attachment" (as a MIME source would show it).
QString BodyBeforeAttachmentStep(const DecodedMessage& message);

}  // namespace lumopet::mail
