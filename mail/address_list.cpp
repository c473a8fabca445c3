#include "mail/address_list.h"

#include "mail/gmime_handles.h"

#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <memory>

namespace lumopet::mail {
namespace {

// GMime's cast macros are C casts; they are used here and nowhere else.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
bool IsMailbox(InternetAddress* address) { return INTERNET_ADDRESS_IS_MAILBOX(address); }
InternetAddressMailbox* AsMailbox(InternetAddress* address) { return INTERNET_ADDRESS_MAILBOX(address); }
#pragma GCC diagnostic pop

struct ParserOptionsFree {
    void operator()(GMimeParserOptions* options) const { g_mime_parser_options_free(options); }
};

// RFC 5321 4.5.3.1: 64 octets of local part, 254 of the whole path.
constexpr qsizetype kMaxLocalPart = 64;
constexpr qsizetype kMaxAddress = 254;

// Walks a recipient text as addresses are read: a quoted string ("..."
// with backslash escapes) and a comment ((...), nested) hide what they
// hold. visit(index, outside) is called for every other character, outside
// false within an angle-addr's brackets. Returns false when a quote,
// comment or bracket is left open.
template <class Visit>
bool Walk(QStringView text, Visit visit) {
    bool quoted = false, angle = false;
    int comment = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if ((quoted || comment > 0) && c == u'\\') {
            ++i;
            continue;
        }
        if (quoted) {
            quoted = c != u'"';
        } else if (comment > 0) {
            comment += c == u'(' ? 1 : c == u')' ? -1 : 0;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u'(') {
            comment = 1;
        } else {
            visit(i, !angle || c == u'>');
            if (c == u'<') angle = true;
            if (c == u'>') angle = false;
        }
    }
    return !quoted && comment == 0 && !angle;
}

bool IsSeparator(QChar c) { return c == u',' || c == u';' || c == u'、'; }

bool HasControl(QStringView text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

bool IsAscii(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// A domain in its ASCII form: LDH labels (RFC 1035 2.3.1, RFC 5890), or
// an address literal (RFC 5321 4.1.3). Empty when it is neither.
QString AsciiDomain(const QString& domain) {
    static const QRegularExpression literal(QStringLiteral(R"(^\[(\d{1,3}(\.\d{1,3}){3}|IPv6:[0-9A-Fa-f:.]+)\]$)"));
    if (domain.startsWith(u'[')) return literal.match(domain).hasMatch() ? domain : QString();
    const QString ace = QString::fromLatin1(QUrl::toAce(domain));
    static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    if (ace.isEmpty() || ace.size() > 253) return QString();
    const QStringList labels = ace.split(u'.');
    const bool valid = std::all_of(labels.begin(), labels.end(),
                                   [](const QString& l) { return label.match(l).hasMatch(); });
    return valid ? ace : QString();
}

QString Named(const QString& label, const QString& entry) {
    return label.isEmpty() ? QStringLiteral("「%1」").arg(entry) : QStringLiteral("%1「%2」").arg(label, entry);
}

Failure NotAnAddress(const QString& label, const QString& entry) {
    return Failure{Named(label, entry) + QStringLiteral("はメールアドレスとして正しくありません。")};
}

// How many "@" the entry holds outside quoted strings and comments.
int AtSigns(QStringView entry) {
    int count = 0;
    Walk(entry, [&](qsizetype i, bool) { count += entry[i] == u'@'; });
    return count;
}

Result<Mailbox> ParseEntry(const QString& entry, const QString& label) {
    std::unique_ptr<GMimeParserOptions, ParserOptionsFree> options(g_mime_parser_options_new());
    g_mime_parser_options_set_address_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_STRICT);
    const QByteArray utf8 = entry.toUtf8();
    GObjectPtr<InternetAddressList> list(internet_address_list_parse(options.get(), utf8.constData()));
    const int count = list ? internet_address_list_length(list.get()) : 0;
    if (count > 1)
        return Failure{Named(label, entry) +
                       QStringLiteral("には複数のアドレスがあります。アドレスは「,」で区切って入力してください。")};
    if (count != 1) return NotAnAddress(label, entry);
    InternetAddress* address = internet_address_list_get_address(list.get(), 0);
    if (!IsMailbox(address)) return NotAnAddress(label, entry);

    const QString addrSpec = QString::fromUtf8(internet_address_mailbox_get_addr(AsMailbox(address)));
    const qsizetype at = addrSpec.lastIndexOf(u'@');
    if (at <= 0 || at == addrSpec.size() - 1) return NotAnAddress(label, entry);
    // GMime reads "a@b@c" as "a@b" and drops the rest: a mailbox has one
    // "@" outside quotes and comments.
    const QString local = addrSpec.left(at);
    if (AtSigns(entry) != 1) return NotAnAddress(label, entry);
    // RFC 5322 4.4 lets blanks stand around the "@" and the dots; typed,
    // "you @example.jp" is more likely a slip than that address.
    if (!entry.contains(addrSpec, Qt::CaseInsensitive)) return NotAnAddress(label, entry);
    if (!IsAscii(local))
        return Failure{Named(label, entry) +
                       QStringLiteral("は @ より前に半角英数字以外の文字を含みます。このようなアドレスへは送信できません"
                                      "（相手のサーバーと SMTPUTF8 で送る必要があります）。")};
    const QString domain = AsciiDomain(addrSpec.mid(at + 1));
    if (domain.isEmpty() || local.size() > kMaxLocalPart || local.size() + 1 + domain.size() > kMaxAddress)
        return NotAnAddress(label, entry);

    const char* name = internet_address_get_name(address);
    return Mailbox{QString::fromUtf8(name ? name : "").trimmed(), addrSpec, local + u'@' + domain};
}

// "名前 <a@b>" read without the parser: the part between the first "<"
// outside quotes and comments and its ">" (or the end), else the text.
QString LenientAddress(const QString& text) {
    qsizetype open = -1;
    Walk(text, [&](qsizetype i, bool) {
        if (open < 0 && text[i] == u'<') open = i;
    });
    if (open < 0) return text.trimmed();
    const qsizetype close = text.indexOf(u'>', open);
    return text.mid(open + 1, close < 0 ? -1 : close - open - 1).trimmed();
}

}  // namespace

QStringList SplitRecipientText(const QString& text) {
    QStringList entries;
    qsizetype start = 0;
    Walk(text, [&](qsizetype i, bool outside) {
        if (!outside || !IsSeparator(text[i])) return;
        entries.append(text.mid(start, i - start).trimmed());
        start = i + 1;
    });
    entries.append(text.mid(start).trimmed());
    entries.removeAll(QString());
    return entries;
}

Result<QList<Mailbox>> ParseAddressList(const QString& text, const QString& label) {
    const QString trimmed = text.trimmed();
    if (HasControl(trimmed)) {
        // "BCC に", "宛先に": a blank between Latin letters and Japanese.
        const QString box = label.isEmpty() ? QStringLiteral("アドレス") : IsAscii(label) ? label + u' ' : label;
        return Failure{box + QStringLiteral("に改行が含まれています。アドレスは一行で、「,」で区切って入力してください。")};
    }
    if (!Walk(trimmed, [](qsizetype, bool) {})) {
        // A quote, comment or bracket left open: name the entry it opens in.
        const QStringList entries = SplitRecipientText(trimmed);
        return NotAnAddress(label, entries.isEmpty() ? trimmed : entries.last());
    }
    QList<Mailbox> mailboxes;
    for (const QString& entry : SplitRecipientText(trimmed)) {
        Result<Mailbox> parsed = ParseEntry(entry, label);
        if (!parsed) return Failure{parsed.error()};
        mailboxes.append(parsed.value());
    }
    return mailboxes;
}

Mailbox FirstMailbox(const QString& text) {
    const Result<QList<Mailbox>> parsed = ParseAddressList(text);
    if (parsed && !parsed.value().isEmpty()) return parsed.value().first();
    const QString address = LenientAddress(text);
    const qsizetype at = address.lastIndexOf(u'@');
    const QString domain = at < 0 ? QString() : AsciiDomain(address.mid(at + 1));
    return Mailbox{QString(), address, domain.isEmpty() ? address : address.left(at + 1) + domain};
}

}  // namespace lumopet::mail
