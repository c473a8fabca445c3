#pragma once
// A received or sent message read whole for the reader, from its Maildir
// copy: its header fields, its whole text and HTML, and its parts listed
// (with their sizes) without their contents decoded. A part's content is
// decoded only when it is asked for: into a file, streamed, or into memory
// for a small picture the HTML shows.
//
// The mail check reads a message its own way (decoded_message.h): one text,
// the HTML as text, every attachment's content. Both follow the same rules
// for reading a MIME tree (mail/mime/mime_parts.h).

#include "core/result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace lumopet::mail {

// A part of the message by its place in the MIME tree: child indexes from
// the top. The top part itself (a message of one part) is the empty path.
using PartPath = std::vector<int>;

struct ViewedPart {
    QString fileName;        // as the sender named it (RFC 2231/2047 decoded), unchecked
    QByteArray contentType;  // "image/png", lower case
    QByteArray contentId;    // without <>, for cid: references; may be empty
    qint64 encodedSize = 0;  // bytes of its content as it stands in the message
    // Its size once decoded, as WritePartContent writes it: exact for
    // 7bit, 8bit and binary content, estimated for base64 (from the length
    // of its lines) and quoted-printable (from its escapes).
    qint64 size = 0;
    bool inlineImage = false;  // an image referenced (or referable) by cid: from the HTML
    PartPath path;
};

struct ViewedMessage {
    // Whole Unicode texts. The date as the history has it, "yyyy/MM/dd
    // H:mm:ss" in local time (two blanks in between), when the Date field
    // parses; else the field's text.
    QString subject, from, to, cc, date;
    // Every field of the header, name and decoded value, in order.
    std::vector<std::pair<QString, QString>> headerFields;
    // Every plain text part, joined as the mail check joins them, with LF
    // line ends. Empty when the message has only HTML.
    QString text;
    // The text/html part the message offers (of a multipart/alternative,
    // the HTML alternative), decoded; empty when there is none.
    QString html;
    // The parts the mail check saves as files, in its order. Pictures the
    // HTML shows are among them when the check saves them: inlineImage
    // says which.
    std::vector<ViewedPart> attachments;
    // The pictures the HTML may show by cid: (images with a Content-ID in a
    // multipart/related, or referenced from the HTML). Never a part of
    // another type.
    std::vector<ViewedPart> inlineParts;
    // The charset the main text was read in: the reader's choice, else what
    // the sender declared; empty when it was guessed.
    QString charset;
    // One line per thing that could not be shown as sent, in Japanese.
    QStringList notes;
};

// The message in the file (the Maildir copy). charsetOverride empty: every
// text in the charset its sender declared (guessed when undeclared or
// unknown, with a note); else every text part and raw 8-bit header text in
// that charset (the reader's 文字コード指定). A file that cannot be read (a
// link, a FIFO, a folder, missing) gives a message with only a note.
ViewedMessage ViewMessageFile(const QString& path, QByteArrayView charsetOverride = {});
ViewedMessage ViewMessage(QByteArrayView source, QByteArrayView charsetOverride = {});

// The decoded content of one part (transfer encoding undone, as the mail
// check saves it) written into fd, streamed from the file: memory does not
// grow with the part. An attached message is written whole.
Status WritePartContent(const QString& messagePath, const PartPath& part, int fd);

// The decoded content of a part, in memory: nothing when it is larger than
// maxBytes, is no leaf part or cannot be read. For the pictures the HTML
// shows.
std::optional<QByteArray> PartContent(const QString& messagePath, const PartPath& part, qint64 maxBytes);

// The message's source for ソースを表示: its bytes as they stand (LF line
// ends, as the Maildir keeps them), 8-bit text read by a charset guess, at
// most maxBytes of them; a closing line then says how much was left out.
QString SourceText(const QString& messagePath, qint64 maxBytes);

}  // namespace lumopet::mail
