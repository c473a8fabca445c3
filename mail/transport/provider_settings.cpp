#include "mail/transport/provider_settings.h"

#include <QRegularExpression>
#include <QUrl>
#include <QXmlStreamReader>

namespace lumopet::mail {
namespace {

// One server element as read, with what decides whether it may be used.
struct ReadServer {
    QString type;  // "pop3", "imap", "smtp", ...
    ProviderServer server;
    bool socketKnown = true;
    bool anyMethod = false;  // at least one authentication element
};

// Texts in several languages: Japanese wins, then one without a language,
// then English, then the first.
struct LocalisedText {
    QString text;
    int rank = -1;

    void offer(const QString& lang, const QString& candidate) {
        const QString l = lang.toLower();
        const int r = l.startsWith(QStringLiteral("ja")) ? 3 : l.isEmpty() ? 2 : l.startsWith(QStringLiteral("en")) ? 1 : 0;
        if (r > rank && !candidate.trimmed().isEmpty()) {
            rank = r;
            text = candidate.simplified();
        }
    }
};

// The methods that send what a listener could use: a password as it is,
// one of the older names for it, and a bearer token. "password-encrypted"
// (CRAM-MD5, APOP) sends a digest, but a plain connection is still refused
// for it below: the program would log in with the password by itself.
bool sendsSecret(const QString& method) {
    static const QStringList secrets{QStringLiteral("password-cleartext"), QStringLiteral("plain"),
                                     QStringLiteral("password-encrypted"), QStringLiteral("secure"),
                                     QStringLiteral("oauth2")};
    return secrets.contains(method.toLower());
}

ReadServer readServer(QXmlStreamReader& xml) {
    ReadServer read;
    read.type = xml.attributes().value(QStringLiteral("type")).toString().toLower();
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        if (name == QStringLiteral("hostname")) {
            read.server.hostname = xml.readElementText().trimmed();
        } else if (name == QStringLiteral("port")) {
            bool ok = false;
            const int port = xml.readElementText().trimmed().toInt(&ok);
            read.server.port = ok ? port : 0;
        } else if (name == QStringLiteral("socketType")) {
            const QString socket = xml.readElementText().trimmed().toUpper();
            if (socket == QStringLiteral("SSL")) read.server.socket = SocketType::Ssl;
            else if (socket == QStringLiteral("STARTTLS")) read.server.socket = SocketType::StartTls;
            else if (socket == QStringLiteral("PLAIN")) read.server.socket = SocketType::Plain;
            else read.socketKnown = false;
        } else if (name == QStringLiteral("username")) {
            read.server.username = xml.readElementText().trimmed();
        } else if (name == QStringLiteral("authentication")) {
            const QString method = xml.readElementText().trimmed().toLower();
            read.anyMethod = true;
            if (method == QStringLiteral("oauth2")) read.server.oauth2 = true;
            else if (sendsSecret(method)) read.server.password = true;
        } else {
            xml.skipCurrentElement();
        }
    }
    // A server without an authentication element logs in with a password:
    // that is what clients do with such files.
    if (!read.anyMethod) read.server.password = true;
    return read;
}

OAuth2Provider readOAuth2(QXmlStreamReader& xml) {
    OAuth2Provider oauth;
    while (xml.readNextStartElement()) {
        const auto name = xml.name();
        if (name == QStringLiteral("issuer")) oauth.issuer = xml.readElementText().trimmed();
        else if (name == QStringLiteral("scope")) oauth.scope = xml.readElementText().simplified();
        else if (name == QStringLiteral("authURL")) oauth.authUrl = xml.readElementText().trimmed();
        else if (name == QStringLiteral("tokenURL")) oauth.tokenUrl = xml.readElementText().trimmed();
        else xml.skipCurrentElement();
    }
    return oauth;
}

// <enable visiturl=..><instruction lang=..>..</instruction></enable>, and
// <documentation url=..><descr lang=..>..</descr></documentation>.
ProviderNote readNote(QXmlStreamReader& xml, const QString& urlAttribute, const QString& textElement) {
    ProviderNote note;
    note.url = xml.attributes().value(urlAttribute).toString().trimmed();
    LocalisedText text;
    while (xml.readNextStartElement()) {
        if (xml.name() == textElement) {
            const QString lang = xml.attributes().value(QStringLiteral("lang")).toString();
            text.offer(lang, xml.readElementText());
        } else {
            xml.skipCurrentElement();
        }
    }
    note.text = text.text;
    return note;
}

// Only pages on the web are offered to be opened: a file: or javascript:
// link in a downloaded file must not reach the desktop's opener.
QString webUrlOrEmpty(const QString& url) {
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme().toLower();
    return parsed.isValid() && (scheme == QStringLiteral("https") || scheme == QStringLiteral("http")) &&
                   !parsed.host().isEmpty()
               ? parsed.toString()
               : QString();
}

int socketRank(SocketType socket) {
    switch (socket) {
    case SocketType::Ssl: return 0;
    case SocketType::StartTls: return 1;
    case SocketType::Plain: return 2;
    }
    return 3;
}

struct Choice {
    std::optional<ProviderServer> best;
    bool refusedPlain = false;
    bool refusedBroken = false;
};

// The usable servers of one kind, best first; a plain one that sends a
// secret is never usable.
Choice choose(const std::vector<ReadServer>& servers, const QString& type) {
    Choice choice;
    for (const ReadServer& read : servers) {
        if (read.type != type) continue;
        const ProviderServer& server = read.server;
        if (!read.socketKnown || server.hostname.isEmpty() || server.port < 1 || server.port > 65535) {
            choice.refusedBroken = true;
            continue;
        }
        if (server.socket == SocketType::Plain && (server.password || server.oauth2)) {
            choice.refusedPlain = true;
            continue;
        }
        if (!choice.best || socketRank(server.socket) < socketRank(choice.best->socket)) choice.best = server;
    }
    return choice;
}

QString fieldOf(const QString& host, int port, SocketType socket, const QString& implicitScheme,
                const QString& startTlsScheme) {
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    switch (socket) {
    case SocketType::Ssl: return QStringLiteral("%1://%2:%3").arg(implicitScheme, shownHost).arg(port);
    case SocketType::StartTls:
        if (!startTlsScheme.isEmpty()) return QStringLiteral("%1://%2:%3").arg(startTlsScheme, shownHost).arg(port);
        break;
    case SocketType::Plain: break;
    }
    return QStringLiteral("%1:%2").arg(shownHost).arg(port);
}

}  // namespace

Result<ProviderSettings> ParseProviderSettings(QByteArrayView file) {
    if (file.size() > kMaxProviderFileBytes)
        return Failure{QStringLiteral("設定ファイルが大きすぎます（%1 バイト、上限 1 MB）。").arg(file.size())};

    QXmlStreamReader xml(file.toByteArray());
    if (!xml.readNextStartElement() || xml.name() != QStringLiteral("clientConfig")) {
        if (xml.hasError())
            return Failure{QStringLiteral("設定ファイルが XML として読めません（%1 行目: %2）。")
                               .arg(xml.lineNumber())
                               .arg(xml.errorString())};
        return Failure{QStringLiteral("設定ファイルがメール設定（clientConfig）ではありません。")};
    }

    ProviderSettings settings;
    std::vector<ReadServer> servers;
    bool providerSeen = false;
    bool anyIncoming = false;
    auto readProvider = [&] {
        settings.id = xml.attributes().value(QStringLiteral("id")).toString().trimmed();
        while (xml.readNextStartElement()) {
            const auto name = xml.name();
            if (name == QStringLiteral("domain")) {
                const QString domain = xml.readElementText().trimmed().toLower();
                if (!domain.isEmpty() && !settings.domains.contains(domain)) settings.domains << domain;
            } else if (name == QStringLiteral("displayName")) {
                const QString shown = xml.readElementText().simplified();
                if (settings.displayName.isEmpty()) settings.displayName = shown;
            } else if (name == QStringLiteral("incomingServer")) {
                anyIncoming = true;
                servers.push_back(readServer(xml));
            } else if (name == QStringLiteral("outgoingServer")) {
                servers.push_back(readServer(xml));
            } else if (name == QStringLiteral("enable")) {
                settings.notes.push_back(readNote(xml, QStringLiteral("visiturl"), QStringLiteral("instruction")));
            } else if (name == QStringLiteral("documentation")) {
                settings.notes.push_back(readNote(xml, QStringLiteral("url"), QStringLiteral("descr")));
            } else if (name == QStringLiteral("oAuth2")) {
                settings.oauth2 = readOAuth2(xml);
            } else {
                xml.skipCurrentElement();
            }
        }
    };
    while (xml.readNextStartElement()) {
        if (xml.name() == QStringLiteral("emailProvider") && !providerSeen) {
            providerSeen = true;
            readProvider();
        } else if (xml.name() == QStringLiteral("oAuth2")) {
            settings.oauth2 = readOAuth2(xml);
        } else {
            xml.skipCurrentElement();
        }
    }
    // The whole file must be well formed, not only the part we used.
    while (!xml.atEnd()) xml.readNext();
    if (xml.hasError())
        return Failure{QStringLiteral("設定ファイルが XML として読めません（%1 行目: %2）。")
                           .arg(xml.lineNumber())
                           .arg(xml.errorString())};
    if (!providerSeen) return Failure{QStringLiteral("設定ファイルにプロバイダー（emailProvider）がありません。")};

    for (ProviderNote& note : settings.notes) note.url = webUrlOrEmpty(note.url);
    std::erase_if(settings.notes, [](const ProviderNote& n) { return n.text.isEmpty() && n.url.isEmpty(); });
    if (settings.oauth2 && (settings.oauth2->issuer.isEmpty() || webUrlOrEmpty(settings.oauth2->authUrl).isEmpty() ||
                            webUrlOrEmpty(settings.oauth2->tokenUrl).isEmpty()))
        settings.oauth2.reset();

    // No incoming server at all and a sentence for the user: the file is
    // the statement that this provider cannot be read over POP3.
    if (!anyIncoming && !settings.notes.empty()) return settings;

    const Choice pop3 = choose(servers, QStringLiteral("pop3"));
    if (!pop3.best) {
        if (pop3.refusedPlain)
            return Failure{QStringLiteral("POP3 サーバーが暗号化なしでパスワードを送る設定のため使いません。")};
        if (pop3.refusedBroken) return Failure{QStringLiteral("POP3 サーバーの設定が正しくありません。")};
        return Failure{QStringLiteral("設定ファイルに POP3 サーバーがありません。")};
    }
    const Choice smtp = choose(servers, QStringLiteral("smtp"));
    if (!smtp.best) {
        if (smtp.refusedPlain)
            return Failure{QStringLiteral("SMTP サーバーが暗号化なしでパスワードを送る設定のため使いません。")};
        if (smtp.refusedBroken) return Failure{QStringLiteral("SMTP サーバーの設定が正しくありません。")};
        return Failure{QStringLiteral("設定ファイルに SMTP サーバーがありません。")};
    }
    settings.pop3 = pop3.best;
    settings.smtp = smtp.best;
    return settings;
}

QString ExpandPlaceholders(const QString& text, const QString& address) {
    const qsizetype at = address.lastIndexOf(u'@');
    const QString local = at < 0 ? address : address.left(at);
    const QString domain = at < 0 ? QString() : address.mid(at + 1);
    QString expanded = text;
    expanded.replace(QStringLiteral("%EMAILADDRESS%"), address, Qt::CaseInsensitive);
    expanded.replace(QStringLiteral("%EMAILLOCALPART%"), local, Qt::CaseInsensitive);
    expanded.replace(QStringLiteral("%EMAILDOMAIN%"), domain, Qt::CaseInsensitive);
    return expanded;
}

bool IsPlainHostName(const QString& host) {
    // RFC 1123 labels: letters, digits and inner hyphens, at most 63 each.
    static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9](?:[A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    if (host.isEmpty() || host.size() > 253) return false;
    const QStringList labels = host.split(u'.');
    for (const QString& part : labels)
        if (!label.match(part).hasMatch()) return false;
    return true;
}

Result<MailAddressParts> SplitMailAddress(const QString& address) {
    const QString text = address.trimmed();
    const qsizetype at = text.lastIndexOf(u'@');
    const auto refused = Failure{QStringLiteral("メールアドレス「%1」が正しくありません。").arg(text)};
    if (at <= 0 || at == text.size() - 1) return refused;
    MailAddressParts parts{text.left(at), text.mid(at + 1).toLower()};
    // The local part goes into a URL and an INI value: no blanks, no
    // control characters, no second "@".
    for (QChar c : parts.localPart)
        if (c.isSpace() || c.category() == QChar::Other_Control || c == u'@') return refused;
    const QByteArray ace = QUrl::toAce(parts.domain);
    parts.domain = QString::fromLatin1(ace).toLower();
    if (!parts.domain.contains(u'.') || !IsPlainHostName(parts.domain)) return refused;
    return parts;
}

Result<FoundAccount> AccountFromProvider(const ProviderSettings& settings, const MailAddressParts& address,
                                         const QString& source) {
    FoundAccount found;
    found.providerName = settings.displayName.isEmpty() ? settings.id : settings.displayName;
    found.notes = settings.notes;
    found.source = source;
    if (!settings.offersPop3()) {
        found.noPop3 = true;
        return found;
    }
    const QString full = address.address();
    found.pop3Host = ExpandPlaceholders(settings.pop3->hostname, full).toLower();
    found.smtpHost = ExpandPlaceholders(settings.smtp->hostname, full).toLower();
    for (const QString& host : {found.pop3Host, found.smtpHost})
        if (!IsPlainHostName(host))
            return Failure{QStringLiteral("サーバー名「%1」が正しくありません。").arg(host)};
    found.pop3Port = settings.pop3->port;
    found.pop3Socket = settings.pop3->socket;
    found.smtpPort = settings.smtp->port;
    found.smtpSocket = settings.smtp->socket;
    const QString username = settings.pop3->username.isEmpty() ? QStringLiteral("%EMAILADDRESS%") : settings.pop3->username;
    found.userId = ExpandPlaceholders(username, full);
    if (settings.pop3->oauth2 && settings.oauth2) found.oauth2 = settings.oauth2;
    found.passwordSignIn = settings.pop3->password;
    if (!found.oauth2 && !found.passwordSignIn)
        return Failure{QStringLiteral("このプログラムが使えるログイン方法（パスワードまたは OAuth2）がありません。")};
    return found;
}

QString FoundAccount::pop3Field() const {
    // POP3 has no form that insists on STLS: a STARTTLS server is written
    // as host:port, which upgrades when the server offers it.
    return fieldOf(pop3Host, pop3Port, pop3Socket, QStringLiteral("pop3s"), QString());
}

QString FoundAccount::smtpField() const {
    return fieldOf(smtpHost, smtpPort, smtpSocket, QStringLiteral("smtps"), QStringLiteral("smtp"));
}

QString SocketTypeText(SocketType socket) {
    switch (socket) {
    case SocketType::Ssl: return QStringLiteral("SSL/TLS");
    case SocketType::StartTls: return QStringLiteral("STARTTLS");
    case SocketType::Plain: return QStringLiteral("なし");
    }
    return {};
}

}  // namespace lumopet::mail
