// The account that signs in with OAuth2, as the user meets it: the main
// window's 受信 and the compose window's 送信, offscreen, against Dovecot
// taking the tests' authorization server's tokens (POP3 and submission
// with XOAUTH2), with the tests' browser given as $BROWSER.

#include "app/MainForm.h"
#include "app/program_windows.h"
#include "compose/WriteForm.h"
#include "core/program.h"
#include "store/history_file.h"
#include "store/secret_stores.h"
#include "tests/support/files_holding.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/temp_folder.h"
#include "ui/hot_spot_label.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QFileInfo>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

const QString kIssuer = QStringLiteral("auth.example.test");

QByteArray providerFile() {
    return QStringLiteral(R"(<?xml version="1.0"?>
<clientConfig version="1.1">
  <emailProvider id="example.test">
    <domain>example.test</domain>
    <incomingServer type="pop3">
      <hostname>localhost</hostname><port>995</port><socketType>SSL</socketType>
      <username>%EMAILLOCALPART%</username><authentication>OAuth2</authentication>
    </incomingServer>
    <outgoingServer type="smtp">
      <hostname>localhost</hostname><port>465</port><socketType>SSL</socketType>
      <username>%EMAILLOCALPART%</username><authentication>OAuth2</authentication>
    </outgoingServer>
  </emailProvider>
  <oAuth2>
    <issuer>%1</issuer><scope>mail</scope>
    <authURL>%2</authURL><tokenURL>%3</tokenURL>
  </oAuth2>
</clientConfig>
)")
        .arg(kIssuer, servers->authorizeUrl(), servers->tokenUrl())
        .toUtf8();
}

class OAuth2Account : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.paths.createFolders());
        folder.write(QStringLiteral("sorane.ini"), QStringLiteral("SMTP=%1\r\nPOP3=%2\r\nMAIL=alice@example.test\r\nAPOP=0\r\n")
                                                       .arg(servers->submissions(), servers->pop3s())
                                                       .toUtf8());
        folder.write(QStringLiteral("★MailData/iniIdPass.ini"), "[EXEINI]\r\nNAME=alice\r\nNAME3=1\r\n");
        folder.write(QStringLiteral("★MailData/lumopet.ini"),
                     QStringLiteral("[Account]\r\nSignIn=oauth2\r\nOAuthIssuer=%1\r\n").arg(kIssuer).toUtf8());
        folder.write(QStringLiteral("★MailData/providers/example.test.xml"), providerFile());
        folder.write(QStringLiteral("★MailData/oauth2_clients.ini"),
                     QStringLiteral("[%1]\r\nClientId=lumopet-tests\r\n").arg(kIssuer).toUtf8());
        qputenv("BROWSER", LUMOPET_SOURCE_DIR "/tests/scripts/oauth_browser.py");
        qputenv("OAUTH_BROWSER_LOG", folder.path(QStringLiteral("browser.log")).toUtf8());
        SetMessageAnswerer([this](const MessageRequest& request) {
            boxes.append(request);
            return MessageAnswer::Ok;
        });
        windows.mainForm().Form_Load();
        // Each test starts from a server that knows no token of ours.
        ASSERT_TRUE(servers->revokeRefreshTokens());
        ASSERT_TRUE(servers->expireAccessTokens());
    }
    void TearDown() override { SetMessageAnswerer({}); }

    void check(MailCheckKind kind) {
        MainForm& form = windows.mainForm();
        QSignalSpy finished(&form, &MainForm::mailCheckFinished);
        if (kind == MailCheckKind::Manual)
            QTest::mouseClick(form.Label8, Qt::LeftButton);
        else
            form.StartMailCheck(kind);
        // A check with no token to log in with ends before the call returns.
        if (finished.isEmpty()) EXPECT_TRUE(finished.wait(30000));
    }

    int browserOpened() {
        QFile log(folder.path(QStringLiteral("browser.log")));
        if (!log.open(QIODevice::ReadOnly)) return 0;
        return static_cast<int>(log.readAll().count('\n'));
    }
    int tokenRequests(const char* grant) {
        return servers->oauth2Stats().value(QStringLiteral("token")).toObject().value(QLatin1String(grant)).toInt();
    }
    std::vector<HistoryRecord> history() { return ReadAll(HistoryPath(program.paths, History::Received)); }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramWindows windows{program};
    QList<MessageRequest> boxes;
};

TEST_F(OAuth2Account, AClickSignsInThroughTheBrowserOnceAndLaterChecksRefreshWithoutIt) {
    ASSERT_TRUE(servers->deliver(QStringLiteral("alice"), test::TextMessage(QStringLiteral("first"), QStringLiteral("one"))));
    const int codesBefore = tokenRequests("authorization_code");
    check(MailCheckKind::Manual);
    EXPECT_EQ(browserOpened(), 1);
    EXPECT_EQ(tokenRequests("authorization_code"), codesBefore + 1);
    ASSERT_EQ(history().size(), 1u);
    EXPECT_EQ(history()[0].Subject, QStringLiteral("first"));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.value(0).text.toStdString();

    // The server forgets the access token before its time: the refused
    // login is refreshed once, and the check goes on, without the browser.
    ASSERT_TRUE(servers->expireAccessTokens());
    ASSERT_TRUE(servers->deliver(QStringLiteral("alice"), test::TextMessage(QStringLiteral("second"), QStringLiteral("two"))));
    const int refreshesBefore = tokenRequests("refresh_token");
    check(MailCheckKind::Automatic);
    EXPECT_EQ(browserOpened(), 1);
    EXPECT_EQ(tokenRequests("refresh_token"), refreshesBefore + 1);
    ASSERT_EQ(history().size(), 2u);
    EXPECT_EQ(history()[1].Subject, QStringLiteral("second"));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.value(0).text.toStdString();
}

TEST_F(OAuth2Account, ARevokedSignInIsSaidOnceAndATimedCheckNeverOpensTheBrowser) {
    check(MailCheckKind::Manual);  // signed in
    ASSERT_EQ(browserOpened(), 1);
    ASSERT_TRUE(servers->revokeRefreshTokens());
    ASSERT_TRUE(servers->expireAccessTokens());
    MainForm& form = windows.mainForm();
    QSignalSpy said(&form, &MainForm::autoCheckTroubleSaid);
    const int refreshesBefore = tokenRequests("refresh_token");
    check(MailCheckKind::Automatic);
    check(MailCheckKind::Automatic);
    check(MailCheckKind::Automatic);
    EXPECT_EQ(browserOpened(), 1) << "a timed check never opens the browser";
    EXPECT_EQ(tokenRequests("refresh_token"), refreshesBefore + 1) << "no refresh after invalid_grant";
    EXPECT_EQ(said.count(), 1);
    EXPECT_EQ(form.Text1->text(), kAutoCheckFailedText);
    EXPECT_TRUE(boxes.isEmpty());

    // The user's click signs in anew.
    ASSERT_TRUE(servers->deliver(QStringLiteral("alice"), test::TextMessage(QStringLiteral("after"), QStringLiteral("x"))));
    check(MailCheckKind::Manual);
    EXPECT_EQ(browserOpened(), 2);
    ASSERT_FALSE(history().empty());
    EXPECT_EQ(history().back().Subject, QStringLiteral("after"));
}

TEST_F(OAuth2Account, ASecondClickWhileTheSignInWaitsOpensItsPageAgain) {
    // A browser that only notes the page, as one whose user closed it.
    const QString browser = folder.path(QStringLiteral("closed_browser.sh"));
    folder.write(QStringLiteral("closed_browser.sh"), "#!/bin/sh\necho \"$1\" >> \"$OAUTH_BROWSER_LOG\"\n");
    QFile::setPermissions(browser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("BROWSER", browser.toUtf8());
    MainForm& form = windows.mainForm();
    QSignalSpy finished(&form, &MainForm::mailCheckFinished);
    QTest::mouseClick(form.Label8, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return browserOpened() == 1; }, 5000));
    EXPECT_TRUE(form.Label2->text().contains(QStringLiteral("ブラウザー"))) << form.Label2->text().toStdString();
    QTest::mouseClick(form.Label8, Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return browserOpened() == 2; }, 5000));
    EXPECT_TRUE(finished.isEmpty()) << "the check waits for the sign-in";
    EXPECT_TRUE(form.isCheckRunning());
}

TEST_F(OAuth2Account, ASendGoesOutThroughSubmissionWithTheTokenAndNoSecretIsInAnyFile) {
    const int before = servers->count(QStringLiteral("bob"));
    windows.ShowWriteForm();
    WriteForm& form = windows.writeForm();
    form.ToText->setPlainText(QStringLiteral("bob@localhost"));
    form.SubjectText->setText(QStringLiteral("トークンで送信"));
    form.BodyText->setPlainText(QStringLiteral("本文"));
    QSignalSpy finished(&form, &WriteForm::sendFinished);
    QTest::mouseClick(form.Command1, Qt::LeftButton);
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.value(0).text.toStdString();
    EXPECT_EQ(servers->count(QStringLiteral("bob")), before + 1);
    EXPECT_EQ(browserOpened(), 1);

    // The refresh token is in the keyring when one answers (this program
    // runs under a private one too), else in its own 0600 file; in no
    // other file of the program folder (the sent copy, the settings).
    const QString tokenFile = folder.path(QStringLiteral("★MailData/oauth2_token.ini"));
    QString refreshToken;
    if (qEnvironmentVariableIsSet("LUMOPET_TEST_PRIVATE_KEYRING")) {
        ASSERT_TRUE(SecretServiceOnSessionBus());
        EXPECT_FALSE(QFileInfo::exists(tokenFile));
        const Result<std::optional<QString>> kept = KeyringSecretStore().read(SecretKind::RefreshToken, QStringLiteral("alice"));
        ASSERT_TRUE(kept.ok() && kept.value()) << (kept.ok() ? "none kept" : kept.error().toStdString());
        refreshToken = *kept.value();
    } else {
        QFile file(tokenFile);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray kept = file.readAll();
        const qsizetype at = kept.indexOf("RefreshToken=");
        ASSERT_GE(at, 0) << kept.toStdString();
        refreshToken = QString::fromLatin1(kept.mid(at + 13).split('\r').first().trimmed());
        EXPECT_EQ(file.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther), 0);
        file.close();
        QFile::remove(tokenFile);
    }
    ASSERT_FALSE(refreshToken.isEmpty());
    EXPECT_EQ(test::FilesHolding(folder.path(), refreshToken), QStringList());
}

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new lumopet::test::MailServersEnvironment(
        {QStringLiteral("alice:alice-pw"), QStringLiteral("bob:bob-pw")}, lumopet::test::OAuth2Options(QStringLiteral("alice"))));
    return RUN_ALL_TESTS();
}
