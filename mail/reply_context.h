#pragma once
// What a reply takes from the message it answers, read from that
// message's Maildir copy: the headers that thread it (RFC 5322 3.6.4), the
// charset it goes back in, and what its quote says.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace lumopet::mail {

struct ReplyContext {
    QString messageId;   // the answered message's Message-ID, "<...>"; the reply's In-Reply-To
    QString references;  // the reply's References, ids separated by blanks
    QByteArray charset;  // the charset its text was declared in; empty when guessed
    QDateTime date;      // when it was written, in local time; invalid without a Date
    QString senderName;  // the From's display name, else its address
    QString text;        // its text, for the quote
};

// The most ids a reply's References keeps: the first (the thread's start)
// and the latest ones.
inline constexpr qsizetype kMaxReferences = 20;

// From the Maildir copy at path, read as the viewer reads copies (a
// regular file only, never through a link or from a FIFO). A missing or
// unreadable copy gives an empty context; a copy without a Message-ID
// gives no messageId and no references, so the reply goes without them.
ReplyContext ReadReplyContext(const QString& path);

// The Message-IDs ("<left@right>") in text, in order; anything else in it
// (blanks, comments, junk) is left out.
QStringList MessageIds(const QString& text);

// The answered message's References (or, without them, its In-Reply-To
// when that is one id) and then its Message-ID, as RFC 5322 3.6.4 says;
// past kMaxReferences ids, the first and the latest are kept.
QString ReplyReferences(const QString& references, const QString& inReplyTo, const QString& messageId);

// The quote: "YYYY/MM/DD HH:MM、NAME さんは書きました:" (without the date
// part when date is invalid, without the name part when name is empty),
// then each line of text with "> " before it; LF line ends.
QString QuotedReply(const QString& text, const QDateTime& date, const QString& name);

}  // namespace lumopet::mail
