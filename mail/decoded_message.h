#pragma once
// A received message as the rest of the program sees it: texts decoded from
// whatever charset and transfer encoding they came in, and the attachment
// parts with their contents.

#include <QByteArray>
#include <QString>

#include <vector>

namespace lumopet::mail {

struct MailAttachment {
    // The name the sender gave (RFC 2231 or RFC 2047 decoded), unchecked:
    // it may be empty, hold a path, or anything else.
    QString fileName;
    QByteArray content;  // transfer encoding removed
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

// The body as the receive code searches it before the attachment step: the
// text, and after it one line per attachment part that names the part with
// the word "attachment" (as a MIME source would show it).
QString BodyBeforeAttachmentStep(const DecodedMessage& message);

}  // namespace lumopet::mail
