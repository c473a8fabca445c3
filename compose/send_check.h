#pragma once
// What the look before a send shows, as plain values: every recipient of 宛先,
// CC and BCC with its kind and whether it lies outside the own address's
// domain (misdirected mail mostly goes to another company), and the
// attachments with their sizes. Also the question asked before every send:
// does the text speak of an attachment when none is attached?
//
// Plain logic: compose/SendCheckForm.h shows it.

#include <QString>
#include <QStringList>

#include <vector>

namespace lumopet {

enum class RecipientKind { To, Cc, Bcc };

// "宛先", "CC", "BCC", as the windows label the rows.
QString RecipientKindLabel(RecipientKind kind);

struct CheckedRecipient {
    RecipientKind kind = RecipientKind::To;
    QString text;     // the entry as typed, without blanks around it
    QString address;  // local@domain
    bool outside = false;
};

struct CheckedAttachment {
    QString path;
    qint64 size = -1;  // -1 when the file cannot be found
};

struct SendCheck {
    std::vector<CheckedRecipient> recipients;
    std::vector<CheckedAttachment> attachments;
};

struct RecipientTexts {
    QString to;
    QString cc;
    QString bcc;
};

// The recipients of the three boxes in order (宛先, CC, BCC; each box in the
// order typed), and the attachments. An entry the address parser refuses
// is still listed, as typed: the send names it, and a look that hid it would
// show less than will be tried.
SendCheck MakeSendCheck(const RecipientTexts& texts, const QString& ownAddress, const QStringList& attachmentPaths);

// Whether address lies outside the domain of ownAddress: the domains
// compared whole, case ignored, a Japanese domain as its ASCII form. A
// subdomain is another domain ("a@tokyo.example.jp" is outside
// "example.jp"). Without an own domain every address counts as outside.
bool IsOutsideDomain(const QString& address, const QString& ownAddress);

// Whether the subject or the body speaks of an attachment: "添付" or
// "attach" (attached, attachment; case and width ignored). Quoted lines (">"
// first) and the signature after a "-- " line are not the user's words
// for this message and are left out.
bool MentionsAttachment(const QString& subject, const QString& body);

}  // namespace lumopet
