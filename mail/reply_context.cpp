#include "mail/reply_context.h"

#include "mail/address_list.h"
#include "mail/mime/message_view.h"

#include <QRegularExpression>

namespace lumopet::mail {
namespace {

// The quote holds at most this much of the answered text; what is cut off
// is said in a last quoted line.
constexpr qsizetype kMaxQuotedCharacters = 1 << 20;

QString FieldValue(const ViewedMessage& view, QStringView name) {
    for (const auto& [field, value] : view.headerFields)
        if (field.compare(name, Qt::CaseInsensitive) == 0) return value;
    return QString();
}

}  // namespace

QStringList MessageIds(const QString& text) {
    // RFC 5322 3.6.4 msg-id, leniently: printable ASCII without "<" and
    // ">" between them, and no longer than a header line can carry.
    static const QRegularExpression id(QStringLiteral("<[!-;=?-~]{1,900}>"));
    QStringList ids;
    for (const auto& match : id.globalMatch(text)) ids.append(match.captured());
    return ids;
}

QString ReplyReferences(const QString& references, const QString& inReplyTo, const QString& messageId) {
    const QStringList own = MessageIds(messageId);
    if (own.isEmpty()) return QString();
    QStringList ids = MessageIds(references);
    if (ids.isEmpty()) {
        if (const QStringList parent = MessageIds(inReplyTo); parent.size() == 1) ids = parent;
    }
    ids.append(own.first());
    if (ids.size() > kMaxReferences) ids = QStringList{ids.first()} + ids.mid(ids.size() - (kMaxReferences - 1));
    return ids.join(u' ');
}

ReplyContext ReadReplyContext(const QString& path) {
    const ViewedMessage view = ViewMessageFile(path);
    ReplyContext context;
    if (view.headerFields.empty()) return context;
    const QStringList ids = MessageIds(FieldValue(view, u"Message-ID"));
    if (!ids.isEmpty()) {
        context.messageId = ids.first();
        context.references =
            ReplyReferences(FieldValue(view, u"References"), FieldValue(view, u"In-Reply-To"), context.messageId);
    }
    context.charset = view.charset.toLatin1();
    // The viewer's date form, in local time (mail/mime/mime_parts.h).
    context.date = QDateTime::fromString(view.date, QStringLiteral("yyyy/MM/dd  H:mm:ss"));
    const Mailbox sender = FirstMailbox(view.from);
    context.senderName = sender.name.isEmpty() ? sender.address : sender.name;
    context.text = view.text.size() > kMaxQuotedCharacters
                       ? view.text.left(kMaxQuotedCharacters) + QStringLiteral("\n（以下、長いため省略）")
                       : view.text;
    return context;
}

QString QuotedReply(const QString& text, const QDateTime& date, const QString& name) {
    QString heading = date.isValid() ? date.toString(QStringLiteral("yyyy/MM/dd HH:mm")) : QString();
    if (!name.isEmpty()) heading += (heading.isEmpty() ? QString() : QStringLiteral("、")) + name + QStringLiteral(" さんは書きました:");
    else heading = heading.isEmpty() ? QStringLiteral("元のメール:") : heading + QStringLiteral(" のメール:");
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    if (body.endsWith(u'\n')) body.chop(1);
    QString quoted = heading.trimmed() + u'\n';
    for (const QString& line : body.split(u'\n')) quoted += QStringLiteral("> ") + line + u'\n';
    return quoted;
}

}  // namespace lumopet::mail
