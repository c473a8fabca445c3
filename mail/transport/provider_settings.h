#pragma once
// A mail provider's settings as its autoconfig file gives them (the
// "config-v1.1.xml" format that mail clients share: clientConfig /
// emailProvider with incomingServer, outgoingServer, oAuth2, enable and
// documentation), and the account they make for one address.
//
// This program speaks POP3 only: IMAP servers in a file are passed over.
// A file whose provider offers no POP3 at all says so by having no
// incoming server and a documentation sentence; it reads as a refusal
// the user is shown (the address cannot be used here), not as an error of
// the file.

#include "core/result.h"
#include "core/settings_files/account_options.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace lumopet::mail {

// Larger autoconfig files are refused unread: real ones are a few KB.
inline constexpr qsizetype kMaxProviderFileBytes = 1024 * 1024;

enum class SocketType { Ssl, StartTls, Plain };

struct ProviderServer {
    QString hostname;  // may hold %EMAILDOMAIN% and the like
    int port = 0;
    SocketType socket = SocketType::Ssl;
    QString username;  // "%EMAILADDRESS%", "%EMAILLOCALPART%", ...
    bool password = false;  // a password method is listed
    bool oauth2 = false;    // "OAuth2" is listed
};

struct OAuth2Provider {
    QString issuer;
    QString scope;
    QString authUrl;
    QString tokenUrl;
};

// A step the provider asks of the user, or a page about the account: the
// text in Japanese when the file has it, and the page.
struct ProviderNote {
    QString text;
    QString url;
};

struct ProviderSettings {
    QString id;
    QString displayName;
    QStringList domains;  // lower case
    std::optional<ProviderServer> pop3;  // empty: the provider offers no POP3
    std::optional<ProviderServer> smtp;
    std::optional<OAuth2Provider> oauth2;
    std::vector<ProviderNote> notes;  // enable first, then documentation

    bool offersPop3() const { return pop3.has_value(); }
};

// Reads an autoconfig file. Refused, with the reason as a Japanese line:
// over kMaxProviderFileBytes, not XML (or not a clientConfig), no POP3
// server (unless the file is the statement that the provider has none), no
// SMTP server, and a server that would send a password or a token over a
// connection without TLS. Of several POP3 (SMTP) servers the first over
// implicit TLS wins, then the first with STARTTLS, then the first plain
// one that sends no secret.
Result<ProviderSettings> ParseProviderSettings(QByteArrayView file);

// %EMAILADDRESS%, %EMAILLOCALPART% and %EMAILDOMAIN% replaced.
QString ExpandPlaceholders(const QString& text, const QString& address);

// "user@Example.JP" split and checked: a local part, one "@", a domain of
// letters, digits and hyphens between dots (an international one in its
// ACE form), lower case.
struct MailAddressParts {
    QString localPart;
    QString domain;
    QString address() const { return localPart + u'@' + domain; }
};
Result<MailAddressParts> SplitMailAddress(const QString& address);

// A host name as a server field may hold it.
bool IsPlainHostName(const QString& host);

// What the setup window shows and writes: the servers in the form of the
// server fields of sorane.ini (mail/server_address.h), the ID, the ways of
// signing in, the notes, and where it was found.
struct FoundAccount {
    QString providerName;
    QString pop3Host;
    int pop3Port = 0;
    SocketType pop3Socket = SocketType::Ssl;
    QString smtpHost;
    int smtpPort = 0;
    SocketType smtpSocket = SocketType::Ssl;
    QString userId;
    // OAuth2 when the provider takes it (and its issuer), else password.
    bool passwordSignIn = true;
    std::optional<OAuth2Provider> oauth2;
    std::vector<ProviderNote> notes;
    QString source;  // Japanese: "同梱の設定ファイル gmail.com.xml", ...
    // The provider has no POP3: the notes say so and nothing is written.
    bool noPop3 = false;

    QString pop3Field() const;  // "pop3s://host:995", "host:110"
    QString smtpField() const;  // "smtps://host:465", "smtp://host:587", "host:25"
    // The sign-in the provider prefers: OAuth2 when offered.
    SignInMethod preferredSignIn() const { return oauth2 ? SignInMethod::OAuth2 : SignInMethod::Password; }
};

// The account the settings make for the address; a server name that is no
// host name once the placeholders are filled is refused.
Result<FoundAccount> AccountFromProvider(const ProviderSettings& settings, const MailAddressParts& address,
                                         const QString& source);

// "SSL/TLS", "STARTTLS", "なし" for the window.
QString SocketTypeText(SocketType socket);

}  // namespace lumopet::mail
