// The libcurl transport against servers that accept the connection and then
// say nothing, or too little: the call must end with a time-out, not hang.

#include "mail/curl_common.h"
#include "mail/ehlo_name.h"
#include "mail/mail_transport.h"
#include "mail/server_refusal.h"
#include "tests/support/silent_server.h"
#include "tests/support/qt_printers.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumopet::mail {
namespace {

using test::SilentServer;

TEST(CurlTransport, ASilentPop3ServerEndsInATimeOut) {
    SilentServer server;
    auto transport = MakeCurlTransport({2, 2});
    QElapsedTimer clock;
    clock.start();
    auto session = transport->connectPop3(server.hostAndPort());
    ASSERT_TRUE(session.ok()) << "the connection itself is accepted";
    const auto login = session.value()->login(Credentials::password(QStringLiteral("u"), QStringLiteral("p")));
    EXPECT_FALSE(login.ok());
    EXPECT_TRUE(login.error().contains(server.hostAndPort())) << login.error().toStdString();
    EXPECT_TRUE(login.error().contains(QStringLiteral("時間切れ"))) << login.error().toStdString();
    EXPECT_LT(clock.elapsed(), 10000);
}

TEST(CurlTransport, ASilentSmtpServerEndsInATimeOut) {
    SilentServer server;
    auto transport = MakeCurlTransport({2, 2});
    QElapsedTimer clock;
    clock.start();
    const auto sent = transport->sendSmtp(server.hostAndPort(), {}, QStringLiteral("a@localhost"),
                                          QStringLiteral("b@localhost"), "Subject: x\r\n\r\nx\r\n");
    EXPECT_FALSE(sent.ok());
    EXPECT_LT(clock.elapsed(), 10000);
}

// A POP3 server that logs anyone in, lists one message, and after RETR
// sends its reply a few bytes a second (or nothing at all) for as long as
// the client waits. It counts the RETR commands it was sent, on any
// connection.
class SlowRetrServer {
public:
    explicit SlowRetrServer(int bytesPerSecond) : bytesPerSecond_(bytesPerSecond), server_() {
        thread_ = std::thread([this] { serve(); });
    }
    ~SlowRetrServer() {
        stop_ = true;
        ::shutdown(server_.fd(), SHUT_RDWR);
        thread_.join();
    }
    QString hostAndPort() const { return server_.hostAndPort(); }
    int retrCount() const { return retrs_; }

private:
    static bool sendText(int fd, const char* text) { return ::send(fd, text, std::strlen(text), MSG_NOSIGNAL) >= 0; }

    void serve() {
        while (!stop_) {
            const int client = ::accept(server_.fd(), nullptr, nullptr);
            if (client < 0) return;
            talk(client);
            ::close(client);
        }
    }

    void talk(int client) {
        sendText(client, "+OK ready\r\n");
        std::string line;
        char c;
        while (!stop_ && ::recv(client, &c, 1, 0) == 1) {
            if (c != '\n') {
                line += c;
                continue;
            }
            const std::string command = line.substr(0, line.find_first_of(" \r"));
            line.clear();
            if (command == "CAPA") sendText(client, "+OK\r\nUSER\r\nUIDL\r\n.\r\n");
            else if (command == "LIST") sendText(client, "+OK\r\n1 300\r\n.\r\n");
            else if (command == "UIDL") sendText(client, "+OK\r\n1 a1\r\n.\r\n");
            else if (command == "QUIT") return void(sendText(client, "+OK\r\n"));
            else if (command != "RETR") sendText(client, "+OK\r\n");
            else {
                ++retrs_;
                sendText(client, "+OK\r\n");
                // Below zero: as fast as it can, without end.
                const std::string flood(1 << 16, 'x');
                while (!stop_) {
                    if (bytesPerSecond_ < 0 && !sendText(client, flood.c_str())) return;
                    if (bytesPerSecond_ < 0) continue;
                    if (bytesPerSecond_ > 0 && !sendText(client, std::string(static_cast<size_t>(bytesPerSecond_), 'x').c_str()))
                        return;
                    std::this_thread::sleep_for(std::chrono::seconds(1));
                }
            }
        }
    }

    const int bytesPerSecond_;
    SilentServer server_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> retrs_{0};
};

struct SlowRetrCase {
    const char* name;
    int bytesPerSecond;  // -1: a flood
    bool intoFile;       // as a large message is fetched, to a sink
};

class SlowRetr : public ::testing::TestWithParam<SlowRetrCase> {};

// A transfer that makes too little progress ends in a time-out, one that
// sends without end stops at the limit, and the command is never sent a
// second time on a connection of its own.
TEST_P(SlowRetr, EndsInATimeOutWithOneRetr) {
    SlowRetrServer server(GetParam().bytesPerSecond);
    auto transport = MakeCurlTransport({2, 3});
    QElapsedTimer clock;
    clock.start();
    auto session = transport->connectPop3(server.hostAndPort());
    ASSERT_TRUE(session.ok()) << session.error().toStdString();
    const auto login = session.value()->login(Credentials::password(QStringLiteral("u"), QStringLiteral("p")));
    ASSERT_TRUE(login.ok()) << login.error().toStdString();
    qint64 taken = 0;
    const auto sink = [&taken](QByteArrayView slice) {
        taken += slice.size();
        return success();
    };
    const bool ok = GetParam().intoFile ? session.value()->retrieveInto(1, sink, 4 << 20).ok()
                                        : session.value()->retrieve(1).ok();
    EXPECT_FALSE(ok);
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_EQ(server.retrCount(), 1);
    EXPECT_LE(taken, 4 << 20);
}

INSTANTIATE_TEST_SUITE_P(Servers, SlowRetr,
                         ::testing::Values(SlowRetrCase{"Silent", 0, false}, SlowRetrCase{"Trickling", 3, false},
                                           SlowRetrCase{"SilentIntoFile", 0, true},
                                           SlowRetrCase{"TricklingIntoFile", 3, true},
                                           SlowRetrCase{"FloodingIntoFile", -1, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The name we greet with: ours when it is fully qualified, else the
// literal of our end of the connection.
struct EhloCase {
    const char* name;
    const char* canonical;  // what getaddrinfo's AI_CANONNAME gave
    const char* literal;    // our end of the connection
    const char* chosen;
};
void PrintTo(const EhloCase& c, std::ostream* out) { *out << c.name; }

class EhloName : public ::testing::TestWithParam<EhloCase> {};

TEST_P(EhloName, IsTheFullNameOrTheAddressLiteral) {
    EXPECT_EQ(ChooseEhloName(QString::fromUtf8(GetParam().canonical), QString::fromUtf8(GetParam().literal)),
              QString::fromUtf8(GetParam().chosen));
}

INSTANTIATE_TEST_SUITE_P(
    Machines, EhloName,
    ::testing::Values(EhloCase{"fully_qualified", "pc12.example.co.jp", "[192.0.2.10]", "pc12.example.co.jp"},
                      EhloCase{"final_dot_dropped", "PC12.Example.JP.", "[192.0.2.10]", "pc12.example.jp"},
                      EhloCase{"bare_hostname", "vm", "[192.0.2.10]", "[192.0.2.10]"},
                      EhloCase{"localhost", "localhost", "[127.0.0.1]", "[127.0.0.1]"},
                      EhloCase{"localhost_localdomain", "localhost.localdomain", "[192.0.2.10]", "[192.0.2.10]"},
                      EhloCase{"any_localdomain", "pc12.localdomain", "[IPv6:2001:db8::5]", "[IPv6:2001:db8::5]"},
                      EhloCase{"under_localhost", "pc12.localhost", "[192.0.2.10]", "[192.0.2.10]"},
                      EhloCase{"an_address_as_a_name", "192.0.2.10", "[192.0.2.10]", "[192.0.2.10]"},
                      EhloCase{"underscore", "my_pc.example.jp", "[192.0.2.10]", "[192.0.2.10]"},
                      EhloCase{"label_starts_with_hyphen", "-pc.example.jp", "[192.0.2.10]", "[192.0.2.10]"},
                      EhloCase{"empty_label", "pc..example.jp", "[192.0.2.10]", "[192.0.2.10]"},
                      EhloCase{"label_of_64", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.example.jp",
                               "[192.0.2.10]", "[192.0.2.10]"},
                      EhloCase{"no_name_at_all", "", "[192.0.2.10]", "[192.0.2.10]"},
                      EhloCase{"nothing_known", "vm", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(EhloName, AddressLiteralsAreRfc5321s) {
    struct {
        int family;
        const char* address;
        const char* literal;
    } const cases[] = {
        {AF_INET, "192.0.2.10", "[192.0.2.10]"},
        {AF_INET, "127.0.0.1", "[127.0.0.1]"},
        {AF_INET6, "2001:db8::1", "[IPv6:2001:db8::1]"},
        {AF_INET6, "::1", "[IPv6:::1]"},
        // An IPv4 connection on an IPv6 socket names the IPv4 address.
        {AF_INET6, "::ffff:192.0.2.10", "[192.0.2.10]"},
    };
    for (const auto& c : cases) {
        sockaddr_storage storage{};
        if (c.family == AF_INET) {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
            v4->sin_family = AF_INET;
            ASSERT_EQ(inet_pton(AF_INET, c.address, &v4->sin_addr), 1);
        } else {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
            v6->sin6_family = AF_INET6;
            ASSERT_EQ(inet_pton(AF_INET6, c.address, &v6->sin6_addr), 1);
        }
        EXPECT_EQ(AddressLiteral(reinterpret_cast<sockaddr*>(&storage)), QString::fromUtf8(c.literal)) << c.address;
    }
    sockaddr_storage unix{};
    unix.ss_family = AF_UNIX;
    EXPECT_TRUE(AddressLiteral(reinterpret_cast<sockaddr*>(&unix)).isEmpty());
}

// A refusal is put in one Japanese sentence about what to do, then the
// server's own line.
struct RefusalCase {
    const char* name;
    SmtpStep step;
    const char* reply;
    std::string sentence;
    bool loginWithheld = false;
};
void PrintTo(const RefusalCase& c, std::ostream* out) { *out << c.name; }

class SmtpRefusalText : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(SmtpRefusalText, SaysWhatToDoThenGivesTheServersLine) {
    const RefusalCase& c = GetParam();
    const QString text = DescribeSmtpRefusal({c.step, QString::fromUtf8(c.reply), QStringLiteral("alice@example.jp"),
                                              QStringLiteral("bob@example.jp"), c.loginWithheld});
    EXPECT_EQ(text, QString::fromStdString(c.sentence) + QStringLiteral("\nサーバーの応答：") + QString::fromUtf8(c.reply));
}

const char* const kIdPass = "「設定」の「ID/PASS」で ID とパスワードを確かめてください。";
const char* const kLater = "しばらくしてから送り直してください。";
std::string join(const char* a, const char* b) { return std::string(a) + b; }
const std::string kLoginRefused = join("SMTP サーバーがログインを拒否したので、", kIdPass);
const std::string kRecipientRefused = "SMTP サーバーが宛先 <bob@example.jp> を受け付けなかったので、宛先のアドレスを確かめてください。";
const std::string kRelayRefused = join("SMTP サーバーが宛先 <bob@example.jp> へのメールの中継を断ったので、", kIdPass);
const std::string kSenderRefused =
    "SMTP サーバーが差出人のアドレス <alice@example.jp> を受け付けなかったので、「設定」の「POPサーバー」で自分のメールアドレスを確かめてください。";
const std::string kTooLarge = "メールが SMTP サーバーの受け付ける大きさを超えているので、添付ファイルを減らすか小さくしてから送り直してください。";
const std::string kMailboxFull =
    "宛先 <bob@example.jp> のメールボックスがいっぱいで受け取れないので、しばらくしてから送り直すか、別の方法で相手に知らせてください。";
const std::string kHelo = "SMTP サーバーがこのコンピューターの名乗り（EHLO）を受け付けなかったので、サーバーの管理者に確かめてください。";
const std::string kMessageRefused = "SMTP サーバーがこのメールを受け付けなかったので、本文と添付ファイルを見直すか、サーバーの管理者に確かめてください。";

INSTANTIATE_TEST_SUITE_P(
    Replies, SmtpRefusalText,
    ::testing::Values(
        RefusalCase{"login_535", SmtpStep::Login, "535 5.7.8 Authentication credentials invalid", kLoginRefused},
        RefusalCase{"login_temporary", SmtpStep::Login, "454 4.7.0 Temporary authentication failure",
                    "SMTP サーバーに今はログインできないので、しばらくしてから送り直してください。"},
        RefusalCase{"login_required", SmtpStep::Sender, "530 5.7.0 Authentication required",
                    "SMTP サーバーがログインを求めているので、「設定」の「ID/PASS」で ID とパスワードを入れてください。"},
        RefusalCase{"login_required_but_kept_back", SmtpStep::Recipient, "530 5.7.0 Authentication required",
                    "SMTP サーバーがログインを求めていますが、暗号化（TLS）なしでしかログインできないサーバーなので、ID "
                    "とパスワードは送っていません。サーバー名を「smtps://」で始めるか、サーバーの管理者に確かめてください。",
                    true},
        RefusalCase{"recipient_unknown", SmtpStep::Recipient, "550 5.1.1 <bob@example.jp>: Recipient address rejected",
                    kRecipientRefused},
        RefusalCase{"recipient_unknown_multiline_style", SmtpStep::Recipient, "550-5.1.1 The email account does not exist",
                    kRecipientRefused},
        RefusalCase{"recipient_without_enhanced_code", SmtpStep::Recipient, "550 no such mailbox here", kRecipientRefused},
        RefusalCase{"recipient_greylisted", SmtpStep::Recipient, "450 4.2.0 <bob@example.jp>: Recipient address rejected: Greylisted",
                    join("SMTP サーバーが宛先 <bob@example.jp> を今は受け付けないので、", kLater)},
        RefusalCase{"relay_denied", SmtpStep::Recipient, "554 5.7.1 <bob@example.jp>: Relay access denied", kRelayRefused},
        RefusalCase{"relaying_without_code", SmtpStep::Recipient, "550 relaying denied", kRelayRefused},
        RefusalCase{"mailbox_full", SmtpStep::Recipient, "552 5.2.2 Mailbox full", kMailboxFull},
        RefusalCase{"sender_refused", SmtpStep::Sender, "553 5.1.8 <alice@example.jp>: Sender address rejected: Domain not found",
                    kSenderRefused},
        RefusalCase{"size_at_mail", SmtpStep::Sender, "552 5.3.4 Message size exceeds fixed limit", kTooLarge},
        RefusalCase{"size_after_data", SmtpStep::Message, "552 5.2.3 Message length exceeds administrative limit",
                    kTooLarge},
        RefusalCase{"size_without_enhanced_code", SmtpStep::Message, "552 Too much mail data", kTooLarge},
        RefusalCase{"spam_after_data", SmtpStep::Message, "554 5.7.1 Message rejected as spam", kMessageRefused},
        RefusalCase{"content_after_data", SmtpStep::Message, "554 5.6.0 Message content rejected",
                    "SMTP サーバーがこのメールの形式を受け付けなかったので、本文と添付ファイルを見直してください。"},
        RefusalCase{"temporary_after_data", SmtpStep::Message, "451 4.3.0 Error: queue file write error",
                    join("SMTP サーバーがこのメールを今は受け付けないので、", kLater)},
        RefusalCase{"helo", SmtpStep::Hello, "504 5.5.2 <x>: Helo command rejected: need fully-qualified hostname",
                    kHelo},
        // Postfix says at RCPT what it found wrong before.
        RefusalCase{"helo_checked_at_rcpt", SmtpStep::Recipient,
                    "504 5.5.2 <localhost>: Helo command rejected: need fully-qualified hostname", kHelo},
        RefusalCase{"sender_checked_at_rcpt", SmtpStep::Recipient,
                    "553 5.7.1 <alice@example.jp>: Sender address rejected: not owned by user", kSenderRefused},
        RefusalCase{"client_checked_at_rcpt", SmtpStep::Recipient,
                    "554 5.7.1 <pc12.example.jp[192.0.2.10]>: Client host rejected: Access denied",
                    "SMTP サーバーがこのコンピューターからの接続を断ったので、サーバー名とポート番号を確かめるか、サーバーの管理者に問い合わせてください。"},
        RefusalCase{"greeting_refused", SmtpStep::Greeting, "554 5.7.1 Service unavailable; client host blocked",
                    "SMTP サーバーがこのコンピューターからの接続を断ったので、サーバー名とポート番号を確かめるか、サーバーの管理者に問い合わせてください。"},
        RefusalCase{"closing_at_any_step", SmtpStep::Recipient, "421 4.7.0 Too many connections",
                    join("SMTP サーバーが今は受け付けられないと接続を切ったので、", kLater)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Pop3RefusalText, SaysTheLoginWasRefusedThenGivesTheServersLine) {
    struct {
        const char* reply;
        const char* sentence;
    } const cases[] = {
        {"-ERR [AUTH] Authentication failed.", "POP3 サーバーがログインを拒否したので、「設定」の「ID/PASS」で ID とパスワードを確かめてください。"},
        {"-ERR invalid password", "POP3 サーバーがログインを拒否したので、「設定」の「ID/PASS」で ID とパスワードを確かめてください。"},
        {"-ERR [IN-USE] Mailbox is locked by another POP3 session.",
         "POP3 サーバーが今はログインを受け付けないので、しばらくしてから受信し直してください。"},
        {"-ERR [LOGIN-DELAY] Wait a while", "POP3 サーバーが今はログインを受け付けないので、しばらくしてから受信し直してください。"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribePop3LoginRefusal(QString::fromUtf8(c.reply)),
                  QString::fromUtf8(c.sentence) + QStringLiteral("\nサーバーの応答：") + QString::fromUtf8(c.reply));
}

// A POP3 server that refuses every password: the refusal reaches the user
// through curl with the sentence first.
TEST(CurlTransport, APop3LoginRefusalIsExplained) {
    SilentServer listening;
    // The transport's reachability check comes first, on a connection of
    // its own.
    std::thread server([&listening] {
        for (int client; (client = ::accept(listening.fd(), nullptr, nullptr)) >= 0;) {
            auto say = [client](const char* text) { ::send(client, text, std::strlen(text), MSG_NOSIGNAL); };
            say("+OK ready\r\n");
            std::string line;
            char c;
            while (::recv(client, &c, 1, 0) == 1) {
                if (c != '\n') {
                    line += c;
                    continue;
                }
                if (line.rfind("CAPA", 0) == 0) say("+OK\r\nUSER\r\n.\r\n");
                else if (line.rfind("PASS", 0) == 0) say("-ERR [AUTH] Authentication failed.\r\n");
                else if (line.rfind("QUIT", 0) == 0) {
                    say("+OK\r\n");
                    break;
                } else say("+OK\r\n");
                line.clear();
            }
            ::close(client);
        }
    });
    auto transport = MakeCurlTransport({5, 5});
    auto session = transport->connectPop3(listening.hostAndPort());
    Pop3Login login = Failure{session.ok() ? QString() : session.error()};
    if (session) {
        login = session.value()->login(Credentials::password(QStringLiteral("u"), QStringLiteral("wrong")));
        session.value().reset();
    }
    ::shutdown(listening.fd(), SHUT_RDWR);
    server.join();
    ASSERT_TRUE(session.ok()) << session.error().toStdString();
    ASSERT_FALSE(login.ok());
    EXPECT_TRUE(login.error().startsWith(QStringLiteral("POP3 サーバーがログインを拒否したので、"))) << login.error().toStdString();
    EXPECT_TRUE(login.error().endsWith(QStringLiteral("-ERR [AUTH] Authentication failed."))) << login.error().toStdString();
    EXPECT_TRUE(login.loginRefused) << "a refused login is told from other failures";
}


// A server may echo what it was sent into its refusal, which becomes the
// text the user reads: the secret goes, as written and in the base64 of
// the initial responses, and the rest of the reply stays.
TEST(WithoutSecret, TakesTheSecretOutOfAnyFormAServerMayEcho) {
    using namespace Qt::StringLiterals;
    const Credentials token = Credentials::bearer(u"alice@example.jp"_s, u"ya29.secret-token"_s);
    const Credentials password = Credentials::password(u"alice"_s, u"p4ssw0rd!"_s);
    const QByteArray xoauth2 = QByteArray("user=alice@example.jp\x01" "auth=Bearer ya29.secret-token\x01\x01").toBase64();
    const QByteArray plain = QByteArray("\0alice\0p4ssw0rd!", 16).toBase64();
    struct {
        const char* name;
        Credentials login;
        QString text;
        QString kept;  // what of the text must stay
    } cases[] = {
        {"token as written", token, u"535 5.7.8 token ya29.secret-token expired"_s, u"535 5.7.8 token "_s},
        {"token in base64", token, u"-ERR bad "_s + QString::fromLatin1(QByteArray("ya29.secret-token").toBase64()), u"-ERR bad "_s},
        {"xoauth2 initial response", token, u"501 cannot decode "_s + QString::fromLatin1(xoauth2), u"501 cannot decode "_s},
        {"plain initial response", password, u"-ERR [AUTH] "_s + QString::fromLatin1(plain) + u" refused"_s, u" refused"_s},
        {"password as written", password, u"535 p4ssw0rd! is wrong"_s, u" is wrong"_s},
        {"nothing to take", password, u"-ERR [AUTH] Authentication failed."_s, u"-ERR [AUTH] Authentication failed."_s},
    };
    for (const auto& c : cases) {
        const QString said = WithoutSecret(c.text, c.login);
        EXPECT_FALSE(said.contains(c.login.secret)) << c.name << ": " << said.toStdString();
        EXPECT_FALSE(said.contains(QString::fromLatin1(c.login.secret.toUtf8().toBase64()))) << c.name;
        EXPECT_FALSE(said.contains(QString::fromLatin1(xoauth2))) << c.name;
        EXPECT_FALSE(said.contains(QString::fromLatin1(plain))) << c.name;
        EXPECT_TRUE(said.contains(c.kept)) << c.name << ": " << said.toStdString();
    }
}

}  // namespace
}  // namespace lumopet::mail
