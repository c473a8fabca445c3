// The trust file of server certificates, and the ask-store-retry round that
// the mail check and the send run when a handshake refuses a certificate.

#include "mail/certificate_trust.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include <sys/stat.h>

namespace lumopet::mail {
namespace {

const QString kA = QStringLiteral("AA:") + QStringLiteral("01:").repeated(30) + QStringLiteral("FF");
const QString kB = QStringLiteral("BB:") + QStringLiteral("02:").repeated(30) + QStringLiteral("EE");

struct ReadCase {
    const char* name;
    QByteArray file;
    TrustedCertificates expected;
};

class ReadingTheTrustFile : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadingTheTrustFile, GivesTheFingerprintOfEachServer) {
    test::TempFolder folder;
    folder.write(QStringLiteral("trusted"), GetParam().file);
    const auto read = ReadTrustedCertificates(folder.path(QStringLiteral("trusted")));
    ASSERT_TRUE(read.ok()) << read.error().toStdString();
    EXPECT_EQ(read.value(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadingTheTrustFile,
    ::testing::Values(
        ReadCase{"two_servers", ("localhost:995 " + kA + "\nmail.example.jp:110 " + kB + "\n").toLatin1(),
                 {{QStringLiteral("localhost:995"), kA}, {QStringLiteral("mail.example.jp:110"), kB}}},
        ReadCase{"ipv6_and_crlf", ("[::1]:995 " + kA + "\r\n").toLatin1(), {{QStringLiteral("[::1]:995"), kA}}},
        ReadCase{"lower_case_without_colons",
                 ("localhost:995 " + kA.toLower().remove(u':') + "\n").toLatin1(),
                 {{QStringLiteral("localhost:995"), kA}}},
        ReadCase{"malformed_lines_trust_nothing",
                 ("localhost:1\n"                                  // no fingerprint
                  "localhost:2 AA:01\n"                            // too short
                  "localhost:3 " + QString(kA).replace(u'F', u'G') + "\n"  // not hex
                  "localhost " + kA + "\n"                         // no port
                  "localhost:x " + kA + "\n"                       // port not a number
                  "localhost:5 " + kA + " extra\n"                 // a field too many
                  "\n\x01\xff garbage\n"
                  "localhost:995 " + kB + "\n")
                     .toLatin1(),
                 {{QStringLiteral("localhost:995"), kB}}},
        ReadCase{"empty", "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TrustFile, AMissingFileTrustsNothing) {
    test::TempFolder folder;
    const auto read = ReadTrustedCertificates(folder.path(QStringLiteral("none")));
    ASSERT_TRUE(read.ok());
    EXPECT_TRUE(read.value().empty());
}

TEST(TrustFile, TrustingAddsOrReplacesOneServerAndKeepsTheOthers) {
    test::TempFolder folder;
    const QString file = folder.path(QStringLiteral("trusted"));
    ASSERT_TRUE(TrustCertificate(file, QStringLiteral("localhost:995"), kA).ok());
    ASSERT_TRUE(TrustCertificate(file, QStringLiteral("smtp.example.jp:465"), kA.toLower()).ok());
    ASSERT_TRUE(TrustCertificate(file, QStringLiteral("localhost:995"), kB).ok());
    EXPECT_EQ(folder.read(QStringLiteral("trusted")),
              ("localhost:995 " + kB + "\nsmtp.example.jp:465 " + kA + "\n").toLatin1());
}

TEST(TrustFile, ARewriteDropsMalformedLines) {
    test::TempFolder folder;
    folder.write(QStringLiteral("trusted"), ("nonsense\nlocalhost:110 " + kA + "\n").toLatin1());
    ASSERT_TRUE(TrustCertificate(folder.path(QStringLiteral("trusted")), QStringLiteral("localhost:25"), kB).ok());
    EXPECT_EQ(folder.read(QStringLiteral("trusted")), ("localhost:110 " + kA + "\nlocalhost:25 " + kB + "\n").toLatin1());
}

TEST(TrustFile, AFingerprintOrAddressThatIsNoneIsNotWritten) {
    test::TempFolder folder;
    const QString file = folder.path(QStringLiteral("trusted"));
    EXPECT_FALSE(TrustCertificate(file, QStringLiteral("localhost:995"), QStringLiteral("AA:BB")).ok());
    EXPECT_FALSE(TrustCertificate(file, QStringLiteral("local host:995"), kA).ok());
    EXPECT_FALSE(QFileInfo::exists(file));
}

// Something else than a regular file where the trust file belongs: reading
// it fails with its name (never waits, never follows a link), and trusting
// leaves it as it is.
struct UnsafeCase {
    const char* name;
    void (*make)(const test::TempFolder& folder, const QString& file);
};

class AnUnsafeTrustFile : public ::testing::TestWithParam<UnsafeCase> {};

TEST_P(AnUnsafeTrustFile, IsRefusedAndLeftAlone) {
    test::TempFolder folder;
    const QString file = folder.path(QStringLiteral("trusted"));
    GetParam().make(folder, file);
    const QFileInfo before(file);

    const auto read = ReadTrustedCertificates(file);
    ASSERT_FALSE(read.ok());
    EXPECT_TRUE(read.error().contains(file)) << read.error().toStdString();
    EXPECT_FALSE(TrustCertificate(file, QStringLiteral("localhost:995"), kA).ok());

    const QFileInfo after(file);
    EXPECT_EQ(after.isSymLink(), before.isSymLink());
    EXPECT_EQ(after.isFile(), before.isFile());
    EXPECT_EQ(folder.read(QStringLiteral("elsewhere")), before.isSymLink() ? QByteArray("theirs") : QByteArray("<missing>"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, AnUnsafeTrustFile,
    ::testing::Values(UnsafeCase{"link",
                                 [](const test::TempFolder& folder, const QString& file) {
                                     folder.write(QStringLiteral("elsewhere"), "theirs");
                                     ASSERT_TRUE(QFile::link(folder.path(QStringLiteral("elsewhere")), file));
                                 }},
                      UnsafeCase{"fifo",
                                 [](const test::TempFolder&, const QString& file) {
                                     ASSERT_EQ(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
                                 }},
                      UnsafeCase{"folder",
                                 [](const test::TempFolder&, const QString& file) { ASSERT_TRUE(QDir().mkdir(file)); }}),
    [](const auto& info) { return std::string(info.param.name); });

// A stand-in for a mail operation against a server at host:port whose
// certificate no authority vouches for: it fails, leaving the certificate,
// unless the trust file in use lists the server's fingerprint.
struct FakeServer {
    QString hostPort = QStringLiteral("localhost:995");
    QString fingerprint = kA;
    bool certificateProblem = true;
    bool newCertificateEachTime = false;
    int runs = 0;

    int operator()() {
        ++runs;
        if (!certificateProblem) return -1;
        if (newCertificateEachTime) fingerprint = FingerprintText(QByteArray(32, static_cast<char>(runs)));
        if (TrustedFingerprint(hostPort) == fingerprint) return 7;
        CertificateDetails details;
        details.hostPort = hostPort;
        details.sha256 = fingerprint;
        NoteRefusedCertificate(details);
        return -1;
    }
};

struct RoundCase {
    const char* name;
    bool answer;                   // the user's, every time asked
    bool certificateProblem;
    bool newCertificateEachTime;
    bool trustFileIsAFolder;
    int result;
    int runs;
    int questions;
    int errorsShown;
    bool stored;
};

class TrustRound : public ::testing::TestWithParam<RoundCase> {};

TEST_P(TrustRound, AsksStoresAndRunsAgainOnlyWhenItShould) {
    const RoundCase& c = GetParam();
    test::TempFolder folder;
    const QString file = folder.path(QStringLiteral("trusted"));
    if (c.trustFileIsAFolder) {
        ASSERT_TRUE(QDir().mkdir(file));
    }
    FakeServer server;
    server.certificateProblem = c.certificateProblem;
    server.newCertificateEachTime = c.newCertificateEachTime;
    int questions = 0, errorsShown = 0;
    const TrustQuestion question{[&](const CertificateDetails& details) {
                                     ++questions;
                                     EXPECT_EQ(details.hostPort, server.hostPort);
                                     return c.answer;
                                 },
                                 [&](const QString&) { ++errorsShown; }};

    EXPECT_EQ(RunWithCertificateTrust(std::ref(server), file, question), c.result);
    EXPECT_EQ(server.runs, c.runs);
    EXPECT_EQ(questions, c.questions);
    EXPECT_EQ(errorsShown, c.errorsShown);
    if (!c.trustFileIsAFolder) {
        const auto read = ReadTrustedCertificates(file);
        ASSERT_TRUE(read.ok());
        EXPECT_EQ(read.value().contains(server.hostPort), c.stored);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rounds, TrustRound,
    ::testing::Values(
        //        name                     answer problem new   folder result runs asked errors stored
        RoundCase{"cancel_fails_unstored", false, true, false, false, -1, 1, 1, 0, false},
        RoundCase{"trust_runs_again", true, true, false, false, 7, 2, 1, 0, true},
        RoundCase{"other_failure_asks_nothing", true, false, false, false, -1, 1, 0, 0, false},
        RoundCase{"unstorable_trust_says_so", true, true, false, true, -1, 1, 1, 1, false},
        RoundCase{"ever_new_certificate_asks_three_times", true, true, true, false, -1, 4, 3, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });


// A mail check and a send on two threads: a refusal noted by the check's
// handshake is the check's to ask about. The send's round, run meanwhile
// and failing for a reason of its own, neither clears it nor asks about it.
TEST(TrustRound, ARefusalIsAskedAboutOnlyByTheThreadWhoseHandshakeMadeIt) {
    test::TempFolder folder;
    const QString file = folder.path(QStringLiteral("trusted"));
    std::promise<void> noted, otherRoundDone;
    std::vector<QString> checkAsked, sendAsked;
    const auto asking = [](std::vector<QString>& asked) {
        return TrustQuestion{[&asked](const CertificateDetails& details) {
                                 asked.push_back(details.hostPort);
                                 return false;
                             },
                             [](const QString&) {}};
    };
    std::thread check([&] {
        RunWithCertificateTrust(
            [&] {
                CertificateDetails details;
                details.hostPort = QStringLiteral("pop.example.jp:995");
                details.sha256 = kA;
                NoteRefusedCertificate(details);
                noted.set_value();
                otherRoundDone.get_future().wait();
                return -1;
            },
            file, asking(checkAsked));
    });
    std::thread send([&] {
        noted.get_future().wait();
        RunWithCertificateTrust([] { return -2; }, file, asking(sendAsked));
        otherRoundDone.set_value();
    });
    check.join();
    send.join();
    EXPECT_EQ(checkAsked, std::vector<QString>{QStringLiteral("pop.example.jp:995")});
    EXPECT_TRUE(sendAsked.empty()) << "the send was asked about the check's certificate";
}

}  // namespace
}  // namespace lumopet::mail
