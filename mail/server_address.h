#pragma once
// What the server fields of the settings may hold, and the URL curl gets.
// The plain host name of the old settings still works; a port or a URL
// scheme chooses TLS.

#include "core/result.h"

#include <QString>

namespace lumopet::mail {

enum class MailProtocol { Pop3, Smtp };

enum class TlsMode {
    // Plain connection, upgraded (STLS / STARTTLS) when the server offers it.
    UpgradeWhenOffered,
    // TLS from the first byte: pop3s:// and smtps://.
    Implicit,
    // smtp://: STARTTLS or nothing. Whoever can strip the STARTTLS line from
    // the server's EHLO reply could otherwise read the login and the mail.
    StartTlsRequired,
};

struct ServerAddress {
    MailProtocol protocol = MailProtocol::Pop3;
    QString host;
    int port = 0;
    TlsMode tls = TlsMode::UpgradeWhenOffered;

    // "pop3://host:110", "smtps://host:465", ... (IPv6 hosts in brackets).
    QString url() const;
};

// Accepts "host", "host:port", "[v6]:port", "pop3://host[:port]",
// "pop3s://host[:port]", "smtp://host[:port]", "smtps://host[:port]"
// (a trailing "/" is fine). Blanks around the text are ignored. Default
// ports: POP3 110, POP3S 995, SMTP 25, SMTPS 465. "smtp://" asks for
// STARTTLS and sends nothing without it; a plain host upgrades when the
// server offers it; "pop3://" is the plain form's other spelling.
lumopet::Result<ServerAddress> ParseServerAddress(const QString& text, MailProtocol protocol);

// A host that names this machine itself: "localhost" (and names under it,
// RFC 6761 6.3), 127.0.0.0/8, ::1. What goes there never crosses a network.
bool IsLoopbackHost(const QString& host);

}  // namespace lumopet::mail
