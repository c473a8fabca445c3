#pragma once
// A signature in the body of a message being written. It goes in at the
// end, below a "-- " line (the separator RFC 3676, 4.3, names: dash, dash,
// blank, on a line of its own), as text the user sees and may edit. The
// fortune and the character tag are not in the body: the send adds them
// after it (OutgoingBody), so the tag still comes last.
//
// Nothing is remembered beside the body: the program's block is recognised
// by its text, so a body put back from a draft works the same. A block the
// user edited is no longer the program's and is never taken out.

#include <QString>
#include <QStringView>

#include <array>

namespace lumopet {

inline const QString kSignatureSeparator = QStringLiteral("-- ");

// What the program puts at the end of a body for a signature: a line
// break, the separator line and the signature. A signature that starts
// with its own separator line gets no second one. Empty for an empty
// signature.
QString SignatureBlock(QStringView signature);

// Which of the signatures (an index into them) the body ends with, as the
// program put it in; -1 when none (none was put in, or it was edited, or
// text was written below it). Empty signatures are never found.
int SignatureAtEnd(QStringView body, const std::array<QString, 3>& signatures);

struct SignedBody {
    QString body;
    // The block of `current` was not at the end of the body any more (the
    // user edited it): it stays as it is, and the new one, if any, went in
    // below it.
    bool keptEditedBlock = false;
};

// The body with the signature `next` (empty for none) in place of
// `current`, the signature the program put in before (empty for none).
// Choosing the same one again changes nothing.
SignedBody BodyWithSignature(const QString& body, QStringView current, QStringView next);

}  // namespace lumopet
