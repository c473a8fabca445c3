// Servers whose certificate no authority vouches for, through the windows
// (offscreen): the mail check and the compose window show the certificate,
// and trusting it lets the operation go on, then and later; a certificate
// other than the trusted one is refused again. Two sets of local servers,
// each with a CA of its own that this program is not told about.

#include "app/MainForm.h"
#include "app/program_windows.h"
#include "compose/WriteForm.h"
#include "core/program.h"
#include "mail/certificate_trust.h"
#include "store/history_file.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/certificate_window.h"
#include "ui/hot_spot_label.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <netdb.h>
#include <unistd.h>

namespace lumopet {
namespace {

test::LocalMailServers* first = nullptr;
test::LocalMailServers* second = nullptr;

// The SHA-256 of the servers' certificate, from its PEM file beside their
// CA: what `openssl x509 -fingerprint -sha256` prints after the "=".
QString serverFingerprint(const test::LocalMailServers& servers) {
    QFile pem(QFileInfo(servers.caFile()).dir().filePath(QStringLiteral("server.pem")));
    if (!pem.open(QIODevice::ReadOnly)) return QString();
    QByteArray base64;
    bool inside = false;
    for (const QByteArray& line : pem.readAll().split('\n')) {
        if (line.startsWith("-----BEGIN CERTIFICATE")) inside = true;
        else if (line.startsWith("-----END CERTIFICATE")) break;
        else if (inside) base64 += line.trimmed();
    }
    const QByteArray digest = QCryptographicHash::hash(QByteArray::fromBase64(base64), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

QByteArray message(const QString& subject) {
    return QStringLiteral("From: sender@localhost\r\nSubject: %1\r\n\r\nbody\r\n").arg(subject).toUtf8();
}

QString portOf(const QString& server) { return server.section(u':', -1); }

// This machine's name when it leads to 127.0.0.1, where the servers listen:
// a name their certificate (localhost, 127.0.0.1) is not made out to.
QString loopbackNameOtherThanLocalhost() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || QByteArray(name) == "localhost") return QString();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0) return QString();
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, &freeaddrinfo);
    for (addrinfo* a = found; a; a = a->ai_next) {
        char text[64] = {};
        if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) == 0 &&
            QByteArray(text) == "127.0.0.1")
            return QString::fromLatin1(name);
    }
    return QString();
}

class UntrustedServers : public ::testing::Test {
protected:
    // A program folder pointed at account userN of the servers.
    void prepare(int account, const QString& pop3, const QString& smtp = QString()) {
        user = QStringLiteral("user%1").arg(account);
        ASSERT_TRUE(program.paths.createFolders());
        folder.write(QStringLiteral("sorane.ini"), QStringLiteral("SMTP=%1\r\nPOP3=%2\r\nMAIL=%3@localhost\r\nAPOP=0\r\n")
                                                       .arg(smtp.isEmpty() ? first->smtp() : smtp, pop3, user)
                                                       .toUtf8());
        folder.write(QStringLiteral("★MailData/iniIdPass.ini"),
                     QStringLiteral("[EXEINI]\r\nNAME=%1\r\nNAME2=pw%2\r\nNAME3=1\r\n").arg(user).arg(account).toUtf8());
        SetMessageAnswerer([this](const MessageRequest& request) {
            boxes.append(request);
            return MessageAnswer::Ok;
        });
        SetCertificateAnswerer([this](const CertificateDetails& details) {
            shown.push_back(details);
            if (answers.empty()) return CertificateAnswer::Cancel;
            const CertificateAnswer answer = answers.front();
            answers.pop_front();
            return answer;
        });
        windows.mainForm().Form_Load();
    }
    void TearDown() override {
        SetMessageAnswerer({});
        SetCertificateAnswerer({});
    }

    void check() {
        MainForm& form = windows.mainForm();
        QSignalSpy finished(&form, &MainForm::mailCheckFinished);
        QTest::mouseClick(form.Label8, Qt::LeftButton);
        EXPECT_TRUE(finished.wait(30000));
    }

    // Sends one message from the compose window; true when it went out.
    bool send(const QString& to) {
        windows.ShowWriteForm();
        WriteForm& form = windows.writeForm();
        QPointer<WriteForm> kept(&form);
        form.ToText->setPlainText(to);
        form.SubjectText->setText(QStringLiteral("証明書"));
        form.BodyText->setPlainText(QStringLiteral("本文"));
        QSignalSpy finished(&form, &WriteForm::sendFinished);
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        EXPECT_TRUE(finished.wait(30000));
        QApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        // A send in which every message went out closes the window.
        return kept.isNull();
    }

    size_t received() { return ReadAll(HistoryPath(program.paths, History::Received)).size(); }
    mail::TrustedCertificates trusted() {
        const auto read = mail::ReadTrustedCertificates(mail::TrustedCertificatesPath(program.paths));
        EXPECT_TRUE(read.ok()) << read.error().toStdString();
        return read ? read.value() : mail::TrustedCertificates{};
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramWindows windows{program};
    QString user;
    QList<MessageRequest> boxes;
    std::vector<CertificateDetails> shown;
    std::deque<CertificateAnswer> answers;
};

// The same for TLS from the first byte and for STLS on the plain port.
struct PopCase {
    const char* name;
    QString (*server)(const test::LocalMailServers&);
    int account;  // this one for Cancel, the next for Trust
};

class UntrustedPop3 : public UntrustedServers, public ::testing::WithParamInterface<PopCase> {
protected:
    QString server() const { return GetParam().server(*first); }
    QString hostPort() const { return QStringLiteral("localhost:") + portOf(server()); }
};

TEST_P(UntrustedPop3, CancelShowsTheCertificateThenTheErrorAndLeavesTheMail) {
    prepare(GetParam().account, server());
    ASSERT_TRUE(first->deliver(user, message(QStringLiteral("kept"))));
    check();
    ASSERT_EQ(shown.size(), 1u);
    const CertificateDetails& details = shown[0];
    EXPECT_EQ(details.hostPort, hostPort());
    EXPECT_EQ(details.sha256, serverFingerprint(*first));
    EXPECT_EQ(details.reason, QStringLiteral("発行元が信頼できる認証局ではありません。"));
    EXPECT_TRUE(details.subject.contains(QStringLiteral("CN = localhost"))) << details.subject.toStdString();
    EXPECT_TRUE(details.issuer.contains(QStringLiteral("Lumopet local test CA"))) << details.issuer.toStdString();
    EXPECT_LT(details.validFrom, QDateTime::currentDateTimeUtc());
    EXPECT_GT(details.validTo, QDateTime::currentDateTimeUtc());
    EXPECT_TRUE(details.trustedSha256.isEmpty());

    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].title, QStringLiteral("エラー"));
    EXPECT_TRUE(boxes[0].text.contains(hostPort())) << boxes[0].text.toStdString();
    EXPECT_EQ(received(), 0u);
    EXPECT_EQ(first->count(user), 1);
    EXPECT_FALSE(QFileInfo::exists(mail::TrustedCertificatesPath(program.paths)));
}

TEST_P(UntrustedPop3, TrustingReceivesAtOnceAndLaterChecksDoNotAsk) {
    prepare(GetParam().account + 1, server());
    ASSERT_TRUE(first->deliver(user, message(QStringLiteral("one"))));
    answers = {CertificateAnswer::Trust};
    check();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(boxes.isEmpty()) << boxes[0].text.toStdString();
    EXPECT_EQ(received(), 1u);
    EXPECT_EQ(first->count(user), 0);
    EXPECT_EQ(trusted(), (mail::TrustedCertificates{{hostPort(), serverFingerprint(*first)}}));

    ASSERT_TRUE(first->deliver(user, message(QStringLiteral("two"))));
    check();
    EXPECT_EQ(shown.size(), 1u) << "the trusted certificate is not asked about again";
    EXPECT_TRUE(boxes.isEmpty());
    EXPECT_EQ(received(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, UntrustedPop3,
    ::testing::Values(PopCase{"stls", [](const test::LocalMailServers& s) { return s.pop3WithStls(); }, 1},
                      PopCase{"pop3s", [](const test::LocalMailServers& s) { return s.pop3s(); }, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// The address trusted one certificate; now it shows another (here the
// second servers', whose address the trust file gives the first servers'
// fingerprint, as if the certificate there had been replaced).
TEST_F(UntrustedServers, AnotherCertificateThanTheTrustedOneIsRefusedWithTheWindow) {
    prepare(5, second->pop3s());
    const QString hostPort = QStringLiteral("localhost:") + portOf(second->pop3s());
    ASSERT_TRUE(mail::TrustCertificate(mail::TrustedCertificatesPath(program.paths), hostPort, serverFingerprint(*first)).ok());
    ASSERT_TRUE(second->deliver(user, message(QStringLiteral("kept"))));
    check();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].hostPort, hostPort);
    EXPECT_EQ(shown[0].sha256, serverFingerprint(*second));
    EXPECT_EQ(shown[0].trustedSha256, serverFingerprint(*first));
    EXPECT_NE(serverFingerprint(*first), serverFingerprint(*second));
    EXPECT_EQ(second->count(user), 1);
    EXPECT_EQ(received(), 0u);

    // Trusted now, the new one takes the old one's place.
    answers = {CertificateAnswer::Trust};
    check();
    EXPECT_EQ(shown.size(), 2u);
    EXPECT_EQ(second->count(user), 0);
    EXPECT_EQ(trusted(), (mail::TrustedCertificates{{hostPort, serverFingerprint(*second)}}));
}

TEST_F(UntrustedServers, ACertificateTheAuthoritiesVouchForAsksNothing) {
    prepare(6, first->pop3s());
    qputenv("LUMOPET_CA_FILE", first->caFile().toUtf8());
    ASSERT_TRUE(first->deliver(user, message(QStringLiteral("one"))));
    check();
    qunsetenv("LUMOPET_CA_FILE");
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(boxes.isEmpty()) << boxes[0].text.toStdString();
    EXPECT_EQ(received(), 1u);
}

// The authorities vouch for the certificate, but not for this name: the
// name is checked with the chain, and trusting overrides it for that server.
TEST_F(UntrustedServers, AnotherHostsNameIsShownAndCanBeTrusted) {
    const QString name = loopbackNameOtherThanLocalhost();
    if (name.isEmpty()) GTEST_SKIP() << "this machine's name does not lead to 127.0.0.1";
    const QString server = QStringLiteral("pop3s://%1:%2").arg(name, portOf(first->pop3s()));
    prepare(11, server);
    qputenv("LUMOPET_CA_FILE", first->caFile().toUtf8());
    ASSERT_TRUE(first->deliver(user, message(QStringLiteral("one"))));
    answers = {CertificateAnswer::Trust};
    check();
    qunsetenv("LUMOPET_CA_FILE");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].hostPort, name + u':' + portOf(first->pop3s()));
    EXPECT_EQ(shown[0].reason, QStringLiteral("サーバー名「%1」に宛てた証明書ではありません。").arg(name));
    EXPECT_EQ(received(), 1u);
}

TEST_F(UntrustedServers, SmtpWithStartTlsSendsOnceTrustedAndAsksOnlyOnce) {
    prepare(7, first->pop3(), first->smtpWithStartTls());
    answers = {CertificateAnswer::Trust};
    EXPECT_TRUE(send(QStringLiteral("user8@localhost")));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].hostPort, QStringLiteral("localhost:") + portOf(first->smtpWithStartTls()));
    EXPECT_EQ(shown[0].sha256, serverFingerprint(*first));
    EXPECT_TRUE(boxes.isEmpty()) << boxes[0].text.toStdString();
    EXPECT_TRUE(send(QStringLiteral("user8@localhost")));
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(first->count(QStringLiteral("user8")), 2);
}

TEST_F(UntrustedServers, SmtpCancelSendsNothing) {
    prepare(9, first->pop3(), first->smtps());
    EXPECT_FALSE(send(QStringLiteral("user10@localhost")));
    ASSERT_EQ(shown.size(), 1u);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].title, QStringLiteral("送信エラー"));
    EXPECT_EQ(first->count(QStringLiteral("user10")), 0);
}

class ServersEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const QStringList accounts = test::NumberedAccounts(QStringLiteral("user"), 11);
        first = new test::LocalMailServers(accounts);
        ASSERT_TRUE(first->running()) << first->error().toStdString();
        second = new test::LocalMailServers(accounts);
        ASSERT_TRUE(second->running()) << second->error().toStdString();
        // Trusted through the window only.
        qunsetenv("LUMOPET_CA_FILE");
    }
    void TearDown() override {
        delete first;
        delete second;
    }
};

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new lumopet::ServersEnvironment);
    return RUN_ALL_TESTS();
}
