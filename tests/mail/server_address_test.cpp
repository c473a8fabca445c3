#include "mail/server_address.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

namespace lumopet::mail {
namespace {

struct AddressCase {
    const char* name;
    const char* text;
    MailProtocol protocol;
    const char* url;  // nullptr: refused
    TlsMode tls = TlsMode::UpgradeWhenOffered;
};

class ServerAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(ServerAddressTest, GivesTheUrlCurlConnectsTo) {
    const auto address = ParseServerAddress(QString::fromUtf8(GetParam().text), GetParam().protocol);
    if (!GetParam().url) {
        EXPECT_FALSE(address.ok());
        return;
    }
    ASSERT_TRUE(address.ok()) << address.error().toStdString();
    EXPECT_EQ(address.value().url(), QString::fromUtf8(GetParam().url));
    EXPECT_EQ(address.value().tls, GetParam().tls);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ServerAddressTest,
    ::testing::Values(
        AddressCase{"plain_host", "mail.example.jp", MailProtocol::Pop3, "pop3://mail.example.jp:110"},
        AddressCase{"blanks_around", " mail.example.jp ", MailProtocol::Smtp, "smtp://mail.example.jp:25"},
        AddressCase{"host_and_port", "127.0.0.1:1110", MailProtocol::Pop3, "pop3://127.0.0.1:1110"},
        AddressCase{"pop3s_default_port", "pop3s://mail.example.jp", MailProtocol::Pop3, "pop3s://mail.example.jp:995",
                    TlsMode::Implicit},
        AddressCase{"pop3s_with_port", "POP3S://mail.example.jp:1995/", MailProtocol::Pop3, "pop3s://mail.example.jp:1995",
                    TlsMode::Implicit},
        AddressCase{"pop3_scheme_is_the_plain_form", "pop3://mail.example.jp", MailProtocol::Pop3, "pop3://mail.example.jp:110"},
        AddressCase{"smtps_default_port", "smtps://smtp.example.jp", MailProtocol::Smtp, "smtps://smtp.example.jp:465",
                    TlsMode::Implicit},
        // smtp:// sends nothing without STARTTLS; the plain form upgrades
        // when it can.
        AddressCase{"submission", "smtp://smtp.example.jp:587", MailProtocol::Smtp, "smtp://smtp.example.jp:587",
                    TlsMode::StartTlsRequired},
        AddressCase{"smtp_scheme_default_port", "SMTP://smtp.example.jp", MailProtocol::Smtp, "smtp://smtp.example.jp:25",
                    TlsMode::StartTlsRequired},
        AddressCase{"plain_submission_port", "smtp.example.jp:587", MailProtocol::Smtp, "smtp://smtp.example.jp:587"},
        AddressCase{"ipv6_bracketed", "[::1]:2525", MailProtocol::Smtp, "smtp://[::1]:2525"},
        AddressCase{"ipv6_bare", "::1", MailProtocol::Pop3, "pop3://[::1]:110"},
        AddressCase{"empty", "", MailProtocol::Pop3, nullptr},
        AddressCase{"wrong_scheme", "imap://mail.example.jp", MailProtocol::Pop3, nullptr},
        AddressCase{"smtp_scheme_for_pop3", "smtps://mail.example.jp", MailProtocol::Pop3, nullptr},
        AddressCase{"port_not_a_number", "mail.example.jp:pop", MailProtocol::Pop3, nullptr},
        AddressCase{"port_out_of_range", "mail.example.jp:70000", MailProtocol::Pop3, nullptr},
        AddressCase{"path_in_host", "pop3://mail.example.jp/inbox", MailProtocol::Pop3, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// Where a login may go without TLS: only to this machine itself.
TEST(ServerAddress, LoopbackHostsAreThisMachineOnly) {
    struct {
        const char* host;
        bool loopback;
    } const cases[] = {
        {"localhost", true},         {"LocalHost", true},     {"mail.localhost", true},  {"127.0.0.1", true},
        {"127.45.0.9", true},        {"::1", true},           {"::ffff:127.0.0.1", true}, {"localhost.example.jp", false},
        {"mylocalhost", false},      {"128.0.0.1", false},    {"10.0.0.1", false},       {"::2", false},
        {"::ffff:10.0.0.1", false},  {"mail.example.jp", false}, {"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsLoopbackHost(QString::fromUtf8(c.host)), c.loopback) << c.host;
}

}  // namespace
}  // namespace lumopet::mail
