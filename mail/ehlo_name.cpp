#include "mail/ehlo_name.h"

#include <QStringList>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace lumopet::mail {
namespace {

bool isLabel(QStringView label) {
    if (label.isEmpty() || label.size() > 63) return false;
    if (label.front() == u'-' || label.back() == u'-') return false;
    for (const QChar c : label) {
        const char16_t u = c.unicode();
        const bool letterOrDigit = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9');
        if (!letterOrDigit && u != u'-') return false;
    }
    return true;
}

}  // namespace

bool IsFullyQualifiedHostName(const QString& name) {
    QString host = name.toLower();
    if (host.endsWith(u'.')) host.chop(1);
    if (host.isEmpty() || host.size() > 253) return false;
    const QStringList labels = host.split(u'.');
    if (labels.size() < 2) return false;
    for (const QString& label : labels)
        if (!isLabel(label)) return false;
    // An all-digit last label is an address written as a name
    // ("192.0.2.10"): that goes in brackets, as a literal, or not at all.
    bool digitsOnly = true;
    for (const QChar c : labels.last()) digitsOnly = digitsOnly && c.isDigit();
    if (digitsOnly) return false;
    if (labels.first() == QStringLiteral("localhost") || labels.last() == QStringLiteral("localdomain") ||
        labels.last() == QStringLiteral("localhost"))
        return false;
    return true;
}

QString AddressLiteral(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        if (!inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text)) return QString();
        return QStringLiteral("[%1]").arg(QString::fromLatin1(text));
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr)) {
            in_addr v4{};
            std::memcpy(&v4, &v6->sin6_addr.s6_addr[12], sizeof v4);
            if (!inet_ntop(AF_INET, &v4, text, sizeof text)) return QString();
            return QStringLiteral("[%1]").arg(QString::fromLatin1(text));
        }
        // inet_ntop leaves out a link-local address's zone ("%eth0"), which
        // has no place in a literal.
        if (!inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text)) return QString();
        return QStringLiteral("[IPv6:%1]").arg(QString::fromLatin1(text));
    }
    return QString();
}

QString ChooseEhloName(const QString& canonicalHostName, const QString& localAddressLiteral) {
    if (IsFullyQualifiedHostName(canonicalHostName)) {
        QString name = canonicalHostName.toLower();
        if (name.endsWith(u'.')) name.chop(1);
        return name;
    }
    return localAddressLiteral;
}

QString MachineCanonicalName() {
    static const QString name = [] {
        char host[256] = {};
        if (gethostname(host, sizeof host - 1) != 0) return QString();
        addrinfo hints{};
        hints.ai_flags = AI_CANONNAME;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return QString::fromLatin1(host);
        std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, &freeaddrinfo);
        return QString::fromLatin1(found->ai_canonname ? found->ai_canonname : host);
    }();
    return name;
}

}  // namespace lumopet::mail
