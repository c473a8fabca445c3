// アカウント設定, offscreen, over the shipped provider files (no network:
// every address here is answered by a file).

#include "core/program.h"
#include "settings/AccountSetupForm.h"
#include "tests/support/settings_window_fixture.h"
#include "tests/support/temp_folder.h"
#include "ui/message_box.h"

#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace lumopet {
namespace {

class AccountSetupFormTest : public test::SettingsWindowFixture {
protected:
    std::unique_ptr<AccountSetupForm> open(bool clientIds) {
        auto form = std::make_unique<AccountSetupForm>(windows);
        mail::ProviderLookupOptions options;
        options.providerFolders = {folder.path(QStringLiteral("★MailData/providers")),
                                   QStringLiteral(LUMOPET_PROVIDERS_DIR)};
        options.timeoutMs = 1000;
        form->SetLookupOptions(options);
        form->hasClientId = [clientIds](const QString&) { return clientIds; };
        form->openLink = [this](const QUrl& url) { opened.push_back(url); };
        form->Form_Load();
        form->show();
        return form;
    }

    // Types the address and finds its settings.
    void find(AccountSetupForm& form, const QString& address) {
        form.AddressText->clear();
        QTest::keyClicks(form.AddressText, address);
        QTest::mouseClick(form.FindCommand, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !form.IsLookupRunning(); }, 10000));
    }

    std::vector<QUrl> opened;
};

struct SetupCase {
    const char* name;
    const char* address;
    bool clientIds;
    const char* pop3;  // shown; nullptr: 設定 stays disabled
    const char* id;
    bool oauth;        // the sign-in chosen
    const char* note;  // part of the notes
    // What 設定 writes.
    const char* smtpUrl;
    const char* pop3Url;
    const char* issuer;
};

class AccountSetupCases : public AccountSetupFormTest, public testing::WithParamInterface<SetupCase> {};

TEST_P(AccountSetupCases, FindsAndWritesTheAccount) {
    const SetupCase& c = GetParam();
    // The password of the ID/PASS window stays as it is.
    folder.write(QStringLiteral("★MailData/iniIdPass.ini"), "[EXEINI]\r\nNAME=old\r\nNAME2=secret\r\nNAME3=1\r\n");
    auto form = open(c.clientIds);
    find(*form, QString::fromUtf8(c.address));
    EXPECT_TRUE(form->NotesLabel->text().contains(QString::fromUtf8(c.note))) << form->NotesLabel->text().toStdString();
    if (!c.pop3) {
        EXPECT_FALSE(form->OkCommand->isEnabled());
        QTest::mouseClick(form->OkCommand, Qt::LeftButton);
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(folder.read(QStringLiteral("sorane.ini")), "<missing>");
        return;
    }
    ASSERT_TRUE(form->OkCommand->isEnabled()) << form->ProgressText->toPlainText().toStdString();
    EXPECT_TRUE(form->Pop3Value->text().startsWith(QString::fromUtf8(c.pop3))) << form->Pop3Value->text().toStdString();
    EXPECT_EQ(form->IdValue->text().toStdString(), c.id);
    EXPECT_EQ(form->OAuthOption->isChecked(), c.oauth);
    EXPECT_EQ(form->PasswordOption->isChecked(), !c.oauth);
    EXPECT_FALSE(form->ProgressText->toPlainText().isEmpty());

    QTest::mouseClick(form->OkCommand, Qt::LeftButton);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(form->isVisible());
    const QByteArray sorane = QByteArray("SMTP=") + c.smtpUrl + "\r\nPOP3=" + c.pop3Url + "\r\nMAIL=" + c.address + "\r\nAPOP=0\r\n";
    EXPECT_EQ(folder.read(QStringLiteral("sorane.ini")), sorane);
    const QByteArray account = folder.read(QStringLiteral("★MailData/iniIdPass.ini"));
    EXPECT_TRUE(account.contains("NAME=" + QByteArray(c.id) + "\r\n")) << account.toStdString();
    EXPECT_TRUE(account.contains("NAME2=secret\r\n")) << account.toStdString();
    const QByteArray options = folder.read(QStringLiteral("★MailData/lumopet.ini"));
    EXPECT_TRUE(options.contains("[Account]\r\n")) << options.toStdString();
    EXPECT_TRUE(options.contains(QByteArray("SignIn=") + (c.oauth ? "oauth2" : "password") + "\r\n")) << options.toStdString();
    EXPECT_TRUE(options.contains("OAuthIssuer=" + QByteArray(c.issuer) + "\r\n")) << options.toStdString();
    EXPECT_EQ(program.values.Pop3Server.toUtf8(), c.pop3Url);
    EXPECT_EQ(program.values.MailAddress, QString::fromUtf8(c.address));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AccountSetupCases,
    testing::Values(
        SetupCase{"gmail_oauth2", "someone@gmail.com", true, "pop.gmail.com　ポート 995", "someone@gmail.com", true,
                  "POP を有効に", "smtps://smtp.gmail.com:465", "pop3s://pop.gmail.com:995", "accounts.google.com"},
        // No client ID for Google: the app password route, said so.
        SetupCase{"gmail_without_client_id", "someone@googlemail.com", false, "pop.gmail.com", "someone@googlemail.com",
                  false, "クライアント ID がないため", "smtps://smtp.gmail.com:465", "pop3s://pop.gmail.com:995", ""},
        SetupCase{"outlook_oauth2", "taro@hotmail.co.jp", true, "outlook.office365.com　ポート 995", "taro@hotmail.co.jp",
                  true, "POP を使用する", "smtp://smtp-mail.outlook.com:587", "pop3s://outlook.office365.com:995",
                  "login.microsoftonline.com"},
        // Outlook.com takes no password: without a client ID nothing works.
        SetupCase{"outlook_without_client_id", "taro@outlook.jp", false, nullptr, "", false, "受け付けない", "", "", ""},
        SetupCase{"ocn_password", "hanako@ocn.ne.jp", true, "pop.ocn.ne.jp　ポート 995", "hanako@ocn.ne.jp", false,
                  "ID/PASS", "smtps://smtp.ocn.ne.jp:465", "pop3s://pop.ocn.ne.jp:995", ""},
        SetupCase{"yahoo_japan_local_part_id", "hanako@yahoo.co.jp", true, "pop.mail.yahoo.co.jp", "hanako", false,
                  "IMAP/POP/SMTP", "smtps://smtp.mail.yahoo.co.jp:465", "pop3s://pop.mail.yahoo.co.jp:995", ""},
        SetupCase{"icloud_no_pop3", "me@icloud.com", true, nullptr, "", false, "POP3 に対応していない", "", "", ""},
        // au one net: "pop." and "msa." before the address's own sub-domain,
        // under auone-net.jp and under dion.ne.jp alike.
        SetupCase{"auone_net_sub_domain", "kddi1@ab.auone-net.jp", true, "pop.ab.auone-net.jp　ポート 995",
                  "kddi1@ab.auone-net.jp", false, "ID/PASS", "smtps://msa.ab.auone-net.jp:465",
                  "pop3s://pop.ab.auone-net.jp:995", ""},
        SetupCase{"dion_sub_domain", "kddi1@d1.dion.ne.jp", true, "pop.d1.dion.ne.jp　ポート 995", "kddi1@d1.dion.ne.jp",
                  false, "ID/PASS", "smtps://msa.d1.dion.ne.jp:465", "pop3s://pop.d1.dion.ne.jp:995", ""},
        // au's mobile mail is not au one net: no POP3, said so.
        SetupCase{"au_mail_no_pop3", "taro@au.com", true, nullptr, "", false, "POP3 を提供していない", "", "", ""},
        SetupCase{"ezweb_no_pop3", "taro@ezweb.ne.jp", true, nullptr, "", false, "POP3 を提供していない", "", "", ""}),
    [](const testing::TestParamInfo<SetupCase>& info) { return std::string(info.param.name); });

TEST_F(AccountSetupFormTest, AProviderFileOfTheUsersWithStartTlsIsUsedAndItsRiskSaid) {
    folder.write(QStringLiteral("★MailData/providers/stls.test.xml"),
                 "<clientConfig version=\"1.1\"><emailProvider id=\"stls.test\"><domain>stls.test</domain>"
                 "<incomingServer type=\"pop3\"><hostname>pop.stls.test</hostname><port>110</port>"
                 "<socketType>STARTTLS</socketType><username>%EMAILLOCALPART%</username></incomingServer>"
                 "<outgoingServer type=\"smtp\"><hostname>smtp.stls.test</hostname><port>587</port>"
                 "<socketType>STARTTLS</socketType><username>%EMAILLOCALPART%</username></outgoingServer>"
                 "</emailProvider></clientConfig>");
    auto form = open(true);
    find(*form, QStringLiteral("jiro@stls.test"));
    ASSERT_TRUE(form->OkCommand->isEnabled()) << form->ProgressText->toPlainText().toStdString();
    EXPECT_TRUE(form->NotesLabel->text().contains(QStringLiteral("STARTTLS で暗号化します")));
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);
    EXPECT_EQ(folder.read(QStringLiteral("sorane.ini")),
              "SMTP=smtp://smtp.stls.test:587\r\nPOP3=pop.stls.test:110\r\nMAIL=jiro@stls.test\r\nAPOP=0\r\n");
    EXPECT_TRUE(folder.read(QStringLiteral("★MailData/iniIdPass.ini")).contains("NAME=jiro\r\n"));
}

TEST_F(AccountSetupFormTest, ChangingTheAddressAfterAFindTakesTheResultAway) {
    auto form = open(true);
    find(*form, QStringLiteral("someone@gmail.com"));
    ASSERT_TRUE(form->OkCommand->isEnabled());
    QTest::keyClicks(form->AddressText, QStringLiteral("x"));
    EXPECT_FALSE(form->OkCommand->isEnabled());
    EXPECT_FALSE(form->Found().has_value());
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);
    EXPECT_EQ(folder.read(QStringLiteral("sorane.ini")), "<missing>");
}

TEST_F(AccountSetupFormTest, ANoteLinkOpensThePage) {
    auto form = open(true);
    find(*form, QStringLiteral("someone@gmail.com"));
    Q_EMIT form->NotesLabel->linkActivated(QStringLiteral("https://mail.google.com/mail/u/0/#settings/fwdandpop"));
    Q_EMIT form->NotesLabel->linkActivated(QStringLiteral("file:///etc/passwd"));
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].host(), QStringLiteral("mail.google.com"));
}

TEST_F(AccountSetupFormTest, AFailedWriteIsSaidAndTheWindowStays) {
    ASSERT_TRUE(QDir().mkdir(folder.path(QStringLiteral("sorane.ini"))));  // a folder in its place
    auto form = open(true);
    find(*form, QStringLiteral("hanako@ocn.ne.jp"));
    QTest::mouseClick(form->OkCommand, Qt::LeftButton);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].title, QStringLiteral("エラー"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(program.values.Pop3Server.isEmpty());
}

}  // namespace
}  // namespace lumopet
