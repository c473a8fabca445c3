#pragma once
// Messages that the sender's program split into several mails (RFC 2046
// message/partial): what part a mail is, and the whole joined again from
// its parts.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

namespace lumopet::mail {

struct SplitPart {
    QString id;
    int number = 0;
    int total = 0;  // 0: this part does not say (only the last one must)
};

// The place of the message in its split message, when it is one part of
// several: an id, a number from 1, and a total (when given) from 2 up to
// kMaxSplitParts that is not below the number. Nothing for any other
// message, a part that makes no sense among them: that one is received as
// a message of its own.
std::optional<SplitPart> SplitPartOf(QByteArrayView source);

// The whole message from its parts' sources, part 1 first: the bodies one
// after the other, and the header made as RFC 2046 says from the header of
// part 1 (all but its Content-*, Subject, Message-ID, Encrypted and
// MIME-Version fields, which come from the joined message's own header).
QByteArray JoinSplitParts(const std::vector<QByteArray>& parts);

}  // namespace lumopet::mail
