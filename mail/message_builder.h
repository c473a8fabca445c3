#pragma once
// Building an outgoing message, as Japanese mailers send it.

#include "core/result.h"
#include "mail/address_list.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace lumopet::mail {

struct OutgoingMessage {
    QString from;  // the own address, as in the settings
    // The recipients, as ParseAddressList reads them: "a@example.jp",
    // "名前 <a@example.jp>", several separated by ",", "、" or ";".
    QString to;
    QString subject;
    QString body;  // lines end in CR LF or LF
    QStringList attachmentPaths;
    QDateTime date = QDateTime::currentDateTime();
    QString cc = {};   // empty for none
    QString bcc = {};  // never in the header that goes out (SentCopyHeader)
    // A reply: the answered message's Message-ID ("<...>") and the
    // References the reply carries; empty for a new message.
    QString inReplyTo = {};
    QString references = {};
    // A reply's body goes in the answered message's charset when the text
    // fits it (ISO-2022-JP, Shift_JIS, EUC-JP, UTF-8, ISO-8859-n, ...).
    QByteArray replyCharset = {};
};

// Every recipient of To, Cc and Bcc in ASCII form (RCPT TO), each once.
// Fails as ParseAddressList does.
lumopet::Result<QStringList> EnvelopeRecipients(const OutgoingMessage& message);

// The "Bcc:" field, CR LF line ends, for the copy of the message kept in
// the sent Maildir (who got it); empty when there is no Bcc. Never part of
// what BuildMessage and BuildMessageFile give.
QByteArray SentCopyHeader(const OutgoingMessage& message);

// The whole message, CR LF line ends, no line over 998 octets: From, To,
// Cc, Subject, Date, Message-ID, In-Reply-To, References, MIME-Version;
// text in the reply charset when it fits, else ISO-2022-JP (7bit) when
// every character of subject and body is in JIS X 0208 (or ASCII), else
// UTF-8; each attachment base64 with its file name (RFC 2231). Fails with a
// clear Japanese sentence naming the file when an attachment cannot be read,
// and when a recipient is not an address (ParseAddressList), To is empty or
// the sender holds a line break: no text of the user's ever starts a header
// line.
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

// Whether the 宛先 text holds one or more addresses, each as
// ParseAddressList takes it, with blanks and line breaks around it.
// Refused with the sentence the user reads (naming the bad one), and for an
// empty text.
lumopet::Status CheckRecipient(const QString& text);

// The paths of a "," separated attachment list, each without its blanks,
// empty entries left out.
QStringList AttachmentPaths(const QString& list);

// Fails, naming the file, when one of the paths is not a regular file that
// can be opened for reading. (A FIFO or a device would never end.)
lumopet::Status CheckAttachments(const QStringList& paths);

}  // namespace lumopet::mail
