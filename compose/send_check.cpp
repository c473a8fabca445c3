#include "compose/send_check.h"

#include "mail/address_list.h"
#include "viewer/search_text.h"

#include <QFileInfo>
#include <QStringView>
#include <QUrl>

#include <array>

namespace lumopet {

namespace {

// The domain of an address as compared: lower case, ASCII form, without
// the dot a fully qualified name may end in. Empty without an "@".
QString ComparedDomain(const QString& address) {
    const qsizetype at = address.lastIndexOf(u'@');
    if (at < 0) return QString();
    QString domain = address.mid(at + 1).trimmed().toLower();
    while (domain.endsWith(u'.')) domain.chop(1);
    const QString ace = QString::fromLatin1(QUrl::toAce(domain));
    return ace.isEmpty() ? domain : ace.toLower();
}

}  // namespace

QString RecipientKindLabel(RecipientKind kind) {
    switch (kind) {
    case RecipientKind::To:
        return QStringLiteral("宛先");
    case RecipientKind::Cc:
        return QStringLiteral("CC");
    case RecipientKind::Bcc:
        return QStringLiteral("BCC");
    }
    return QString();
}

bool IsOutsideDomain(const QString& address, const QString& ownAddress) {
    const QString own = ComparedDomain(mail::AddressOf(ownAddress));
    return own.isEmpty() || ComparedDomain(address) != own;
}

SendCheck MakeSendCheck(const RecipientTexts& texts, const QString& ownAddress, const QStringList& attachmentPaths) {
    SendCheck check;
    const std::array<std::pair<RecipientKind, const QString*>, 3> boxes{
        {{RecipientKind::To, &texts.to}, {RecipientKind::Cc, &texts.cc}, {RecipientKind::Bcc, &texts.bcc}}};
    for (const auto& [kind, text] : boxes) {
        for (const QString& entry : mail::SplitRecipientText(*text)) {
            // A refused entry is read leniently here: the send names it.
            const QString address = mail::AddressOf(entry);
            check.recipients.push_back({kind, entry, address, IsOutsideDomain(address, ownAddress)});
        }
    }
    for (const QString& path : attachmentPaths) {
        const QFileInfo file(path);
        check.attachments.push_back({path, file.isFile() ? file.size() : -1});
    }
    return check;
}

bool MentionsAttachment(const QString& subject, const QString& body) {
    const auto speaksOfIt = [](QStringView text) {
        const QString form = SearchForm(text);
        return form.contains(QStringLiteral("添付")) || form.contains(QStringLiteral("attach"));
    };
    if (speaksOfIt(subject)) return true;
    for (QStringView line : QStringView(body).split(u'\n')) {
        if (line.endsWith(u'\r')) line.chop(1);
        // The signature delimiter of RFC 3676 4.3: what follows is the
        // signature, the same under every message.
        if (line == QStringLiteral("-- ")) break;
        const QStringView words = line.trimmed();
        if (words.startsWith(u'>') || words.startsWith(u'＞')) continue;
        if (speaksOfIt(words)) return true;
    }
    return false;
}

}  // namespace lumopet
