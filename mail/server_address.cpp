#include "mail/server_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace lumopet::mail {
namespace {

Failure invalid(const QString& text) {
    return Failure{QStringLiteral("サーバー名「%1」が正しくありません。").arg(text)};
}

}  // namespace

QString ServerAddress::url() const {
    QString scheme = protocol == MailProtocol::Pop3 ? QStringLiteral("pop3") : QStringLiteral("smtp");
    if (tls == TlsMode::Implicit) scheme += u's';
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1://%2:%3").arg(scheme, shownHost).arg(port);
}

lumopet::Result<ServerAddress> ParseServerAddress(const QString& text, MailProtocol protocol) {
    QString rest = text.trimmed();
    if (rest.isEmpty()) return invalid(text);

    const QString plainScheme = protocol == MailProtocol::Pop3 ? QStringLiteral("pop3") : QStringLiteral("smtp");
    const QString tlsScheme = plainScheme + u's';
    ServerAddress address;
    address.protocol = protocol;
    const qsizetype schemeEnd = rest.indexOf(QStringLiteral("://"));
    if (schemeEnd >= 0) {
        const QString scheme = rest.left(schemeEnd).toLower();
        if (scheme == tlsScheme) address.tls = TlsMode::Implicit;
        else if (scheme != plainScheme) return invalid(text);
        else if (protocol == MailProtocol::Smtp) address.tls = TlsMode::StartTlsRequired;
        rest = rest.mid(schemeEnd + 3);
        while (rest.endsWith(u'/')) rest.chop(1);
    }

    QString portText;
    if (rest.startsWith(u'[')) {  // [IPv6]:port
        const qsizetype close = rest.indexOf(u']');
        if (close < 0) return invalid(text);
        address.host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':')) return invalid(text);
            portText = after.mid(1);
        }
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        // More than one colon without brackets: a bare IPv6 address.
        if (colon >= 0 && rest.indexOf(u':') == colon) {
            address.host = rest.left(colon);
            portText = rest.mid(colon + 1);
        } else {
            address.host = rest;
        }
    }
    if (address.host.isEmpty() || address.host.contains(u'/') || address.host.contains(u' ')) return invalid(text);

    if (portText.isEmpty()) {
        const bool implicit = address.tls == TlsMode::Implicit;
        address.port = protocol == MailProtocol::Pop3 ? (implicit ? 995 : 110) : (implicit ? 465 : 25);
    } else {
        bool ok = false;
        address.port = portText.toInt(&ok);
        if (!ok || address.port < 1 || address.port > 65535) return invalid(text);
    }
    return address;
}

bool IsLoopbackHost(const QString& host) {
    const QString name = host.toLower();
    if (name == QStringLiteral("localhost") || name.endsWith(QStringLiteral(".localhost"))) return true;
    const QByteArray text = name.toLatin1();
    in_addr v4{};
    if (inet_pton(AF_INET, text.constData(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.constData(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
        // ::ffff:127.x.y.z
        return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
    }
    return false;
}

}  // namespace lumopet::mail
