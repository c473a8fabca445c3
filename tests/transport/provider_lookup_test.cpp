// The provider lookup against a local HTTPS server (scripts/autoconfig_server.py,
// a certificate for the test domains from a throwaway CA) and a local name
// server (dnsmasq on 127.0.0.77 port 53: Qt 6.4 asks a name server on port
// 53 only, so this part needs root).

#include "mail/transport/provider_lookup.h"
#include "tests/support/https_file_server.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace lumopet::mail {
namespace {

const QString kConfigPath = QStringLiteral("mail/config-v1.1.xml");
const QString kWellKnownPath = QStringLiteral(".well-known/autoconfig/mail/config-v1.1.xml");

QByteArray providerFile(const QString& domain, const QString& pop3Host, const char* pop3Socket = "SSL",
                        int pop3Port = 995) {
    return QStringLiteral(
               "<?xml version=\"1.0\"?><clientConfig version=\"1.1\"><emailProvider id=\"%1\">"
               "<domain>%1</domain><displayName>%1</displayName>"
               "<incomingServer type=\"pop3\"><hostname>%2</hostname><port>%4</port><socketType>%3</socketType>"
               "<username>%EMAILADDRESS%</username><authentication>password-cleartext</authentication></incomingServer>"
               "<outgoingServer type=\"smtp\"><hostname>smtp.%1</hostname><port>465</port><socketType>SSL</socketType>"
               "<username>%EMAILADDRESS%</username><authentication>password-cleartext</authentication></outgoingServer>"
               "</emailProvider></clientConfig>")
        .arg(domain, pop3Host, QLatin1String(pop3Socket))
        .arg(pop3Port)
        .toUtf8();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void stop(QProcess& process) {
    process.terminate();
    process.waitForFinished(3000);
}

// The test domains the server's certificate names, each with its
// autoconfig host; "badcert.test"'s autoconfig host is left out of it.
const char* const kDomains[] = {"good.test", "redirect.test", "huge.test", "notxml.test", "plain.test",
                                "badcert.test", "srv.test", "srv2.test", "nothing.test"};

// The names the server's certificate holds: each test domain with its
// autoconfig host, but for "badcert.test"'s autoconfig host.
QStringList certificateNames() {
    QStringList names;
    for (const char* domain : kDomains) {
        names << QString::fromLatin1(domain);
        if (QByteArray(domain) != "badcert.test") names << QStringLiteral("autoconfig.") + QString::fromLatin1(domain);
    }
    return names;
}

class ProviderLookupTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new test::HttpsFileServer(certificateNames());
        const test::HttpsFileServer& s = *server;
        // autoconfig.<domain> answers, or leaves it to the well-known path.
        s.serve(QStringLiteral("autoconfig.good.test"), kConfigPath, providerFile(QStringLiteral("good.test"),
                                                                                   QStringLiteral("pop.autoconfig.good.test")));
        s.serve(QStringLiteral("autoconfig.redirect.test"), kConfigPath + QStringLiteral(".redirect"),
                "http://evil.test/config-v1.1.xml");
        s.serve(QStringLiteral("autoconfig.huge.test"), kConfigPath,
                providerFile(QStringLiteral("huge.test"), QStringLiteral("pop.huge.test")) + QByteArray(1100 * 1024, ' '));
        s.serve(QStringLiteral("autoconfig.notxml.test"), kConfigPath, "Welcome & <b>good day</i>");
        s.serve(QStringLiteral("autoconfig.plain.test"), kConfigPath,
                providerFile(QStringLiteral("plain.test"), QStringLiteral("pop.plain.test"), "plain", 110));
        s.serve(QStringLiteral("autoconfig.badcert.test"), kConfigPath,
                providerFile(QStringLiteral("badcert.test"), QStringLiteral("pop.wrong.test")));
        for (const char* domain : {"redirect.test", "huge.test", "notxml.test", "plain.test", "badcert.test"})
            s.serve(QString::fromLatin1(domain), kWellKnownPath,
                    providerFile(QString::fromLatin1(domain), QStringLiteral("pop.wellknown.") + QString::fromLatin1(domain)));
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        if (!server->running()) GTEST_SKIP() << "the local HTTPS server did not start";
        userFolder = folders.filePath(QStringLiteral("user"));
        shippedFolder = folders.filePath(QStringLiteral("shipped"));
    }

    ProviderLookupOptions options() const {
        ProviderLookupOptions o;
        o.providerFolders = DefaultProviderFolders(userFolder, shippedFolder);
        o.timeoutMs = 3000;
        o.extraCaFile = server->caFile();
        for (const char* domain : kDomains) {
            o.loopbackHttpsPorts.insert(QString::fromLatin1(domain), server->port());
            o.loopbackHttpsPorts.insert(QStringLiteral("autoconfig.") + QString::fromLatin1(domain), server->port());
        }
        return o;
    }

    // Runs a lookup to its end; the outcome and the progress lines.
    LookupOutcome run(const QString& address, ProviderLookupOptions o) {
        ProviderLookup lookup(std::move(o));
        std::optional<LookupOutcome> outcome;
        QObject::connect(&lookup, &ProviderLookup::progress, [this](const QString& line) { lines << line; });
        QObject::connect(&lookup, &ProviderLookup::finished, [&](const LookupOutcome& o) { outcome = o; });
        lookup.start(address);
        EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 30000));
        return outcome.value_or(LookupOutcome{std::nullopt, QStringLiteral("no answer")});
    }

    bool saidLine(const QString& part) const {
        return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.contains(part); });
    }

    static inline test::HttpsFileServer* server = nullptr;
    QTemporaryDir folders;
    QString userFolder, shippedFolder;
    QStringList lines;
};

struct LookupCase {
    const char* name;
    const char* address;
    const char* pop3;     // the POP3 field found
    const char* source;   // part of where it came from
    const char* line;     // part of a progress line said on the way
};

class ProviderLookupCases : public ProviderLookupTest, public testing::WithParamInterface<LookupCase> {};

TEST_P(ProviderLookupCases, FindsTheSettingsFromTheRightSource) {
    const LookupCase& c = GetParam();
    // The user's file comes before the shipped one of the same name; a
    // shipped file found by its <domain> element, and one for sub-domains.
    writeFile(userFolder + QStringLiteral("/mine.test.xml"), providerFile(QStringLiteral("mine.test"), QStringLiteral("pop.user.test")));
    writeFile(shippedFolder + QStringLiteral("/mine.test.xml"),
              providerFile(QStringLiteral("mine.test"), QStringLiteral("pop.shipped.test")));
    writeFile(shippedFolder + QStringLiteral("/scanned.xml"),
              providerFile(QStringLiteral("scan.test"), QStringLiteral("pop.scan.test")));
    writeFile(shippedFolder + QStringLiteral("/wild.test.xml"),
              QByteArray(providerFile(QStringLiteral("wild.test"), QStringLiteral("pop.wild.test")))
                  .replace("<domain>wild.test</domain>", "<domain>*.wild.test</domain>"));
    // A broken file of the user's is passed over with a line.
    writeFile(userFolder + QStringLiteral("/broken.test.xml"), "<clientConfig><emailProvider>");
    writeFile(shippedFolder + QStringLiteral("/broken.test.xml"),
              providerFile(QStringLiteral("broken.test"), QStringLiteral("pop.shipped-broken.test")));

    const LookupOutcome outcome = run(QString::fromUtf8(c.address), options());
    ASSERT_TRUE(outcome.found.has_value()) << outcome.failure.toStdString() << "\n" << lines.join(u'\n').toStdString();
    EXPECT_EQ(outcome.found->pop3Field().toStdString(), c.pop3) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(outcome.found->source.contains(QString::fromUtf8(c.source))) << outcome.found->source.toStdString();
    EXPECT_TRUE(saidLine(QString::fromUtf8(c.line))) << lines.join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProviderLookupCases,
    testing::Values(
        LookupCase{"user_folder_first", "a@mine.test", "pop3s://pop.user.test:995", "mine.test.xml", "見つかりました"},
        LookupCase{"shipped_by_domain_element", "a@scan.test", "pop3s://pop.scan.test:995", "scanned.xml", "見つかりました"},
        LookupCase{"sub_domain_pattern", "a@x.wild.test", "pop3s://pop.wild.test:995", "wild.test.xml", "見つかりました"},
        LookupCase{"broken_user_file_passed_over", "a@broken.test", "pop3s://pop.shipped-broken.test:995",
                   "broken.test.xml", "broken.test.xml は使えません"},
        LookupCase{"autoconfig_host", "a@good.test", "pop3s://pop.autoconfig.good.test:995", "autoconfig.good.test",
                   "設定ファイルはありません"},
        LookupCase{"redirect_not_followed", "a@redirect.test", "pop3s://pop.wellknown.redirect.test:995", ".well-known",
                   "転送先（http://evil.test/config-v1.1.xml）には従いません"},
        LookupCase{"body_over_a_megabyte", "a@huge.test", "pop3s://pop.wellknown.huge.test:995", ".well-known",
                   "1 MB を超える"},
        LookupCase{"not_xml", "a@notxml.test", "pop3s://pop.wellknown.notxml.test:995", ".well-known", "XML として読めません"},
        LookupCase{"password_in_clear", "a@plain.test", "pop3s://pop.wellknown.plain.test:995", ".well-known",
                   "暗号化なしでパスワードを送る"},
        LookupCase{"certificate_for_another_name", "a@badcert.test", "pop3s://pop.wellknown.badcert.test:995",
                   ".well-known", "証明書を確認できませんでした"}),
    [](const testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.name); });

TEST_F(ProviderLookupTest, WithoutTheTestCaTheServerIsNotTrusted) {
    ProviderLookupOptions o = options();
    o.extraCaFile.clear();
    o.nameserver = QHostAddress(QStringLiteral("127.0.0.1"));  // nobody answers: SRV finds nothing
    o.timeoutMs = 1500;
    const LookupOutcome outcome = run(QStringLiteral("a@good.test"), o);
    EXPECT_FALSE(outcome.found.has_value());
    EXPECT_TRUE(saidLine(QStringLiteral("証明書を確認できませんでした"))) << lines.join(u'\n').toStdString();
    EXPECT_TRUE(outcome.failure.contains(QStringLiteral("見つかりませんでした"))) << outcome.failure.toStdString();
}

TEST_F(ProviderLookupTest, AProviderWithoutPop3EndsTheSearch) {
    writeFile(userFolder + QStringLiteral("/nopop.test.xml"),
              "<clientConfig version=\"1.1\"><emailProvider id=\"nopop.test\"><domain>nopop.test</domain>"
              "<documentation url=\"https://nopop.test/\"><descr lang=\"ja\">POP3 に対応していません。</descr>"
              "</documentation></emailProvider></clientConfig>");
    const LookupOutcome outcome = run(QStringLiteral("a@nopop.test"), options());
    ASSERT_TRUE(outcome.found.has_value());
    EXPECT_TRUE(outcome.found->noPop3);
    EXPECT_FALSE(saidLine(QStringLiteral("autoconfig"))) << "the network was asked after the file said no";
}

TEST_F(ProviderLookupTest, AnAddressThatIsNoAddressIsRefusedAtOnce) {
    const LookupOutcome outcome = run(QStringLiteral("not an address"), options());
    EXPECT_FALSE(outcome.found.has_value());
    EXPECT_TRUE(outcome.failure.contains(QStringLiteral("メールアドレス")));
    EXPECT_TRUE(lines.isEmpty());
}

// dnsmasq on 127.0.0.77:53 with the SRV records of srv.test and srv2.test.
class LocalNameServer {
public:
    LocalNameServer() {
        if (::geteuid() != 0 || !QFile::exists(QStringLiteral("/usr/sbin/dnsmasq"))) return;
        process_.start(QStringLiteral("/usr/sbin/dnsmasq"),
                       {QStringLiteral("--no-daemon"), QStringLiteral("--conf-file=/dev/null"), QStringLiteral("--port=53"),
                        QStringLiteral("--listen-address=127.0.0.77"), QStringLiteral("--bind-interfaces"),
                        QStringLiteral("--no-resolv"), QStringLiteral("--no-hosts"), QStringLiteral("--pid-file="),
                        // Two POP3S records: the lower priority wins.
                        QStringLiteral("--srv-host=_pop3s._tcp.srv.test,pop-b.srv.test,995,20,0"),
                        QStringLiteral("--srv-host=_pop3s._tcp.srv.test,pop-a.srv.test,995,10,5"),
                        // No submissions service ("."): submission with STARTTLS.
                        QStringLiteral("--srv-host=_submissions._tcp.srv.test"),
                        QStringLiteral("--srv-host=_submission._tcp.srv.test,smtp.srv.test,587,0,0"),
                        // POP3 with STARTTLS only, and SMTPS.
                        QStringLiteral("--srv-host=_pop3._tcp.srv2.test,pop.srv2.test,110,0,0"),
                        QStringLiteral("--srv-host=_submissions._tcp.srv2.test,smtp.srv2.test,465,0,0")});
        running_ = process_.waitForStarted(5000) && !process_.waitForFinished(500);
    }
    ~LocalNameServer() { stop(process_); }
    bool running() const { return running_; }

private:
    QProcess process_;
    bool running_ = false;
};

TEST_F(ProviderLookupTest, SrvRecordsFromTheNameServer) {
    LocalNameServer dns;
    if (!dns.running()) GTEST_SKIP() << "dnsmasq needs root to listen on port 53";
    struct Case {
        const char* address;
        const char* pop3;  // nullptr: nothing found
        const char* smtp;
    };
    const Case cases[] = {
        {"a@srv.test", "pop3s://pop-a.srv.test:995", "smtp://smtp.srv.test:587"},
        {"a@srv2.test", "pop.srv2.test:110", "smtps://smtp.srv2.test:465"},
        {"a@nothing.test", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        lines.clear();
        ProviderLookupOptions o = options();
        o.nameserver = QHostAddress(QStringLiteral("127.0.0.77"));
        const LookupOutcome outcome = run(QString::fromLatin1(c.address), o);
        EXPECT_TRUE(saidLine(QStringLiteral("SRV"))) << lines.join(u'\n').toStdString();
        if (!c.pop3) {
            EXPECT_FALSE(outcome.found.has_value());
            continue;
        }
        ASSERT_TRUE(outcome.found.has_value()) << outcome.failure.toStdString() << "\n" << lines.join(u'\n').toStdString();
        EXPECT_EQ(outcome.found->pop3Field().toStdString(), c.pop3);
        EXPECT_EQ(outcome.found->smtpField().toStdString(), c.smtp);
        EXPECT_EQ(outcome.found->userId, QString::fromLatin1(c.address));
    }
}

}  // namespace
}  // namespace lumopet::mail
