// The mail transport logging in with OAuth2 access tokens (SASL XOAUTH2) to
// our own Dovecot, which asks scripts/oauth2_server.py about each token it
// is given: POP3 over TLS, a send through Dovecot's SMTP submission, the
// refusal of a token that expired and the login after its refresh, and no
// token at all for a POP3 server without TLS.

#include "mail/mail_transport.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/qt_printers.h"
#include "tests/support/silent_server.h"

#include <QByteArray>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

namespace lumopet {
namespace {

using mail::Credentials;

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

// alice signs in with OAuth2; bob keeps a password and receives the sends.
[[maybe_unused]] const auto* const serversEnvironment = ::testing::AddGlobalTestEnvironment(
    new test::MailServersEnvironment({QStringLiteral("alice:alice-pw"), QStringLiteral("bob:bob-pw")},
                                     test::OAuth2Options(QStringLiteral("alice"))));

test::OAuthTokens SignIn() {
    const Result<test::OAuthTokens> tokens = servers->signIn();
    EXPECT_TRUE(tokens) << tokens.error().toStdString();
    return tokens ? tokens.value() : test::OAuthTokens{};
}

Credentials Alice(const QString& token) { return Credentials::bearer(QStringLiteral("alice"), token); }

// How many tokens Dovecot has asked the authorization server about.
int Introspections() { return servers->oauth2Stats().value(QStringLiteral("introspect")).toInt(-1); }

// One session: connect, log in as login says, quit. The listing, or the failure.
mail::Pop3Login LogInPop3(const QString& server, const Credentials& login) {
    const std::unique_ptr<mail::MailTransport> transport = mail::MakeCurlTransport();
    Result<std::unique_ptr<mail::Pop3Session>> session = transport->connectPop3(server);
    if (!session) return Failure{session.error()};
    mail::Pop3Login listed = session.value()->login(login);
    session.value()->quit();
    return listed;
}

mail::SmtpStatus Send(const QString& server, const Credentials& login, const QString& subject) {
    return mail::MakeCurlTransport()->sendSmtp(server, login, QStringLiteral("alice@localhost"),
                                               QStringLiteral("bob@localhost"),
                                               test::TextMessage(subject, QStringLiteral("本文")));
}

// One of Dovecot's TLS services, as the account's server setting.
struct ServerRow {
    const char* name;
    QString (test::LocalMailServers::*server)() const;
};

auto RowName = [](const auto& info) { return std::string(info.param.name); };

// --- POP3

class TokenPop3 : public ::testing::TestWithParam<ServerRow> {};

TEST_P(TokenPop3, ATokenOfTheSignInLogsInAndListsTheMailbox) {
    ASSERT_TRUE(servers->deliver(QStringLiteral("alice"), test::TextMessage(QStringLiteral("待っている"), QStringLiteral("a"))));
    const int waiting = servers->count(QStringLiteral("alice"));
    const int asked = Introspections();
    const test::OAuthTokens tokens = SignIn();

    const mail::Pop3Login listed = LogInPop3((servers->*GetParam().server)(), Alice(tokens.accessToken));

    ASSERT_TRUE(listed) << listed.error().toStdString();
    EXPECT_EQ(int(listed.value().size()), waiting);
    EXPECT_EQ(Introspections(), asked + 1);
}

INSTANTIATE_TEST_SUITE_P(Tls, TokenPop3,
                         ::testing::Values(ServerRow{"Pop3s", &test::LocalMailServers::pop3s},
                                           ServerRow{"Stls", &test::LocalMailServers::pop3WithStls}),
                         RowName);

struct RefusedRow {
    const char* name;
    QString user;
    QString token;  // empty: the sign-in's access token
};

class RefusedToken : public ::testing::TestWithParam<RefusedRow> {};

// The server says no to the login itself: the caller may refresh and try again.
TEST_P(RefusedToken, IsALoginRefusalSaidWithoutTheToken) {
    const test::OAuthTokens tokens = SignIn();
    const QString token = GetParam().token.isEmpty() ? tokens.accessToken : GetParam().token;

    const mail::Pop3Login listed = LogInPop3(servers->pop3s(), Credentials::bearer(GetParam().user, token));

    ASSERT_FALSE(listed);
    EXPECT_TRUE(listed.loginRefused) << listed.error().toStdString();
    EXPECT_FALSE(listed.error().contains(token)) << listed.error().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Pop3s, RefusedToken,
                         ::testing::Values(RefusedRow{"NeverIssued", QStringLiteral("alice"), QStringLiteral("x-not-issued")},
                                           RefusedRow{"OfAnotherUser", QStringLiteral("bob"), {}}),
                         RowName);

TEST(TokenRefresh, AnExpiredTokenIsRefusedAndTheRefreshedOneLogsIn) {
    const test::OAuthTokens tokens = SignIn();
    ASSERT_TRUE(servers->expireAccessTokens());
    const mail::Pop3Login refused = LogInPop3(servers->pop3s(), Alice(tokens.accessToken));
    ASSERT_TRUE(refused.loginRefused) << refused.error().toStdString();
    EXPECT_FALSE(refused.error().contains(tokens.accessToken)) << refused.error().toStdString();

    const Result<test::OAuthTokens> refreshed = servers->refresh(tokens.refreshToken);
    ASSERT_TRUE(refreshed) << refreshed.error().toStdString();
    const mail::Pop3Login listed = LogInPop3(servers->pop3s(), Alice(refreshed.value().accessToken));
    EXPECT_TRUE(listed) << listed.error().toStdString();
}

// A POP3 server on loopback that offers no STLS: it records what it is sent.
class PlainPop3Server {
public:
    PlainPop3Server() : thread_([this] { serve(); }) {}
    ~PlainPop3Server() {
        ::shutdown(listener_.fd(), SHUT_RDWR);
        thread_.join();
    }

    QString pop3Url() const { return QStringLiteral("pop3://") + listener_.hostAndPort(); }
    QByteArray received() {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    // One connection after another (the transport looks at the greeting
    // before its session connects) until the listening socket is shut.
    void serve() {
        for (int client; (client = ::accept(listener_.fd(), nullptr, nullptr)) >= 0;) converse(client);
    }
    void converse(int client) {
        answer(client, "+OK plain POP3 ready\r\n");
        QByteArray pending;
        char buffer[1024];
        for (ssize_t got; (got = ::read(client, buffer, sizeof buffer)) > 0;) {
            pending.append(buffer, got);
            {
                std::lock_guard lock(mutex_);
                received_.append(buffer, got);
            }
            for (qsizetype end; (end = pending.indexOf("\r\n")) >= 0; pending.remove(0, end + 2)) {
                const QByteArray command = pending.left(end).toUpper();
                if (command == "CAPA") {
                    answer(client, "+OK\r\nUSER\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\nUIDL\r\n.\r\n");
                } else if (command == "QUIT") {
                    answer(client, "+OK bye\r\n");
                } else {
                    answer(client, "-ERR not here\r\n");
                }
            }
        }
        ::close(client);
    }
    static void answer(int client, const char* text) {
        const ssize_t length = ssize_t(qstrlen(text));
        EXPECT_EQ(::write(client, text, size_t(length)), length);
    }

    test::SilentServer listener_;  // declared first: listening before the thread starts
    std::mutex mutex_;
    QByteArray received_;
    std::thread thread_;
};

TEST(PlainPop3, AServerWithoutTlsGetsNoToken) {
    const test::OAuthTokens tokens = SignIn();
    PlainPop3Server plain;

    const mail::Pop3Login listed = LogInPop3(plain.pop3Url(), Alice(tokens.accessToken));

    EXPECT_FALSE(listed);
    EXPECT_FALSE(listed.loginRefused);
    const QByteArray sent = plain.received();
    EXPECT_FALSE(sent.contains(tokens.accessToken.toUtf8())) << sent.toStdString();
    const QByteArray base64 = QByteArray("user=alice\x01" "auth=Bearer ").append(tokens.accessToken.toUtf8()).toBase64();
    EXPECT_FALSE(sent.contains(base64.left(16))) << sent.toStdString();
    EXPECT_FALSE(sent.toUpper().contains("AUTH ")) << sent.toStdString();
    EXPECT_FALSE(listed.error().contains(tokens.accessToken));
}

// --- SMTP submission

class TokenSubmission : public ::testing::TestWithParam<ServerRow> {};

TEST_P(TokenSubmission, AMessageSentWithATokenArrives) {
    const int before = servers->count(QStringLiteral("bob"));
    const test::OAuthTokens tokens = SignIn();

    const mail::SmtpStatus sent = Send((servers->*GetParam().server)(), Alice(tokens.accessToken), QStringLiteral("トークンで送信"));

    ASSERT_TRUE(sent) << sent.error().toStdString();
    EXPECT_EQ(servers->count(QStringLiteral("bob")), before + 1);
}

INSTANTIATE_TEST_SUITE_P(Tls, TokenSubmission,
                         ::testing::Values(ServerRow{"StartTls", &test::LocalMailServers::submissionWithStartTls},
                                           ServerRow{"Implicit", &test::LocalMailServers::submissions}),
                         RowName);

TEST(SubmissionRefusal, AnExpiredTokenIsALoginRefusalAndSendsNothing) {
    const int before = servers->count(QStringLiteral("bob"));
    const test::OAuthTokens tokens = SignIn();
    ASSERT_TRUE(servers->expireAccessTokens());

    const mail::SmtpStatus sent = Send(servers->submissionWithStartTls(), Alice(tokens.accessToken), QStringLiteral("届かない"));

    ASSERT_FALSE(sent);
    EXPECT_TRUE(sent.loginRefused) << sent.error().toStdString();
    EXPECT_FALSE(sent.error().contains(tokens.accessToken));
    EXPECT_EQ(servers->count(QStringLiteral("bob")), before);
}

}  // namespace
}  // namespace lumopet
