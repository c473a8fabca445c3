#include "mail/transport/provider_settings.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <string>

namespace lumopet::mail {
namespace {

// A clientConfig around the given emailProvider children (and what follows
// the provider).
QByteArray config(const QByteArray& inside, const QByteArray& after = {}) {
    return "<?xml version=\"1.0\"?>\n<clientConfig version=\"1.1\">\n<emailProvider id=\"example.jp\">\n"
           "<domain>Example.JP</domain><displayName>Example</displayName>\n" +
           inside + "</emailProvider>\n" + after + "</clientConfig>\n";
}

QByteArray server(const char* kind, const char* type, const char* host, int port, const char* socket,
                  const QByteArray& auth = "<authentication>password-cleartext</authentication>",
                  const char* user = "%EMAILADDRESS%") {
    return QByteArray("<") + kind + " type=\"" + type + "\"><hostname>" + host + "</hostname><port>" +
           QByteArray::number(port) + "</port><socketType>" + socket + "</socketType><username>" + user +
           "</username>" + auth + "</" + kind + ">\n";
}

// pop.example.jp and smtp.example.jp, each with the socket, port and methods.
QByteArray pop3(const char* socket, int port, const QByteArray& auth = "<authentication>password-cleartext</authentication>",
                const char* user = "%EMAILADDRESS%") {
    return server("incomingServer", "pop3", "pop.example.jp", port, socket, auth, user);
}
QByteArray smtp(const char* socket, int port, const QByteArray& auth = "<authentication>password-cleartext</authentication>") {
    return server("outgoingServer", "smtp", "smtp.example.jp", port, socket, auth);
}

const QByteArray kPop3s = pop3("SSL", 995);
const QByteArray kSmtps = smtp("SSL", 465);
const QByteArray kImap = server("incomingServer", "imap", "imap.example.jp", 993, "SSL");
const QByteArray kOAuth = "<oAuth2><issuer>accounts.example.jp</issuer><scope>a  b</scope>"
                          "<authURL>https://accounts.example.jp/auth</authURL>"
                          "<tokenURL>https://accounts.example.jp/token</tokenURL></oAuth2>";

struct ParseCase {
    const char* name;
    QByteArray file;
    const char* refusal;  // part of the refusal; nullptr: accepted
    const char* pop3 = "";  // the POP3 field for user@example.jp
    const char* smtp = "";
    const char* id = "user@example.jp";
};

class ProviderParse : public testing::TestWithParam<ParseCase> {};

TEST_P(ProviderParse, AcceptsOrRefusesWithItsReason) {
    const ParseCase& c = GetParam();
    const Result<ProviderSettings> parsed = ParseProviderSettings(c.file);
    if (c.refusal) {
        ASSERT_FALSE(parsed.ok());
        EXPECT_TRUE(parsed.error().contains(QString::fromUtf8(c.refusal))) << parsed.error().toStdString();
        return;
    }
    ASSERT_TRUE(parsed.ok()) << parsed.error().toStdString();
    const Result<FoundAccount> found =
        AccountFromProvider(parsed.value(), SplitMailAddress(QStringLiteral("user@example.jp")).value(), {});
    ASSERT_TRUE(found.ok()) << found.error().toStdString();
    EXPECT_EQ(found.value().pop3Field().toStdString(), c.pop3);
    EXPECT_EQ(found.value().smtpField().toStdString(), c.smtp);
    EXPECT_EQ(found.value().userId.toStdString(), c.id);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProviderParse,
    testing::Values(
        ParseCase{"starttls_both", config(pop3("STARTTLS", 110) + smtp("STARTTLS", 587)), nullptr, "pop.example.jp:110",
                  "smtp://smtp.example.jp:587"},
        // The implicit TLS server wins over the STARTTLS one listed first.
        ParseCase{"ssl_preferred",
                  config(server("incomingServer", "pop3", "pop-stls.example.jp", 110, "STARTTLS") + kPop3s +
                         server("outgoingServer", "smtp", "smtp-stls.example.jp", 587, "STARTTLS") + kSmtps),
                  nullptr, "pop3s://pop.example.jp:995", "smtps://smtp.example.jp:465"},
        ParseCase{"imap_skipped", config(kImap + kPop3s + kSmtps), nullptr, "pop3s://pop.example.jp:995",
                  "smtps://smtp.example.jp:465"},
        ParseCase{"localpart_and_domain",
                  config(server("incomingServer", "pop3", "pop.%EMAILDOMAIN%", 995, "SSL",
                                "<authentication>password-cleartext</authentication>", "%EMAILLOCALPART%") +
                         server("outgoingServer", "smtp", "smtp.%EMAILDOMAIN%", 465, "SSL")),
                  nullptr, "pop3s://pop.example.jp:995", "smtps://smtp.example.jp:465", "user"},
        ParseCase{"fixed_username",
                  config(pop3("SSL", 995, "<authentication>password-cleartext</authentication>", "%EMAILLOCALPART%.pop") +
                         kSmtps),
                  nullptr, "pop3s://pop.example.jp:995", "smtps://smtp.example.jp:465", "user.pop"},
        // A plain SMTP server that takes no password (the ISP knows its
        // own network) sends no secret.
        ParseCase{"plain_smtp_without_password", config(kPop3s + smtp("plain", 25, "<authentication>none</authentication>")),
                  nullptr, "pop3s://pop.example.jp:995", "smtp.example.jp:25"},
        // A plain server beside a TLS one: the TLS one is used.
        ParseCase{"plain_skipped_for_tls", config(pop3("plain", 110) + kPop3s + kSmtps), nullptr,
                  "pop3s://pop.example.jp:995", "smtps://smtp.example.jp:465"},
        ParseCase{"not_xml", "this is <not xml", "XML として読めません"},
        ParseCase{"html_page", "<html><body>404</body></html>", "clientConfig"},
        ParseCase{"broken_after_provider", config(kPop3s + kSmtps) + "<trailing", "XML として読めません"},
        ParseCase{"over_one_megabyte", config(kPop3s + kSmtps, "<!--" + QByteArray(1024 * 1024, 'x') + "-->"), "大きすぎます"},
        ParseCase{"no_provider", "<clientConfig version=\"1.1\"></clientConfig>", "emailProvider"},
        ParseCase{"imap_only", config(kImap + kSmtps), "POP3 サーバーがありません"},
        ParseCase{"no_smtp", config(kPop3s), "SMTP サーバーがありません"},
        ParseCase{"pop3_password_in_clear", config(pop3("plain", 110) + kSmtps), "POP3 サーバーが暗号化なしで"},
        ParseCase{"pop3_without_method_in_clear", config(pop3("plain", 110, "") + kSmtps), "POP3 サーバーが暗号化なしで"},
        ParseCase{"pop3_digest_in_clear",
                  config(pop3("plain", 110, "<authentication>password-encrypted</authentication>") + kSmtps),
                  "POP3 サーバーが暗号化なしで"},
        ParseCase{"smtp_password_in_clear", config(kPop3s + smtp("plain", 587)), "SMTP サーバーが暗号化なしで"},
        ParseCase{"smtp_token_in_clear", config(kPop3s + smtp("plain", 587, "<authentication>OAuth2</authentication>"), kOAuth),
                  "SMTP サーバーが暗号化なしで"},
        ParseCase{"unknown_socket_type", config(pop3("TLS1.3", 995) + kSmtps), "POP3 サーバーの設定が正しくありません"},
        ParseCase{"port_out_of_range", config(pop3("SSL", 70000) + kSmtps), "POP3 サーバーの設定が正しくありません"}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(ProviderParse, ReadsTheOAuth2ElementAndTheMethodsOfTheServer) {
    const QByteArray both = "<authentication>OAuth2</authentication><authentication>password-cleartext</authentication>";
    struct Case {
        QByteArray file;
        bool oauth2, password;
    };
    const Case cases[] = {
        {config(pop3("SSL", 995, both) + kSmtps, kOAuth), true, true},
        // The element inside emailProvider counts too.
        {config(pop3("SSL", 995, both) + kSmtps + kOAuth), true, true},
        {config(pop3("SSL", 995, "<authentication>OAuth2</authentication>") + kSmtps, kOAuth), true, false},
        // OAuth2 listed but no oAuth2 element: only the password is left.
        {config(pop3("SSL", 995, both) + kSmtps), false, true},
        // An oAuth2 element whose URLs are no web pages is no sign-in.
        {config(pop3("SSL", 995, both) + kSmtps,
                QByteArray(kOAuth).replace("https://accounts.example.jp/auth", "javascript:alert(1)")),
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const Result<ProviderSettings> parsed = ParseProviderSettings(c.file);
        ASSERT_TRUE(parsed.ok()) << parsed.error().toStdString();
        const Result<FoundAccount> found =
            AccountFromProvider(parsed.value(), SplitMailAddress(QStringLiteral("a@example.jp")).value(), {});
        ASSERT_TRUE(found.ok()) << found.error().toStdString();
        EXPECT_EQ(found.value().oauth2.has_value(), c.oauth2);
        EXPECT_EQ(found.value().passwordSignIn, c.password);
        if (c.oauth2) {
            EXPECT_EQ(found.value().oauth2->issuer, QStringLiteral("accounts.example.jp"));
            EXPECT_EQ(found.value().oauth2->scope, QStringLiteral("a b"));
            EXPECT_EQ(found.value().oauth2->tokenUrl, QStringLiteral("https://accounts.example.jp/token"));
            EXPECT_EQ(found.value().preferredSignIn(), SignInMethod::OAuth2);
        }
    }
}

TEST(ProviderParse, NotesTakeTheJapaneseTextAndOnlyWebLinks) {
    const QByteArray notes =
        "<enable visiturl=\"https://example.jp/pop\"><instruction>Turn POP on</instruction>"
        "<instruction lang=\"ja\">POP を有効にしてください。</instruction></enable>"
        "<documentation url=\"https://example.jp/help\"><descr lang=\"de\">Hilfe</descr>"
        "<descr lang=\"en\">Help</descr></documentation>"
        "<documentation url=\"file:///etc/passwd\"><descr>Local</descr></documentation>"
        "<documentation url=\"javascript:alert(1)\"></documentation>";
    const Result<ProviderSettings> parsed = ParseProviderSettings(config(kPop3s + kSmtps + notes));
    ASSERT_TRUE(parsed.ok()) << parsed.error().toStdString();
    const auto& n = parsed.value().notes;
    ASSERT_EQ(n.size(), 3u);
    EXPECT_EQ(n[0].text, QStringLiteral("POP を有効にしてください。"));
    EXPECT_EQ(n[0].url, QStringLiteral("https://example.jp/pop"));
    EXPECT_EQ(n[1].text, QStringLiteral("Help"));
    EXPECT_EQ(n[2].text, QStringLiteral("Local"));
    EXPECT_TRUE(n[2].url.isEmpty());
    EXPECT_EQ(parsed.value().domains, QStringList{QStringLiteral("example.jp")});
}

TEST(ProviderParse, AProviderWithoutPop3SaysSoAndGivesNoServers) {
    const QByteArray file = config("<documentation url=\"https://example.jp/\">"
                                   "<descr lang=\"ja\">POP3 に対応していません。</descr></documentation>");
    const Result<ProviderSettings> parsed = ParseProviderSettings(file);
    ASSERT_TRUE(parsed.ok()) << parsed.error().toStdString();
    EXPECT_FALSE(parsed.value().offersPop3());
    const Result<FoundAccount> found =
        AccountFromProvider(parsed.value(), SplitMailAddress(QStringLiteral("a@example.jp")).value(), {});
    ASSERT_TRUE(found.ok());
    EXPECT_TRUE(found.value().noPop3);
    EXPECT_TRUE(found.value().pop3Host.isEmpty());
    ASSERT_EQ(found.value().notes.size(), 1u);
    EXPECT_EQ(found.value().notes[0].text, QStringLiteral("POP3 に対応していません。"));
    // Without the sentence the same file is only a file without POP3.
    EXPECT_FALSE(ParseProviderSettings(config("")).ok());
}

TEST(ProviderParse, AServerNameTheAddressBreaksIsRefused) {
    // %EMAILLOCALPART% in a host name lets the address choose the server.
    const Result<ProviderSettings> parsed = ParseProviderSettings(
        config(server("incomingServer", "pop3", "%EMAILLOCALPART%.example.jp", 995, "SSL") + kSmtps));
    ASSERT_TRUE(parsed.ok());
    EXPECT_TRUE(AccountFromProvider(parsed.value(), SplitMailAddress(QStringLiteral("a.b@example.jp")).value(), {}).ok());
    EXPECT_FALSE(
        AccountFromProvider(parsed.value(), SplitMailAddress(QStringLiteral("evil/x@example.jp")).value(), {}).ok());
}

TEST(MailAddressSplit, AcceptsAddressesAndRefusesTheRest) {
    struct Case {
        const char* text;
        const char* domain;  // nullptr: refused
    };
    const Case cases[] = {
        {"User@Gmail.COM", "gmail.com"},
        {"  a.b+c@sub.ocn.ne.jp ", "sub.ocn.ne.jp"},
        {"a@例え.jp", "xn--r8jz45g.jp"},
        {"\"odd@\"@example.jp", nullptr},
        {"a@localhost", nullptr},
        {"@example.jp", nullptr},
        {"a@", nullptr},
        {"a b@example.jp", nullptr},
        {"a@exa_mple.jp", nullptr},
        {"a@-example.jp", nullptr},
        {"a@example..jp", nullptr},
    };
    for (const Case& c : cases) {
        const Result<MailAddressParts> split = SplitMailAddress(QString::fromUtf8(c.text));
        EXPECT_EQ(split.ok(), c.domain != nullptr) << c.text;
        if (split.ok() && c.domain) {
            EXPECT_EQ(split.value().domain.toStdString(), c.domain) << c.text;
        }
    }
}

// Every provider file the program ships reads, and gives POP3 and SMTP
// over TLS, or is a statement that the provider has no POP3. Its file name
// is one of its domains.
TEST(ShippedProviders, EveryFileParsesAndUsesTls) {
    const QDir folder(QStringLiteral(LUMOPET_PROVIDERS_DIR));
    const QStringList names = folder.entryList({QStringLiteral("*.xml")}, QDir::Files);
    ASSERT_GE(names.size(), 12);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_TRUE(bytes.contains("Source:")) << "no note of where the facts came from";
        const Result<ProviderSettings> parsed = ParseProviderSettings(bytes);
        ASSERT_TRUE(parsed.ok()) << parsed.error().toStdString();
        const ProviderSettings& s = parsed.value();
        const QString domain = name.chopped(4);
        if (domain != QStringLiteral("office365")) {
            EXPECT_TRUE(s.domains.contains(domain));
        }
        ASSERT_FALSE(s.notes.empty() && !s.offersPop3());
        if (!s.offersPop3()) {
            EXPECT_TRUE(s.notes[0].text.contains(QStringLiteral("POP3"))) << s.notes[0].text.toStdString();
            continue;
        }
        EXPECT_NE(s.pop3->socket, SocketType::Plain);
        EXPECT_NE(s.smtp->socket, SocketType::Plain);
        for (const ProviderNote& note : s.notes) {
            EXPECT_TRUE(note.url.startsWith(QStringLiteral("https://"))) << note.url.toStdString();
            EXPECT_FALSE(note.text.isEmpty());
        }
    }
}

}  // namespace
}  // namespace lumopet::mail
