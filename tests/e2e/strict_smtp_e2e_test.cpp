// The SMTP delivery against servers as strict as those of providers and
// companies (scripts/strict_smtp_server.py): the name we greet with, where
// the password may go, what the user reads when the server says no, and
// 送信中止 while a server keeps us waiting.

#include "mail/mail_transport.h"
#include "mail/send_stop.h"
#include "mail/server_refusal.h"
#include "tests/e2e/script_server.h"
#include "tests/support/qt_printers.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace lumopet::mail {
namespace {

using namespace Qt::StringLiterals;

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

// One strict server for one case.
class StrictSmtpServer : public test::ScriptServer {
public:
    explicit StrictSmtpServer(const QStringList& arguments) : test::ScriptServer(u"strict_smtp_server.py"_s, arguments) {}
};

const QByteArray kMessage = "From: alice@example.jp\r\nTo: bob@example.jp\r\nSubject: test\r\n\r\nhello\r\n";

// Where the server field points, in the forms the settings accept.
enum class Form { Plain, Smtp, SmtpLocalhost };

QString serverField(Form form, int port) {
    switch (form) {
    case Form::Plain: return u"127.0.0.1:%1"_s.arg(port);
    case Form::Smtp: return u"smtp://127.0.0.1:%1"_s.arg(port);
    case Form::SmtpLocalhost: return u"smtp://localhost:%1"_s.arg(port);
    }
    return QString();
}

struct StrictCase {
    const char* name;
    QStringList server;  // the script's arguments
    Form form;
    const char* password;  // nullptr: no login; the ID is always "alice"
    bool clearLoginToLoopback;
    // What must hold afterwards.
    bool delivered;
    const char* sentence;  // the text's start (nullptr when delivered)
    const char* serverLine;  // the text's end, when the server refused
    int authInClear;     // AUTH commands the server saw without TLS
    int authOverTls;     // and over TLS
    bool relayRefused = false;
};
void PrintTo(const StrictCase& c, std::ostream* out) { *out << c.name; }

class StrictSmtp : public ::testing::TestWithParam<StrictCase> {};

TEST_P(StrictSmtp, Delivers) {
    const StrictCase& c = GetParam();
    StrictSmtpServer server(c.server);
    ASSERT_TRUE(server.running());
    TransportLimits limits{5, 5};
    limits.clearLoginToLoopback = c.clearLoginToLoopback;
    const Credentials login = c.password ? Credentials::password(u"alice"_s, QString::fromUtf8(c.password)) : Credentials{};
    const SmtpStatus sent = MakeCurlTransport(limits)->sendSmtp(serverField(c.form, server.port()), login,
                                                                u"alice@example.jp"_s, u"bob@example.jp"_s, kMessage);

    // Every greeting carried a name the strict server takes.
    const auto greetings = server.events(u"ehlo"_s);
    ASSERT_FALSE(greetings.empty());
    for (const QJsonObject& ehlo : greetings) {
        EXPECT_TRUE(ehlo.value(u"accepted"_s).toBool()) << ehlo.value(u"name"_s).toString().toStdString();
        EXPECT_NE(ehlo.value(u"name"_s).toString(), u"localhost"_s);
    }
    int inClear = 0, overTls = 0;
    for (const QJsonObject& auth : server.events(u"auth"_s)) ++(auth.value(u"tls"_s).toBool() ? overTls : inClear);
    EXPECT_EQ(inClear, c.authInClear) << "AUTH commands that crossed without TLS";
    EXPECT_EQ(overTls, c.authOverTls);

    const auto messages = server.events(u"message"_s);
    if (c.delivered) {
        EXPECT_TRUE(sent.ok()) << sent.error().toStdString();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].value(u"bytes"_s).toInt(), kMessage.size());
        EXPECT_EQ(messages[0].value(u"authenticated"_s).toBool(), c.authOverTls + c.authInClear > 0);
        return;
    }
    ASSERT_FALSE(sent.ok());
    EXPECT_FALSE(sent.stopped);
    EXPECT_EQ(sent.relayRefused, c.relayRefused);
    EXPECT_TRUE(sent.error().startsWith(QString::fromUtf8(c.sentence))) << sent.error().toStdString();
    if (c.serverLine) {
        EXPECT_TRUE(sent.error().endsWith(u"\n"_s + u"サーバーの応答："_s + QString::fromUtf8(c.serverLine)))
            << sent.error().toStdString();
    }
    // Only a refusal after the final "." comes when the server has seen
    // the message whole; every other one comes before it went out.
    const bool refusedAfterData = c.server.join(u' ').contains(u"end="_s);
    EXPECT_EQ(messages.size(), refusedAfterData ? 1u : 0u);
}

const QStringList kPostfix{u"--mode"_s, u"postfix"_s};
const QStringList kAuthWithoutTls{u"--mode"_s, u"auth-without-tls"_s, u"--account"_s, u"alice:secret"_s};
const QStringList kSubmission{u"--mode"_s, u"starttls-auth"_s, u"--account"_s, u"alice:secret"_s};
QStringList refusing(const QStringList& mode, const char* step, const char* reply) {
    return mode + QStringList{u"--refuse"_s, QString::fromUtf8(step) + u'=' + QString::fromUtf8(reply)};
}

const char* const kLoginSentence = "SMTP サーバーがログインを拒否したので、「設定」の「ID/PASS」で ID とパスワードを確かめてください。";

INSTANTIATE_TEST_SUITE_P(
    Servers, StrictSmtp,
    ::testing::Values(
        // The name we greet with, checked where Postfix checks it (at RCPT)
        // and at the EHLO itself.
        StrictCase{"ehlo_name_checked_at_rcpt", kPostfix, Form::Plain, nullptr, true, true, nullptr, nullptr, 0, 0},
        StrictCase{"ehlo_name_checked_at_ehlo", kPostfix + QStringList{u"--helo-check"_s, u"immediate"_s}, Form::Plain,
                   nullptr, true, true, nullptr, nullptr, 0, 0},
        // Where the password may go.
        StrictCase{"smtp_scheme_without_starttls_sends_nothing", kAuthWithoutTls, Form::Smtp, "secret", false, false,
                   "SMTP サーバー 127.0.0.1:", nullptr, 0, 0},
        StrictCase{"plain_form_auth_without_tls_sends_without_login", kAuthWithoutTls, Form::Plain, "secret", false, true,
                   nullptr, nullptr, 0, 0},
        StrictCase{"plain_form_auth_without_tls_on_this_machine_logs_in", kAuthWithoutTls, Form::Plain, "secret", true,
                   true, nullptr, nullptr, 1, 0},
        StrictCase{"plain_form_starttls_logs_in_over_tls", kSubmission, Form::Plain, "secret", false, true, nullptr,
                   nullptr, 0, 1},
        StrictCase{"smtp_scheme_starttls_logs_in_over_tls", kSubmission, Form::SmtpLocalhost, "secret", false, true,
                   nullptr, nullptr, 0, 1},
        // Refusals, each with its sentence first and the server's line last.
        StrictCase{"wrong_password", kSubmission, Form::Plain, "wrong", false, false, kLoginSentence,
                   "535 5.7.8 Error: authentication failed: authentication failure", 0, 1},
        StrictCase{"login_refused", refusing(kSubmission, "auth", "535 5.7.8 Authentication credentials invalid"),
                   Form::Plain, "secret", false, false, kLoginSentence, "535 5.7.8 Authentication credentials invalid", 0, 1},
        StrictCase{"login_required", kSubmission, Form::Plain, nullptr, false, false,
                   "SMTP サーバーがログインを求めているので、「設定」の「ID/PASS」で ID とパスワードを入れてください。",
                   "530 5.7.0 Authentication required", 0, 0},
        StrictCase{"recipient_refused",
                   refusing(kPostfix, "rcpt", "550 5.1.1 <bob@example.jp>: Recipient address rejected: User unknown"),
                   Form::Plain, nullptr, true, false,
                   "SMTP サーバーが宛先 <bob@example.jp> を受け付けなかったので、宛先のアドレスを確かめてください。",
                   "550 5.1.1 <bob@example.jp>: Recipient address rejected: User unknown", 0, 0},
        StrictCase{"relay_refused", refusing(kPostfix, "rcpt", "554 5.7.1 <bob@example.jp>: Relay access denied"),
                   Form::Plain, nullptr, true, false, "SMTP サーバーが宛先 <bob@example.jp> へのメールの中継を断ったので、",
                   "554 5.7.1 <bob@example.jp>: Relay access denied", 0, 0, true},
        // The login kept back leaves POP before SMTP as the way in.
        StrictCase{"relay_refused_with_login_withheld",
                   refusing(kAuthWithoutTls, "rcpt", "554 5.7.1 <bob@example.jp>: Relay access denied"), Form::Plain,
                   "secret", false, false, "SMTP サーバーが宛先 <bob@example.jp> へのメールの中継を断ったので、",
                   "554 5.7.1 <bob@example.jp>: Relay access denied", 0, 0, true},
        StrictCase{"sender_refused",
                   refusing(kPostfix, "mail", "553 5.7.1 <alice@example.jp>: Sender address rejected: not owned by user"),
                   Form::Plain, nullptr, true, false, "SMTP サーバーが差出人のアドレス <alice@example.jp> を受け付けなかったので、",
                   "553 5.7.1 <alice@example.jp>: Sender address rejected: not owned by user", 0, 0, true},
        StrictCase{"too_large", refusing(kPostfix, "mail", "552 5.3.4 Message size exceeds fixed limit"), Form::Plain,
                   nullptr, true, false, "メールが SMTP サーバーの受け付ける大きさを超えているので、",
                   "552 5.3.4 Message size exceeds fixed limit", 0, 0},
        StrictCase{"greeting_name_refused",
                   refusing(kPostfix, "helo", "504 5.5.2 <x>: Helo command rejected: need fully-qualified hostname"),
                   Form::Plain, nullptr, true, false, "SMTP サーバーがこのコンピューターの名乗り（EHLO）を受け付けなかったので、",
                   "504 5.5.2 <x>: Helo command rejected: need fully-qualified hostname", 0, 0},
        StrictCase{"refused_after_data", refusing(kPostfix, "end", "554 5.7.1 Message rejected as spam"), Form::Plain,
                   nullptr, true, false, "SMTP サーバーがこのメールを受け付けなかったので、",
                   "554 5.7.1 Message rejected as spam", 0, 0},
        StrictCase{"temporary_after_data", refusing(kPostfix, "end", "451 4.3.0 Error: queue file write error"),
                   Form::Plain, nullptr, true, false, "SMTP サーバーがこのメールを今は受け付けないので、しばらくしてから送り直してください。",
                   "451 4.3.0 Error: queue file write error", 0, 0}),
    CaseName);

// The strict server is as strict as it says: "EHLO localhost" gets
// Postfix's refusal, at RCPT.
TEST(StrictSmtpServerItself, RefusesAGreetingWithLocalhost) {
    StrictSmtpServer server(kPostfix);
    ASSERT_TRUE(server.running());
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(server.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const char script[] = "EHLO localhost\r\nMAIL FROM:<a@example.jp>\r\nRCPT TO:<b@example.jp>\r\nQUIT\r\n";
    ASSERT_EQ(::send(fd, script, std::strlen(script), MSG_NOSIGNAL), static_cast<ssize_t>(std::strlen(script)));
    std::string said;
    char buffer[4096];
    for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) said.append(buffer, static_cast<size_t>(got));
    ::close(fd);
    EXPECT_NE(said.find("504 5.5.2 <localhost>: Helo command rejected"), std::string::npos) << said;
}

// 送信中止 against servers that keep us waiting.
struct StopCase {
    const char* name;
    const char* mode;
    qsizetype messageBytes;
    // Broken off within about a second of the stop; otherwise the message
    // was out whole, and the server's answer (here a time-out) decides.
    bool stopped;
};
void PrintTo(const StopCase& c, std::ostream* out) { *out << c.name; }

class SendStop : public ::testing::TestWithParam<StopCase> {
protected:
    void TearDown() override { ClearSendStop(); }
};

TEST_P(SendStop, EndsAsTheMessageStands) {
    const StopCase& c = GetParam();
    StrictSmtpServer server({u"--mode"_s, QString::fromUtf8(c.mode)});
    ASSERT_TRUE(server.running());
    // A message larger than every socket buffer on the way: a server that
    // reads none of it leaves most of it with us.
    QByteArray message = "Subject: big\r\n\r\n";
    while (message.size() < c.messageBytes) message += QByteArray(76, 'a') + "\r\n";

    ClearSendStop();
    QElapsedTimer clock;
    clock.start();
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        RequestSendStop();
    });
    const SmtpStatus sent = MakeCurlTransport({5, 4})->sendSmtp(u"127.0.0.1:%1"_s.arg(server.port()), {},
                                                                u"alice@example.jp"_s, u"bob@example.jp"_s, message);
    const qint64 elapsed = clock.elapsed();
    stopper.join();

    EXPECT_FALSE(sent.ok());
    EXPECT_EQ(sent.stopped, c.stopped) << sent.error().toStdString();
    if (c.stopped) {
        EXPECT_EQ(sent.error(), SendStoppedText());
        EXPECT_LT(elapsed, 1500 + 2000) << "the stop took too long";
        EXPECT_TRUE(server.events(u"message"_s).empty()) << "a message broken off must not reach the server whole";
    } else {
        EXPECT_GE(elapsed, 4000) << "a message out whole waits for the server's answer";
        EXPECT_LT(elapsed, 4000 + 2500) << "one time-out, not a second one for QUIT";
        EXPECT_EQ(server.events(u"message"_s).size(), 1u);
        EXPECT_FALSE(sent.error().contains(SendStoppedText()));
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, SendStop,
                         ::testing::Values(StopCase{"never_greets", "silent", 1000, true},
                                           StopCase{"stops_reading_the_message", "stall-data", 24 << 20, true},
                                           StopCase{"never_answers_the_final_dot", "stall-end", 1000, false}),
                         CaseName);

}  // namespace
}  // namespace lumopet::mail
