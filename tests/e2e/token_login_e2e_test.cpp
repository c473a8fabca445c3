// A login by OAuth2 access token, as it crosses the wire: SASL XOAUTH2
// (chosen although the servers offer OAUTHBEARER too), its initial response
// "user=<u>\x01auth=Bearer <t>\x01\x01", over TLS only, never to a server
// that cannot encrypt, not even on this machine; a refused token told
// apart from other failures, and never in an error text. Against the small
// servers of scripts/ (strict_pop3_server.py, strict_smtp_server.py), which
// write down what crossed.

#include "mail/mail_transport.h"
#include "tests/e2e/script_server.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

#include <string>

namespace lumopet::mail {
namespace {

using namespace Qt::StringLiterals;
using test::ScriptServer;

const QString kUser = u"alice@example.jp"_s;
const QString kToken = u"ya29.a0-test-token"_s;
const QByteArray kMessage = "From: alice@example.jp\r\nTo: bob@example.jp\r\nSubject: test\r\n\r\nhello\r\n";

// The token the servers take; the cases log in with it or with a stale one.
QStringList tokenArguments() { return {u"--token"_s, kUser + u':' + kToken}; }

struct TokenCase {
    const char* name;
    bool smtp;           // a send through strict_smtp_server.py, else a POP3 login
    QStringList server;  // the script's arguments after the token
    QString field;       // the server setting, %1 the port
    QString token;       // what the client logs in with
    // What must hold afterwards.
    bool succeeded;
    bool loginRefused;
    int authOverTls;  // AUTH commands the server saw over TLS (XOAUTH2 each)
    QString saying;   // a part of the error text, when it failed
};

struct Outcome {
    bool ok;
    bool loginRefused;
    QString error;
};

Outcome LogIn(const TokenCase& c, int port) {
    const auto transport = MakeCurlTransport({5, 5});
    const Credentials login = Credentials::bearer(kUser, c.token);
    if (c.smtp) {
        const SmtpStatus sent = transport->sendSmtp(c.field.arg(port), login, kUser, u"bob@example.jp"_s, kMessage);
        return {sent.ok(), sent.loginRefused, sent.ok() ? QString() : sent.error()};
    }
    auto session = transport->connectPop3(c.field.arg(port));
    if (!session.ok()) {
        ADD_FAILURE() << "no POP3 session: " << session.error().toStdString();
        return {false, false, session.error()};
    }
    const Pop3Login listed = session.value()->login(login);
    session.value()->quit();
    return {listed.ok(), listed.loginRefused, listed.ok() ? QString() : listed.error()};
}

class TokenLogin : public ::testing::TestWithParam<TokenCase> {};

// Every AUTH the server saw came over TLS, was XOAUTH2 and carried the
// initial response for the token; the record says how many there were.
TEST_P(TokenLogin, GoesByXoauth2OverTlsOnly) {
    const TokenCase& c = GetParam();
    ScriptServer server(c.smtp ? u"strict_smtp_server.py"_s : u"strict_pop3_server.py"_s, c.server + tokenArguments());
    ASSERT_TRUE(server.running());
    const Outcome outcome = LogIn(c, server.port());

    EXPECT_EQ(outcome.ok, c.succeeded) << outcome.error.toStdString();
    EXPECT_EQ(outcome.loginRefused, c.loginRefused);
    if (!outcome.ok) {
        EXPECT_TRUE(outcome.error.contains(c.saying)) << outcome.error.toStdString();
        EXPECT_FALSE(outcome.error.contains(c.token)) << outcome.error.toStdString();
    }
    const auto auths = server.events(u"auth"_s);
    EXPECT_EQ(static_cast<int>(auths.size()), c.authOverTls);
    for (const QJsonObject& auth : auths) {
        EXPECT_TRUE(auth.value(u"tls"_s).toBool()) << "a token crossed without TLS";
        EXPECT_EQ(auth.value(u"mechanism"_s).toString(), u"XOAUTH2"_s);
    }
    const auto responses = server.events(u"auth_response"_s);
    EXPECT_EQ(responses.size(), auths.size()) << "every AUTH carried its response";
    for (const QJsonObject& response : responses)
        EXPECT_EQ(response.value(u"response"_s).toString(),
                  u"user=alice@example.jp\x01" "auth=Bearer "_s + c.token + u"\x01\x01"_s);
    // No password command either, in the clear or not.
    EXPECT_TRUE(server.events(u"user"_s).empty());
    EXPECT_TRUE(server.events(u"pass"_s).empty());
    EXPECT_EQ(server.events(u"message"_s).size(), c.smtp && c.succeeded ? 1u : 0u);
}

const QStringList kStls{u"--mode"_s, u"stls"_s};
const QStringList kPop3NoTls{u"--mode"_s, u"no-tls"_s};
const QStringList kSubmission{u"--mode"_s, u"starttls-auth"_s};
const QStringList kSmtpAuthWithoutTls{u"--mode"_s, u"auth-without-tls"_s};
const QString kExpired = u"ya29.expired"_s;
constexpr bool kPop3 = false, kSmtp = true;

INSTANTIATE_TEST_SUITE_P(
    Servers, TokenLogin,
    ::testing::Values(
        TokenCase{"pop3_stls", kPop3, kStls, u"localhost:%1"_s, kToken, true, false, 1, {}},
        TokenCase{"pop3_stls_refused_token", kPop3, kStls, u"localhost:%1"_s, kExpired, false, true, 1, u"ログインを拒否"_s},
        // A server that offers the login in the clear gets nothing, not
        // even here on this machine.
        TokenCase{"pop3_no_stls_on_this_machine", kPop3, kPop3NoTls, u"127.0.0.1:%1"_s, kToken, false, false, 0, u"STLS"_s},
        TokenCase{"pop3_no_stls_pop3_scheme", kPop3, kPop3NoTls, u"pop3://localhost:%1"_s, kToken, false, false, 0, u"STLS"_s},
        TokenCase{"smtp_starttls", kSmtp, kSubmission, u"localhost:%1"_s, kToken, true, false, 1, {}},
        TokenCase{"smtp_starttls_refused_token", kSmtp, kSubmission, u"localhost:%1"_s, kExpired, false, true, 1, u"535"_s},
        // A server that echoes the token in its refusal: the text keeps
        // the reply but not the token.
        TokenCase{"smtp_refusal_echoing_the_token", kSmtp,
                  kSubmission + QStringList{u"--refuse"_s, u"auth=535 5.7.8 token ya29.a0-test-token not accepted"_s},
                  u"localhost:%1"_s, kToken, false, true, 1, u"5.7.8"_s},
        // smtp:// without STARTTLS sends nothing at all.
        TokenCase{"smtp_scheme_without_starttls", kSmtp, kSmtpAuthWithoutTls, u"smtp://127.0.0.1:%1"_s, kToken, false, false,
                  0, u"STARTTLS"_s},
        // The plain form sends the message without the login, as with a
        // password to a server elsewhere, even on this machine (where a
        // password may go in the clear).
        TokenCase{"smtp_plain_form_without_starttls_on_this_machine", kSmtp, kSmtpAuthWithoutTls, u"127.0.0.1:%1"_s, kToken,
                  true, false, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet::mail
