// The send against real servers: our own SMTP server delivering into the
// Maildirs that our Dovecot serves, in its usual form, in one that wants
// a login and in one that relays only after a POP3 login.

#include "core/program.h"
#include "core/settings_files/account_file.h"
#include "mail/account_values.h"
#include "mail/mail_library.h"
#include "mail/certificate_trust.h"
#include "mail/mail_transport.h"
#include "mail/mood_tags.h"
#include "mail/send_mail.h"
#include "mail/send_stop.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/mail/recording_send_host.h"
#include "tests/support/silent_server.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>
#include <chrono>
#include <netinet/in.h>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>

namespace lumopet {
namespace {

using namespace Qt::StringLiterals;

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

[[maybe_unused]] const auto* const serversEnvironment = ::testing::AddGlobalTestEnvironment(
    new test::MailServersEnvironment({u"alice:alice-pw"_s, u"bob:bob-pw"_s}));

auto CaseName = [](const auto& info) { return std::string(info.param.name); };
template <class Case>
    requires requires(const Case& c) { std::string(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

using test::RecordingHost;

// Alice's program folder, set up for a set of servers.
struct Sender {
    explicit Sender(const test::LocalMailServers& on, const QString& smtp, const QString& password = u"alice-pw"_s) {
        program.paths.createFolders();
        program.values.SmtpServer = smtp;
        program.values.Pop3Server = on.pop3();
        program.values.MailAddress = u"アリス <alice@localhost>"_s;
        // An empty password stands for no account at all.
        const QString id = password.isEmpty() ? QString() : u"alice"_s;
        EXPECT_TRUE(WriteAccount(program.paths.path(files::AccountFile), id, password, true).ok());
    }
    SendResult send(const QString& to, const QString& body, int mood = 0, const QStringList& attachments = {}) {
        SendRequest request;
        request.ToText = to;
        request.SubjectText = u"資料送付"_s;
        request.BodyText = body;
        request.Mood = mood;
        request.Attachments = attachments;
        return SendMail(program, request, host, PasswordCredentials(program), PasswordCredentials(program));
    }
    std::string shown() const { return host.shown.empty() ? std::string() : host.shown[0].text.toStdString(); }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    RecordingHost host;
};

struct Received {
    MailTexts texts;
    QString body;  // the decoded text
};

// Bob's mailbox emptied through the layer, attachments into folder.
std::vector<Received> receiveAll(const QString& pop3, const QString& attachmentFolder) {
    std::vector<Received> received;
    QString error;
    const int handle = NMailPop3Connect(pop3, error);
    EXPECT_GT(handle, 0) << error.toStdString();
    const int waiting = NMailPop3Authenticate(handle, mail::Credentials::password(u"bob"_s, u"bob-pw"_s));
    for (int n = 1; n <= waiting; ++n) {
        Received r;
        NMailPop3GetMail(handle, n, r.texts, r.body, 0, 0);
        NMailAttachmentFileFirst(handle, r.texts, r.body, attachmentFolder + u'/', attachmentFolder + u"/0.txt"_s, QString(), 0);
        NMailAttachmentFileClose(handle);
        NMailPop3DeleteMail(handle, n);
        received.push_back(r);
    }
    NMailPop3Close(handle);
    return received;
}

TEST(SendMail, AliceToBobArrivesWithTheTagLastAndTheAttachmentIntact) {
    Sender alice(*servers, servers->smtp());
    QByteArray bytes;
    for (int i = 0; i < 256 * 40; ++i) bytes.append(static_cast<char>(i));
    alice.folder.write(u"資料.bin"_s, bytes);
    const QString typed = u"添付します。\r\nよろしくお願いします。"_s;
    const SendResult result = alice.send(u"bob@localhost"_s, typed, 3, {alice.folder.path(u"資料.bin"_s)});
    ASSERT_TRUE(result.allSent()) << alice.shown();

    test::TempFolder inbox;
    const auto received = receiveAll(servers->pop3(), inbox.path());
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].texts.subject, u"資料送付"_s);
    EXPECT_EQ(received[0].texts.from, u"アリス <alice@localhost>"_s);
    EXPECT_EQ(received[0].body, typed + u"\r\n\r\n\r\n\r\nLumopet（③の選択）\r\n"_s);
    EXPECT_EQ(FindMoodTag(received[0].body), 3);
    EXPECT_EQ(inbox.read(u"資料.bin"_s), bytes);
    for (const QString& field : {u"Date: "_s, u"Message-Id: <"_s, u"MIME-Version: 1.0"_s})
        EXPECT_TRUE(received[0].texts.header.contains(field, Qt::CaseInsensitive)) << field.toStdString();

    const auto sent = ReadAll(HistoryPath(alice.program.paths, History::Sent));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Body, typed);
    EXPECT_EQ(sent[0].Column3, u"bob@localhost"_s);
}

// The process's largest resident size so far.
qint64 peakResidentBytes() {
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    return -1;
}

// A 200 MB attachment goes out from a file built in the sent Maildir's
// tmp/, encoded as it is written and read as it is sent; the copy stays in
// new/. (ctest runs each test in a process of its own: the peak before the
// send is this test's idle size.)
TEST(SendMail, A200MegabyteAttachmentGoesOutInMemoryThatDoesNotGrowWithIt) {
    constexpr qint64 kMegabyte = 1024 * 1024;
    Sender alice(*servers, servers->smtp());
    {
        QFile large(alice.folder.path(u"大きい.bin"_s));
        ASSERT_TRUE(large.open(QIODevice::WriteOnly));
        QByteArray block(kMegabyte, Qt::Uninitialized);
        for (qsizetype i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 7919) >> 3);
        for (int i = 0; i < 200; ++i) ASSERT_EQ(large.write(block), block.size());
    }
    const qint64 before = peakResidentBytes();
    const SendResult result = alice.send(u"bob@localhost"_s, u"大きな資料です。"_s, 0, {alice.folder.path(u"大きい.bin"_s)});
    const qint64 after = peakResidentBytes();
    ASSERT_TRUE(result.allSent()) << alice.shown();
    EXPECT_LT(after - before, 120 * kMegabyte) << before / kMegabyte << " MB before, " << after / kMegabyte << " after";
    std::printf("200 MB attachment sent: peak %lld MB, %lld MB before\n", static_cast<long long>(after / kMegabyte),
                static_cast<long long>(before / kMegabyte));
    EXPECT_EQ(servers->count(u"bob"_s), 1);
    const QString sentMaildir = SentMaildirPath(alice.program.paths);
    EXPECT_TRUE(QDir(sentMaildir + u"/tmp"_s).entryList(QDir::Files).isEmpty());
    const QFileInfoList kept = QDir(sentMaildir + u"/new"_s).entryInfoList(QDir::Files);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_GT(kept[0].size(), 200 * kMegabyte * 4 / 3);
    // Bob's mailbox is left empty for the tests after this one.
    QString error;
    const int handle = NMailPop3Connect(servers->pop3(), error);
    ASSERT_EQ(NMailPop3Authenticate(handle, mail::Credentials::password(u"bob"_s, u"bob-pw"_s)), 1) << LastMailError(handle).toStdString();
    QStringList uidls;
    ASSERT_EQ(NMailPop3GetUidls(handle, uidls), 1);
    EXPECT_EQ(NMailPop3DeleteStoredMail(handle, 1), 0);
    EXPECT_EQ(NMailPop3Close(handle), 0);
}

TEST(SendMail, ARefusedRecipientGivesTheSendErrorBoxWithTheServersReply) {
    Sender alice(*servers, servers->smtp());
    const SendResult result = alice.send(u"nobody@localhost"_s, u"本文"_s);
    EXPECT_EQ(result.Failed, 1);
    ASSERT_EQ(alice.host.shown.size(), 1u);
    EXPECT_EQ(alice.host.shown[0].title, kSendErrorTitle);
    EXPECT_TRUE(alice.host.shown[0].text.contains(u"550 5.1.1"_s)) << alice.shown();
    EXPECT_EQ(ReadAll(HistoryPath(alice.program.paths, History::Sent)).size(), 1u);
}

using test::SilentServer;

TEST(SendMail, ASilentServerEndsInATimeOutWithTheSendErrorBox) {
    SilentServer silent;
    SetMailTransport(mail::MakeCurlTransport({2, 2}));
    Sender alice(*servers, silent.hostAndPort());
    QElapsedTimer clock;
    clock.start();
    const SendResult result = alice.send(u"bob@localhost"_s, u"本文"_s, 1);
    const qint64 elapsed = clock.elapsed();
    SetMailTransport(nullptr);
    EXPECT_EQ(result.Failed, 1);
    EXPECT_LT(elapsed, 10000);
    ASSERT_EQ(alice.host.shown.size(), 1u);
    EXPECT_EQ(alice.host.shown[0].title, kSendErrorTitle);
    EXPECT_TRUE(alice.host.shown[0].text.contains(u"時間切れ"_s)) << alice.shown();
    EXPECT_TRUE(alice.host.shown[0].text.contains(silent.hostAndPort())) << alice.shown();
}

// --- Servers that want a login: SMTP AUTH, or POP before SMTP.

// Servers of their own, started once for the suite; the mail layer trusts
// their certificate while its tests run.
class OwnServers {
public:
    static void start(std::unique_ptr<test::LocalMailServers>& servers, const QStringList& options) {
        servers = std::make_unique<test::LocalMailServers>(QStringList{u"alice:alice-pw"_s, u"bob:bob-pw"_s}, options);
    }
    explicit OwnServers(const test::LocalMailServers* servers) : trusted_(qgetenv("LUMOPET_CA_FILE")) {
        if (servers && servers->running()) qputenv("LUMOPET_CA_FILE", servers->caFile().toUtf8());
    }
    ~OwnServers() { qputenv("LUMOPET_CA_FILE", trusted_); }

private:
    QByteArray trusted_;
};

struct LoginCase {
    const char* name;
    QString (test::LocalMailServers::*smtp)() const;
    QString password;  // alice's, in the account file
    QString said;      // start of the 送信エラー text; empty: delivered
    QString pop3;      // the POP3 server's field; empty: the servers' own
};

class SmtpAuthRequired : public ::testing::TestWithParam<LoginCase> {
protected:
    static void SetUpTestSuite() { OwnServers::start(servers_, {u"--smtp-auth"_s, u"required"_s}); }
    static void TearDownTestSuite() { servers_.reset(); }
    static inline std::unique_ptr<test::LocalMailServers> servers_;
};

TEST_P(SmtpAuthRequired, LogsInWithTheAccountOfTheMailCheck) {
    ASSERT_TRUE(servers_->running()) << servers_->error().toStdString();
    OwnServers trust(servers_.get());
    Sender alice(*servers_, ((*servers_).*GetParam().smtp)(), GetParam().password);
    const SendResult result = alice.send(u"bob@localhost"_s, u"本文"_s);
    if (GetParam().said.isEmpty()) {
        EXPECT_TRUE(result.allSent()) << alice.shown();
        EXPECT_EQ(servers_->count(u"bob"_s), 1);
        test::TempFolder inbox;
        receiveAll(servers_->pop3(), inbox.path());
    } else {
        EXPECT_EQ(result.Failed, 1);
        ASSERT_EQ(alice.host.shown.size(), 1u);
        EXPECT_EQ(alice.host.shown[0].title, kSendErrorTitle);
        EXPECT_TRUE(alice.host.shown[0].text.contains(u"サーバーの応答："_s + GetParam().said)) << alice.shown();
        EXPECT_EQ(servers_->count(u"bob"_s), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Logins, SmtpAuthRequired,
    ::testing::Values(LoginCase{"starttls", &test::LocalMailServers::smtpWithStartTls, u"alice-pw"_s, QString(), QString()},
                      LoginCase{"smtps", &test::LocalMailServers::smtps, u"alice-pw"_s, QString(), QString()},
                      LoginCase{"wrong_password", &test::LocalMailServers::smtps, u"wrong"_s, u"535"_s, QString()},
                      LoginCase{"no_account", &test::LocalMailServers::smtpWithStartTls, QString(), u"530"_s, QString()}),
    CaseName);

class PopBeforeSmtp : public ::testing::TestWithParam<LoginCase> {
protected:
    static void SetUpTestSuite() { OwnServers::start(servers_, {u"--pop-before-smtp"_s}); }
    static void TearDownTestSuite() { servers_.reset(); }
    static inline std::unique_ptr<test::LocalMailServers> servers_;
};

// Runs in table order: the failing login comes first, while no login has
// opened the relay yet. It fails without a wrong password: after one,
// Dovecot makes the next login from the address wait seconds.
TEST_P(PopBeforeSmtp, LogsInToPop3AndSendsAgain) {
    ASSERT_TRUE(servers_->running()) << servers_->error().toStdString();
    OwnServers trust(servers_.get());
    Sender alice(*servers_, ((*servers_).*GetParam().smtp)(), GetParam().password);
    if (!GetParam().pop3.isEmpty()) alice.program.values.Pop3Server = GetParam().pop3;
    const SendResult result = alice.send(u"bob@localhost"_s, u"本文"_s);
    if (GetParam().said.isEmpty()) {
        EXPECT_TRUE(result.allSent()) << alice.shown();
        EXPECT_EQ(servers_->count(u"bob"_s), 1);
    } else {
        ASSERT_EQ(alice.host.shown.size(), 1u);
        EXPECT_TRUE(alice.host.shown[0].text.contains(u"サーバーの応答："_s + GetParam().said)) << alice.shown();
        EXPECT_TRUE(alice.host.shown[0].text.contains(GetParam().pop3)) << "why POP3 did not help: " << alice.shown();
        EXPECT_EQ(servers_->count(u"bob"_s), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Logins, PopBeforeSmtp,
    ::testing::Values(LoginCase{"pop3_unreachable", &test::LocalMailServers::smtp, u"alice-pw"_s, u"554 5.7.1"_s,
                                u"127.0.0.1:1"_s},
                      LoginCase{"plain", &test::LocalMailServers::smtp, u"alice-pw"_s, QString(), QString()}),
    CaseName);

// The POP3 login of POP before SMTP, over POP3S with a certificate nobody
// vouches for: the host is asked as at a mail check, and the answer
// decides. Servers of their own, whose CA the mail layer is not told of.
struct PopCertificateCase {
    const char* name;
    bool trust;      // the answer for the POP3 server's certificate
    bool delivered;
};

class PopBeforeSmtpCertificate : public ::testing::TestWithParam<PopCertificateCase> {
protected:
    static void SetUpTestSuite() { OwnServers::start(servers_, {u"--pop-before-smtp"_s}); }
    static void TearDownTestSuite() { servers_.reset(); }
    static inline std::unique_ptr<test::LocalMailServers> servers_;
};

// In table order: the declined login first, while no login has opened the
// relay.
TEST_P(PopBeforeSmtpCertificate, AsksTheHostAndLogsInOnlyWhenTrusted) {
    ASSERT_TRUE(servers_->running()) << servers_->error().toStdString();
    const PopCertificateCase& c = GetParam();
    Sender alice(*servers_, servers_->smtp());
    alice.program.values.Pop3Server = servers_->pop3s();
    const QString pop3Key = u"localhost:"_s + servers_->pop3s().section(u':', -1);
    // Whatever the SMTP side asks (its STARTTLS), it is trusted: the
    // question here is the POP3 server's.
    alice.host.trust = [&](const CertificateDetails& details) { return c.trust || details.hostPort != pop3Key; };
    const int before = servers_->count(u"bob"_s);
    const SendResult result = alice.send(u"bob@localhost"_s, u"本文"_s);

    bool askedForPop3 = false;
    for (const CertificateDetails& details : alice.host.asked) askedForPop3 |= details.hostPort == pop3Key;
    EXPECT_TRUE(askedForPop3) << "the POP3 server's certificate is shown";
    EXPECT_EQ(result.allSent(), c.delivered) << alice.shown();
    EXPECT_EQ(servers_->count(u"bob"_s) - before, c.delivered ? 1 : 0);
    if (c.delivered) {
        EXPECT_TRUE(alice.host.shown.empty()) << alice.shown();
        EXPECT_TRUE(QFile(mail::TrustedCertificatesPath(alice.program.paths)).exists()) << "the answer is kept";
    } else {
        ASSERT_EQ(alice.host.shown.size(), 1u);
        EXPECT_EQ(alice.host.shown[0].title, kSendErrorTitle);
        EXPECT_TRUE(alice.host.shown[0].text.contains(u"POP before SMTP"_s)) << alice.shown();
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, PopBeforeSmtpCertificate,
                         ::testing::Values(PopCertificateCase{"declined", false, false},
                                           PopCertificateCase{"trusted", true, true}),
                         CaseName);

// --- 送信中止 against the real server: what went out is what the sent
// history and the sent Maildir hold, and nothing after the stop goes.

// Clicks 送信中止 as message stopAt begins.
class StoppingHost : public RecordingHost {
public:
    explicit StoppingHost(int stopAt) : stopAt_(stopAt) {}
    void showProgress(int number, int count) override {
        RecordingHost::showProgress(number, count);
        if (number == stopAt_) mail::RequestSendStop();
    }

private:
    int stopAt_;
};

TEST(SendMail, StopInABulkSendLeavesTheHistoryAsWhatWentOut) {
    Sender alice(*servers, servers->smtp());
    QByteArray book;
    for (int i = 0; i < 3; ++i) book += EncodeAddressRecord(u"ボブ"_s, u"bob@localhost"_s);
    QFile file(AddressBookPath(alice.program.paths));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(book);
    file.close();
    StoppingHost host(2);
    SendRequest request;
    request.SubjectText = u"お知らせ"_s;
    request.BodyText = u"皆さんへ"_s;
    request.Bulk = true;
    const int before = servers->count(u"bob"_s);
    const SendResult result = SendMail(alice.program, request, host, PasswordCredentials(alice.program), PasswordCredentials(alice.program));

    const int delivered = servers->count(u"bob"_s) - before;
    // The first went before the stop; the second goes through or is broken
    // off, as the transport manages; the third never starts.
    EXPECT_GE(delivered, 1);
    EXPECT_LE(delivered, 2);
    EXPECT_EQ(result.sent(), delivered);
    EXPECT_TRUE(result.Stopped);
    EXPECT_EQ(static_cast<int>(result.Unsent.size()), 3 - delivered);
    EXPECT_TRUE(host.shown.empty()) << host.shown[0].text.toStdString();
    EXPECT_EQ(static_cast<int>(ReadAll(HistoryPath(alice.program.paths, History::Sent)).size()), delivered);
    EXPECT_EQ(QDir(SentMaildirPath(alice.program.paths) + u"/new"_s).entryList(QDir::Files).size(), delivered);
    EXPECT_EQ(host.statuses.last(), SendSummary(result));
    test::TempFolder inbox;
    receiveAll(servers->pop3(), inbox.path());
}

TEST(SendMail, StopWhileASilentServerKeepsTheSendWaitingEndsItWithoutAnErrorOrARecord) {
    SilentServer silent;
    SetMailTransport(mail::MakeCurlTransport({2, 3}));
    Sender alice(*servers, silent.hostAndPort());
    std::thread clicker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        mail::RequestSendStop();
    });
    QElapsedTimer clock;
    clock.start();
    const SendResult result = alice.send(u"bob@localhost"_s, u"本文"_s);
    const qint64 elapsed = clock.elapsed();
    clicker.join();
    SetMailTransport(nullptr);
    EXPECT_LT(elapsed, 10000);
    EXPECT_TRUE(result.Stopped);
    EXPECT_EQ(result.sent(), 0);
    EXPECT_TRUE(alice.host.shown.empty()) << "a stop is no 送信エラー: " << alice.shown();
    EXPECT_TRUE(ReadAll(HistoryPath(alice.program.paths, History::Sent)).empty()) << "nothing went out";
    EXPECT_EQ(alice.host.statuses.last(), u"送信を中止しました。0 通を送信し、1 通は送信していません。"_s);
}

}  // namespace
}  // namespace lumopet
