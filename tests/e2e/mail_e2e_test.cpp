// The mail layer against real servers: our own Dovecot (POP3, POP3S, STLS,
// plain login and APOP) and SMTP server on loopback.

#include "core/cp932.h"
#include "mail/mail_library.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

// Registered before main runs the tests: one set of servers for them all.
[[maybe_unused]] const auto* const serversEnvironment = ::testing::AddGlobalTestEnvironment(new test::MailServersEnvironment(
    {QStringLiteral("alice:alice-pw"), QStringLiteral("bob:bob pw"), QStringLiteral("carol:carol-pw"),
     QStringLiteral("dave:dave-pw")}));

struct Received {
    MailTexts texts;
    QString bodyBefore;  // as the tag search sees it
    QString bodyAfter;   // after the attachment step
    int attachmentResult = 0;
};

// What the last call of these tests said when it failed: each call of the
// layer gives its own text, the helpers below keep it here.
QString said;

QString lastError() { return said; }

int connectPop3(const QString& server) { return NMailPop3Connect(server, said); }

int logIn(int handle, const QString& user, const QString& password, bool apop = false) {
    const int result = NMailPop3Authenticate(handle, apop ? mail::Credentials::apop(user, password)
                                                          : mail::Credentials::password(user, password));
    if (result < 0) said = LastMailError(handle);
    return result;
}

// One mail check the way the receive code runs it: every message fetched,
// its attachments saved, deleted; the session closed.
std::vector<Received> receiveAll(const QString& server, const QString& user, const QString& password, bool apop,
                                 const QString& attachmentFolder, int* count = nullptr) {
    std::vector<Received> received;
    const int handle = connectPop3(server);
    if (handle == -1) return received;
    const int waiting = logIn(handle, user, password, apop);
    if (count) *count = waiting;
    for (int n = 1; n <= waiting; ++n) {
        Received r;
        NMailPop3GetMailStatus(handle, n, r.texts, 0);
        EXPECT_GT(NMailPop3GetMailSize(handle, n), 0);
        NMailPop3GetMail(handle, n, r.texts, r.bodyBefore, 0, 0);
        r.bodyAfter = r.bodyBefore;
        r.attachmentResult = NMailAttachmentFileFirst(handle, r.texts, r.bodyAfter, attachmentFolder + u'/',
                                                      attachmentFolder + QStringLiteral("/0.txt"), QString(), 0);
        NMailAttachmentFileClose(handle);
        EXPECT_EQ(NMailPop3DeleteMail(handle, n), 0);
        received.push_back(r);
    }
    NMailPop3Close(handle);
    return received;
}

int send(const QString& server, const QString& to, const QString& subject, const QString& body,
         const QStringList& attachments = {}, const mail::Credentials& login = {}) {
    const MailSent sent =
        NMailSmtpSendMail({server, to, QStringLiteral("sender@localhost"), subject, body, attachments}, login);
    said = sent.error;
    return sent.code;
}

// --- Sending and receiving back, both outgoing charsets and every tag.

struct RoundTripCase {
    const char* name;
    QString subject;
    QString body;
};

class SendAndReceive : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(SendAndReceive, GivesBackTheSameSubjectAndText) {
    test::TempFolder folder;
    ASSERT_EQ(send(servers->smtp(), QStringLiteral("alice@localhost"), GetParam().subject, GetParam().body), 0)
        << lastError().toStdString();
    const auto received = receiveAll(servers->pop3(), QStringLiteral("alice"), QStringLiteral("alice-pw"), false, folder.path());
    ASSERT_EQ(received.size(), 1u) << lastError().toStdString();
    EXPECT_EQ(received[0].texts.subject, GetParam().subject);
    EXPECT_EQ(received[0].texts.from, QStringLiteral("sender@localhost"));
    QString expected = GetParam().body;
    expected.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    EXPECT_EQ(received[0].bodyAfter.trimmed(), expected.trimmed());
    EXPECT_EQ(servers->count(QStringLiteral("alice")), 0);
}

const QString kFourBreaks = QStringLiteral("\r\n\r\n\r\n\r\n");

INSTANTIATE_TEST_SUITE_P(
    Messages, SendAndReceive,
    ::testing::Values(
        RoundTripCase{"jis_text", QStringLiteral("会議の件（再送）"), QStringLiteral("お世話になります。\n明日の会議は十時からです。")},
        RoundTripCase{"tag_1", QStringLiteral("こんにちは"), QStringLiteral("本文") + kFourBreaks + QStringLiteral("Lumopet（①の選択）")},
        RoundTripCase{"tag_2", QStringLiteral("件名②"), QStringLiteral("本文") + kFourBreaks + QStringLiteral("Lumopet（②の選択）")},
        RoundTripCase{"tag_3", QStringLiteral("tag"), QStringLiteral("abc") + kFourBreaks + QStringLiteral("Lumopet（③の選択）")},
        RoundTripCase{"tag_4", QStringLiteral("ﾊﾝｶｸ"), QStringLiteral("ｶﾀｶﾅ") + kFourBreaks + QStringLiteral("Lumopet（④の選択）")},
        RoundTripCase{"tag_5", QStringLiteral("😀 emoji"), QStringLiteral("x") + kFourBreaks + QStringLiteral("Lumopet（⑤の選択）")},
        RoundTripCase{"long_line", QStringLiteral("long"), QString(3000, u'長')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MailServers, AnAttachmentWithAJapaneseNameArrivesWithTheSameBytes) {
    test::TempFolder outbox, inbox;
    QByteArray bytes;
    for (int i = 0; i < 256; ++i) bytes.append(static_cast<char>(i));
    outbox.write(QStringLiteral("資料.txt"), bytes);
    const QString body = QStringLiteral("添付します。") + kFourBreaks + QStringLiteral("Lumopet（③の選択）");
    ASSERT_EQ(send(servers->smtp(), QStringLiteral("bob@localhost"), QStringLiteral("資料送付"), body,
                   {outbox.path(QStringLiteral("資料.txt"))}),
              0)
        << lastError().toStdString();
    const auto received = receiveAll(servers->pop3(), QStringLiteral("bob"), QStringLiteral("bob pw"), true, inbox.path());
    ASSERT_EQ(received.size(), 1u) << lastError().toStdString();
    EXPECT_EQ(received[0].texts.subject, QStringLiteral("資料送付"));
    EXPECT_TRUE(received[0].bodyBefore.contains(QStringLiteral("Lumopet（③の選択）")));
    EXPECT_TRUE(received[0].bodyBefore.contains(QStringLiteral("attachment")));
    EXPECT_EQ(received[0].attachmentResult, 1);
    EXPECT_FALSE(received[0].bodyAfter.contains(QStringLiteral("attachment")));
    EXPECT_EQ(inbox.read(QStringLiteral("資料.txt")), bytes);
}

TEST(MailServers, AnAttachmentNamedOutOfTheFolderStaysInIt) {
    test::TempFolder root;
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("a/添付フォルダ")));
    const QString folder = root.path(QStringLiteral("a/添付フォルダ"));
    const QByteArray message =
        "From: x@localhost\r\nTo: carol@localhost\r\nSubject: evil\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nhi\r\n"
        "--b\r\nContent-Type: application/octet-stream; name=\"../../evil.sh\"\r\n"
        "Content-Disposition: attachment; filename=\"../../evil.sh\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
        "ZWNobyBldmlsCg==\r\n--b--\r\n";
    ASSERT_TRUE(servers->deliver(QStringLiteral("carol"), message));
    const auto received = receiveAll(servers->pop3(), QStringLiteral("carol"), QStringLiteral("carol-pw"), false, folder);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].attachmentResult, 1);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("evil.sh")});
    EXPECT_EQ(QDir(root.path()).entryList(QDir::Files), QStringList());
    EXPECT_EQ(QDir(root.path(QStringLiteral("a"))).entryList(QDir::Files), QStringList());
}

TEST(MailServers, SeveralMessagesAreFetchedInServerOrderAndDeletedInOneSession) {
    test::TempFolder folder;
    for (int i = 1; i <= 3; ++i)
        ASSERT_TRUE(servers->deliver(QStringLiteral("carol"),
                                     QStringLiteral("From: x@localhost\r\nSubject: message %1\r\n\r\nbody %1\r\n").arg(i).toUtf8()));
    int count = 0;
    const auto received = receiveAll(servers->pop3(), QStringLiteral("carol"), QStringLiteral("carol-pw"), false, folder.path(), &count);
    EXPECT_EQ(count, 3);
    ASSERT_EQ(received.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(received[i].texts.subject, QStringLiteral("message %1").arg(i + 1));
    EXPECT_EQ(servers->count(QStringLiteral("carol")), 0);
}

TEST(MailServers, MessagesStayOnTheServerUntilTheSessionCloses) {
    ASSERT_TRUE(servers->deliver(QStringLiteral("dave"), "Subject: keep\r\n\r\nbody\r\n"));
    const int handle = connectPop3(servers->pop3());
    ASSERT_EQ(logIn(handle, QStringLiteral("dave"), QStringLiteral("dave-pw")), 1);
    MailTexts texts;
    QString body;
    NMailPop3GetMail(handle, 1, texts, body, 0, 0);
    ASSERT_EQ(NMailPop3DeleteMail(handle, 1), 0);
    // A second session sees the message while the first is still open.
    EXPECT_EQ(servers->count(QStringLiteral("dave")), 1);
    NMailPop3Close(handle);
    EXPECT_EQ(servers->count(QStringLiteral("dave")), 0);
}

// The messages ./run.sh leaves waiting, as Windows mailers and others write
// them, read through the layer.
TEST(MailServers, TheDemoMailboxReadsAsItShould) {
    const QDir demo(QStringLiteral(LUMOPET_SOURCE_DIR "/scripts/demo-mail"));
    for (const QString& name : demo.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
        QFile file(demo.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ASSERT_TRUE(servers->deliver(QStringLiteral("bob"), file.readAll()));
    }
    test::TempFolder folder;
    const auto received = receiveAll(servers->pop3(), QStringLiteral("bob"), QStringLiteral("bob pw"), false, folder.path());
    // In the order of the files' names: the fortune last, so that its
    // character is the one that walks out after the demo's first check.
    struct Expected {
        QString subject, body;
    };
    const Expected expected[] = {
        {QStringLiteral("ようこそ"), QStringLiteral("Lumopet（③の選択）\r\n")},
        {QStringLiteral("資料送付"), QStringLiteral("資料を添付します。")},
        {QStringLiteral("【Example Shop】12月のおすすめ"), QStringLiteral("ウールのマフラー 3,980円")},
        {QStringLiteral("【ご案内】①納期 ②数量 ③お見積り（㈱サンプル工業）"), QStringLiteral("①　納期：12月15日")},
        {QStringLiteral("週末の写真"), QStringLiteral("Salut Alice")},
        {QStringLiteral("会議資料一式（見積書・写真・売上表）"), QStringLiteral("来週の会議の資料")},
        {QStringLiteral("一年を振り返って（長いお便り）"), QStringLiteral("追伸　この一文が手紙の最後です")},
        {QStringLiteral("おみくじ付きです"), QStringLiteral("Lumopet（⑤の選択）")},
    };
    ASSERT_EQ(received.size(), std::size(expected)) << lastError().toStdString();
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_TRUE(received[i].texts.subject.startsWith(expected[i].subject)) << i << ": " << received[i].texts.subject.toStdString();
        EXPECT_TRUE(received[i].bodyBefore.contains(expected[i].body)) << i << ": " << received[i].bodyBefore.left(200).toStdString();
    }
    EXPECT_EQ(received[0].texts.from, QStringLiteral("ルモペット <welcome@localhost>"));
    EXPECT_TRUE(received[0].bodyBefore.endsWith(expected[0].body)) << received[0].bodyBefore.toStdString();
    EXPECT_EQ(received[1].attachmentResult, 1);
    EXPECT_EQ(folder.read(QStringLiteral("資料.txt")), cp932::encode(QStringLiteral("会議資料です。\r\nよろしくお願いします。\r\n")));
    EXPECT_TRUE(received[7].bodyBefore.contains(QStringLiteral("中吉：ほのぼの")));
}

// --- Logins and TLS.

struct LoginCase {
    const char* name;
    QString (test::LocalMailServers::*server)() const;
    bool apop;
};

class Pop3Logins : public ::testing::TestWithParam<LoginCase> {};

TEST_P(Pop3Logins, ReachTheMailbox) {
    ASSERT_TRUE(servers->deliver(QStringLiteral("dave"), "Subject: login\r\n\r\nbody\r\n"));
    test::TempFolder folder;
    const auto received = receiveAll((servers->*GetParam().server)(), QStringLiteral("dave"), QStringLiteral("dave-pw"),
                                     GetParam().apop, folder.path());
    ASSERT_EQ(received.size(), 1u) << lastError().toStdString();
    EXPECT_EQ(received[0].texts.subject, QStringLiteral("login"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, Pop3Logins,
                         ::testing::Values(LoginCase{"plain", &test::LocalMailServers::pop3, false},
                                           LoginCase{"apop", &test::LocalMailServers::pop3, true},
                                           LoginCase{"pop3s", &test::LocalMailServers::pop3s, false},
                                           LoginCase{"stls", &test::LocalMailServers::pop3WithStls, false},
                                           LoginCase{"stls_apop", &test::LocalMailServers::pop3WithStls, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MailServers, AWrongPasswordGivesTheServersOwnReply) {
    const int handle = connectPop3(servers->pop3());
    ASSERT_GT(handle, 0);
    EXPECT_LT(logIn(handle, QStringLiteral("alice"), QStringLiteral("wrong")), 0);
    EXPECT_TRUE(lastError().startsWith(QStringLiteral("POP3 サーバーがログインを拒否したので、"))) << lastError().toStdString();
    EXPECT_TRUE(lastError().contains(QStringLiteral("\nサーバーの応答：-ERR"))) << lastError().toStdString();
    NMailPop3Close(handle);
}

TEST(MailServers, ARefusedConnectionIsMinusOneWithTheHostInTheText) {
    EXPECT_EQ(connectPop3(QStringLiteral("127.0.0.1:1")), -1);
    EXPECT_TRUE(lastError().contains(QStringLiteral("127.0.0.1:1"))) << lastError().toStdString();
}

TEST(MailServers, AnUntrustedCertificateIsRefusedWithAClearText) {
    const QByteArray trusted = qgetenv("LUMOPET_CA_FILE");
    qunsetenv("LUMOPET_CA_FILE");
    const int handle = connectPop3(servers->pop3s());
    const int result = logIn(handle, QStringLiteral("alice"), QStringLiteral("alice-pw"));
    NMailPop3Close(handle);
    qputenv("LUMOPET_CA_FILE", trusted);
    EXPECT_LT(result, 0);
    EXPECT_TRUE(lastError().contains(QStringLiteral("証明書"))) << lastError().toStdString();
}

// A machine without the system's certificate authorities (no
// ca-certificates): curl cannot read its CA file and stops before the
// handshake. The text says what is missing on this machine, not that the
// server is untrusted. A missing LUMOPET_CA_FILE takes the same path.
TEST(MailServers, AMissingTrustStoreIsNamedWithThePackageToInstall) {
    const QByteArray trusted = qgetenv("LUMOPET_CA_FILE");
    const QString missing = QStringLiteral("/nonexistent/ca-certificates.crt");
    qputenv("LUMOPET_CA_FILE", missing.toUtf8());
    const int handle = connectPop3(servers->pop3s());
    const int received = logIn(handle, QStringLiteral("alice"), QStringLiteral("alice-pw"));
    const QString receiveText = lastError();
    NMailPop3Close(handle);
    const int sent = send(servers->smtps(), QStringLiteral("dave@localhost"), QStringLiteral("trust"), QStringLiteral("text"));
    const QString sendText = lastError();
    qputenv("LUMOPET_CA_FILE", trusted);
    EXPECT_LT(received, 0);
    EXPECT_NE(sent, 0);
    for (const QString& text : {receiveText, sendText}) {
        EXPECT_TRUE(text.contains(QStringLiteral("このコンピューターに認証局の証明書がない"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("ca-certificates パッケージを入れてください"))) << text.toStdString();
        EXPECT_TRUE(text.contains(missing)) << text.toStdString();
    }
}

struct SmtpCase {
    const char* name;
    QString (test::LocalMailServers::*server)() const;
    bool login;
};

class SmtpKinds : public ::testing::TestWithParam<SmtpCase> {};

TEST_P(SmtpKinds, Deliver) {
    const mail::Credentials login =
        GetParam().login ? mail::Credentials::password(QStringLiteral("alice"), QStringLiteral("alice-pw")) : mail::Credentials{};
    const int result = send((servers->*GetParam().server)(), QStringLiteral("dave@localhost"), QStringLiteral("kind"),
                            QStringLiteral("text"), {}, login);
    ASSERT_EQ(result, 0) << lastError().toStdString();
    test::TempFolder folder;
    const auto received = receiveAll(servers->pop3(), QStringLiteral("dave"), QStringLiteral("dave-pw"), false, folder.path());
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].texts.subject, QStringLiteral("kind"));
}

INSTANTIATE_TEST_SUITE_P(Kinds, SmtpKinds,
                         ::testing::Values(SmtpCase{"plain", &test::LocalMailServers::smtp, false},
                                           SmtpCase{"starttls_with_login", &test::LocalMailServers::smtpWithStartTls, true},
                                           SmtpCase{"smtps", &test::LocalMailServers::smtps, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MailServers, ARefusedRecipientFailsWithTheServersReplyAndNothingArrives) {
    EXPECT_LT(send(servers->smtp(), QStringLiteral("nobody@localhost"), QStringLiteral("s"), QStringLiteral("b")), 0);
    EXPECT_TRUE(lastError().contains(QStringLiteral("\nサーバーの応答：5"))) << lastError().toStdString();
    EXPECT_LT(send(QStringLiteral("127.0.0.1:1"), QStringLiteral("alice@localhost"), QStringLiteral("s"), QStringLiteral("b")), 0);
    EXPECT_TRUE(lastError().contains(QStringLiteral("127.0.0.1:1"))) << lastError().toStdString();
    EXPECT_EQ(servers->count(QStringLiteral("alice")), 0);
}

}  // namespace
}  // namespace lumopet
