#pragma once
// Recipient texts as the user types them: one or more addresses, each
// "a@example.jp", "山田 太郎 <a@example.jp>", "\"山田, 営業\" <a@example.jp>"
// or "a@example.jp (山田)", separated by ",", "、" or ";". Read as RFC 5322
// and RFC 6532 say (GMime parses each one); a domain may be written in
// Japanese (IDN) and goes out in its ASCII form.

#include "core/result.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace lumopet::mail {

struct Mailbox {
    QString name;     // the display name, decoded; empty for none
    QString address;  // local@domain as typed (a Japanese domain stays so)
    // The address with its domain in ASCII (QUrl::toAce): what goes into
    // RCPT TO and into the header.
    QString asciiAddress;
};

// The entries of text, split at ",", "、" and ";" outside quoted strings,
// comments and angle brackets, each trimmed; empty entries left out.
QStringList SplitRecipientText(const QString& text);

// The mailboxes of text, in order; an empty list for a text of blanks.
// Fails with the sentence the user reads, naming the first bad entry
// (after label, "宛先" or "CC", when given): a line break or control
// character, an entry that is not one mailbox (a group, two addresses
// without a separator, text after the ">"), a local part or domain that
// RFC 5322 does not allow, and a local part that is not ASCII (it needs
// SMTPUTF8, which we do not ask servers for).
Result<QList<Mailbox>> ParseAddressList(const QString& text, const QString& label = QString());

// The first mailbox of text. A text the parser refuses (an own address
// without a domain, a bracket left open) is read leniently, without a
// name: the address is the part between "<" and ">", or the text trimmed.
Mailbox FirstMailbox(const QString& text);

// Its address: "名前 <a@b>" gives "a@b".
inline QString AddressOf(const QString& text) { return FirstMailbox(text).address; }

}  // namespace lumopet::mail
