#pragma once
// The project's own Dovecot and SMTP server on loopback, started by
// scripts/mail_servers.py, for tests against real servers.

#include "core/result.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace lumopet::test {

// "prefix1:pw1" to "prefixN:pwN": the accounts a test program's servers hold.
inline QStringList NumberedAccounts(const QString& prefix, int count) {
    QStringList accounts;
    for (int i = 1; i <= count; ++i) accounts << QStringLiteral("%1%2:pw%2").arg(prefix).arg(i);
    return accounts;
}

// A plain UTF-8 text message from sender@localhost, as a test delivers it.
inline QByteArray TextMessage(const QString& subject, const QString& body) {
    return (QStringLiteral("From: sender@localhost\r\nSubject: %1\r\nMIME-Version: 1.0\r\n"
                           "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n%2\r\n")
                .arg(subject, body))
        .toUtf8();
}

// What the authorization server answered a sign-in or a refresh. A refresh
// answers no refresh token with --oauth2-omit-refresh-token: it stays empty.
struct OAuthTokens {
    QString accessToken;
    QString refreshToken;
    int expiresIn = 0;
};

// The start options of an authorization server that signs in user, whose
// tokens live lifetimeSeconds; rotate: each refresh answers a new refresh
// token and revokes the old one. Brings up Dovecot's submission too.
QStringList OAuth2Options(const QString& user, int lifetimeSeconds = 3600, bool rotate = false);

class LocalMailServers {
public:
    // accounts: "user:password" each. startOptions go to the script's start
    // as they are: {"--smtp-auth", "required"}, {"--pop-before-smtp"},
    // {"--submission"} or OAuth2Options(...).
    explicit LocalMailServers(const QStringList& accounts, const QStringList& startOptions = {});
    ~LocalMailServers();
    LocalMailServers(const LocalMailServers&) = delete;
    LocalMailServers& operator=(const LocalMailServers&) = delete;

    bool running() const { return error_.isEmpty(); }
    const QString& error() const { return error_; }

    QString pop3() const { return QStringLiteral("127.0.0.1:%1").arg(pop3Port_); }
    QString pop3s() const { return QStringLiteral("pop3s://localhost:%1").arg(pop3sPort_); }
    QString pop3WithStls() const { return QStringLiteral("localhost:%1").arg(pop3Port_); }
    QString smtp() const { return QStringLiteral("127.0.0.1:%1").arg(smtpPort_); }
    QString smtpWithStartTls() const { return QStringLiteral("smtp://localhost:%1").arg(smtpPort_); }
    QString smtps() const { return QStringLiteral("smtps://localhost:%1").arg(smtpsPort_); }
    const QString& caFile() const { return caFile_; }

    // Dovecot's SMTP submission (with --submission or --oauth2): the same
    // logins as POP3, mail relayed to the SMTP server above. Port 0 without.
    QString submissionWithStartTls() const { return QStringLiteral("smtp://localhost:%1").arg(submissionPort_); }
    QString submissions() const { return QStringLiteral("smtps://localhost:%1").arg(submissionsPort_); }
    int submissionPort() const { return submissionPort_; }

    // The authorization server (with --oauth2): "http://127.0.0.1:PORT",
    // empty without; its endpoints are /authorize, /token, /introspect.
    const QString& oauth2Url() const { return oauth2Url_; }
    QString authorizeUrl() const { return oauth2Url_ + QStringLiteral("/authorize"); }
    QString tokenUrl() const { return oauth2Url_ + QStringLiteral("/token"); }
    // A whole sign-in (authorization code with PKCE) as a desktop client
    // makes it, for tests that need a token without the program's flow.
    lumopet::Result<OAuthTokens> signIn() const;
    lumopet::Result<OAuthTokens> refresh(const QString& refreshToken) const;
    // Every access token issued so far expires now / every refresh token
    // is revoked.
    bool expireAccessTokens() const;
    bool revokeRefreshTokens() const;
    // {"authorize": n, "token": {"authorization_code": n, "refresh_token": n},
    // "introspect": n}: every request the server had; empty when unknown.
    QJsonObject oauth2Stats() const;
    // Leaves a message waiting in the account's mailbox, bytes as given.
    bool deliver(const QString& account, const QByteArray& message) const;
    // The same from a file: for messages too large to pass around.
    bool deliverFile(const QString& account, const QString& path) const;
    // How many messages wait in the account's mailbox; -1 when unknown.
    int count(const QString& account) const;

private:
    QByteArray runScript(const QStringList& arguments, const QByteArray& input = {}, bool* ok = nullptr) const;
    lumopet::Result<QJsonObject> askOAuth2(const QString& action, const QByteArray& input = {}) const;

    QTemporaryDir dir_;
    QString error_;
    int pop3Port_ = 0, pop3sPort_ = 0, smtpPort_ = 0, smtpsPort_ = 0;
    int submissionPort_ = 0, submissionsPort_ = 0;
    QString caFile_;
    QString oauth2Url_;
};

// One set of servers for all the tests of a program, started before the
// first test and trusted by the mail layer (LUMOPET_CA_FILE).
class MailServersEnvironment : public ::testing::Environment {
public:
    explicit MailServersEnvironment(QStringList accounts, QStringList startOptions = {})
        : accounts_(std::move(accounts)), startOptions_(std::move(startOptions)) {}
    void SetUp() override;
    void TearDown() override;

    // The running servers, between SetUp and TearDown.
    static inline LocalMailServers* servers = nullptr;

private:
    QStringList accounts_;
    QStringList startOptions_;
};

}  // namespace lumopet::test
