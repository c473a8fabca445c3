#pragma once
// Building an outgoing message, as Japanese mailers send it.

#include "core/result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace lumopet::mail {

struct OutgoingMessage {
    QString from;  // the own address, as in the settings
    QString to;    // one recipient: "a@example.jp" or "名前 <a@example.jp>"
    QString subject;
    QString body;  // lines end in CR LF or LF
    QStringList attachmentPaths;
    QDateTime date = QDateTime::currentDateTime();
};

// The whole message, CR LF line ends, no line over 998 octets: From, To,
// Subject, Date, Message-ID, MIME-Version; text in ISO-2022-JP (7bit) when
// every character of subject and body is in JIS X 0208 (or ASCII), else
// UTF-8; each attachment base64 with its file name (RFC 2231). Fails with a
// clear Japanese sentence naming the file when an attachment cannot be read,
// and when the recipient is not one address (CheckRecipient) or the sender
// holds a line break: no text of the user's ever starts a header line.
lumopet::Result<QByteArray> BuildMessage(const OutgoingMessage& message);

// An attachment larger than this is not read into memory by
// BuildMessageFile: it is encoded from its file as the message is written.
inline constexpr qint64 kStreamedAttachmentBytes = 8LL * 1024 * 1024;
bool HasLargeAttachment(const QStringList& paths);

// The same message written into the file fd with LF line ends (as a Maildir
// keeps it; it goes out with CR LF), a large attachment encoded from its
// file as it goes, so that memory does not grow with it. Returns its size
// with CR LF, what goes on the wire. A large text file gets no charset:
// it is not read ahead to tell.
lumopet::Result<qint64> BuildMessageFile(const OutgoingMessage& message, int fd);

// Whether text is exactly one recipient: "a@example.jp" or
// "名前 <a@example.jp>", with blanks and line breaks around it. Refused, with
// the sentence the user reads: an empty text, a line break or control
// character inside it, a second address (after "," or ";" outside quotes, or
// after the ">"), and an address without one "@" between a local part and
// a domain, or with blanks or brackets in it.
lumopet::Status CheckRecipient(const QString& text);

// The paths of a "," separated attachment list, each without its blanks,
// empty entries left out.
QStringList AttachmentPaths(const QString& list);

// Fails, naming the file, when one of the paths is not a regular file that
// can be opened for reading. (A FIFO or a device would never end.)
lumopet::Status CheckAttachments(const QStringList& paths);

// The address part of an address text ("名前 <a@b>" gives "a@b"); the text
// trimmed when it holds no angle brackets.
QString AddressOf(const QString& text);

}  // namespace lumopet::mail
