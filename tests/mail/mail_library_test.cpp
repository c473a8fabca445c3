#include "mail/mail_library.h"
#include "tests/mail/scripted_transport.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

using mail::test::ScriptedMailbox;
using mail::test::ScriptedTransport;

const QByteArray kPlain = "From: a@example.jp\r\nSubject: first\r\nDate: Mon, 7 Dec 2026 12:00:00 +0900\r\n\r\n"
                          "Hello Lumopet\r\n";
const QByteArray kWithAttachment =
    "From: b@example.jp\r\nSubject: second\r\nMIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
    "--XX\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nsee the file\r\n"
    "--XX\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"../../evil.sh\"\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\nZWNobyBoaQo=\r\n--XX--\r\n";

class MailLibraryTest : public ::testing::Test {
protected:
    void SetUp() override { SetMailTransport(std::make_unique<ScriptedTransport>(box)); }
    void TearDown() override { SetMailTransport(nullptr); }

    QString lastError() {
        QString text;
        NMailGetMessage(0, text);
        return text;
    }

    std::shared_ptr<ScriptedMailbox> box = std::make_shared<ScriptedMailbox>();
    test::TempFolder folder;
};

TEST_F(MailLibraryTest, AServerThatCannotBeReachedGivesMinusOneAndSaysWhy) {
    box->connectError = QStringLiteral("サーバー 127.0.0.1:9 に接続できません（Connection refused）。");
    EXPECT_EQ(NMailPop3Connect(QStringLiteral("127.0.0.1:9")), -1);
    EXPECT_EQ(lastError(), box->connectError);
}

TEST_F(MailLibraryTest, AFailedLoginIsNegativeWithTheServersReply) {
    box->loginError = QStringLiteral("-ERR [AUTH] Authentication failed.");
    const int handle = NMailPop3Connect(QStringLiteral("pop.example.jp"));
    ASSERT_GT(handle, 0);
    EXPECT_LT(NMailPop3Authenticate(handle, QStringLiteral("user"), QStringLiteral("bad"), -1), 0);
    EXPECT_EQ(lastError(), box->loginError);
    EXPECT_EQ(box->log, QStringList({QStringLiteral("connect pop.example.jp"), QStringLiteral("login user apop")}));
    EXPECT_EQ(NMailPop3Close(handle), 0);
}

TEST_F(MailLibraryTest, AMailCheckFetchesStoresAttachmentsAndDeletesAtClose) {
    box->messages = {kPlain, kWithAttachment};
    const int handle = NMailPop3Connect(QStringLiteral("pop.example.jp"));
    ASSERT_EQ(NMailPop3Authenticate(handle, QStringLiteral("user"), QStringLiteral("pw"), 0), 2);

    MailTexts texts;
    QString body;
    for (int n = 1; n <= 2; ++n) {
        NMailPop3GetMailStatus(handle, n, texts, 0);
        EXPECT_EQ(NMailPop3GetMailSize(handle, n), box->messages[n - 1].size());
        NMailPop3GetMail(handle, n, texts, body, 0, 0);
        EXPECT_EQ(body.contains(QStringLiteral("attachment")), n == 2) << body.toStdString();
        const int attached = NMailAttachmentFileFirst(0, texts, body, folder.path(), folder.path(QStringLiteral("0.txt")),
                                                      QString(), 0);
        NMailAttachmentFileClose(0);
        EXPECT_EQ(attached, n == 2 ? 1 : 0);
        EXPECT_FALSE(body.contains(QStringLiteral("attachment"))) << "after the step the body is the text alone";
        EXPECT_EQ(NMailPop3DeleteMail(handle, n), 0);
    }
    EXPECT_EQ(texts.subject, QStringLiteral("second"));
    EXPECT_TRUE(box->deleted.empty()) << "nothing is deleted before the session closes";
    EXPECT_EQ(NMailPop3Close(handle), 0);
    EXPECT_EQ(box->deleted, (std::set<int>{1, 2}));
    // One fetch per message, whatever asked for it.
    EXPECT_EQ(box->log.filter(QStringLiteral("retr")).size(), 2);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("evil.sh")});
}

TEST_F(MailLibraryTest, AMessageCutOffIsNeverDeleted) {
    box->messages = {kPlain, kPlain};
    box->cutRetrieves = {2};
    const int handle = NMailPop3Connect(QStringLiteral("pop.example.jp"));
    ASSERT_EQ(NMailPop3Authenticate(handle, QStringLiteral("user"), QStringLiteral("pw"), 0), 2);
    MailTexts texts;
    QString body;
    EXPECT_LT(NMailPop3GetMail(handle, 2, texts, body, 0, 0), 0);
    EXPECT_EQ(lastError(), QStringLiteral("connection cut"));
    EXPECT_LT(NMailPop3DeleteMail(handle, 2), 0);
    EXPECT_LT(NMailPop3DeleteMail(handle, 1), 0) << "message 1 was never fetched in this session either";
    NMailPop3Close(handle);
    EXPECT_TRUE(box->deleted.empty());
}

TEST_F(MailLibraryTest, OperationsOnAClosedHandleFailCleanly) {
    MailTexts texts;
    QString body;
    EXPECT_EQ(NMailPop3Authenticate(42, QString(), QString(), 0), -1);
    EXPECT_EQ(NMailPop3GetMail(42, 1, texts, body, 0, 0), -1);
    EXPECT_EQ(NMailPop3Close(42), -1);
}

TEST_F(MailLibraryTest, SendingBuildsTheMessageAndDeliversToTheBareAddress) {
    ASSERT_EQ(NMailSmtpSendMail(QStringLiteral("smtp.example.jp"), QStringLiteral("山田 <taro@example.jp>"), QString(),
                                QString(), QStringLiteral("me@example.jp"), QStringLiteral("件名"),
                                QStringLiteral("本文です。"), QString(), QString(), 0),
              0);
    ASSERT_EQ(box->deliveries.size(), 1u);
    EXPECT_EQ(box->deliveries[0].from, QStringLiteral("me@example.jp"));
    EXPECT_EQ(box->deliveries[0].to, QStringLiteral("taro@example.jp"));
    EXPECT_TRUE(box->deliveries[0].message.contains("MIME-Version: 1.0"));
}

TEST_F(MailLibraryTest, NothingIsSentWhenAnAttachmentIsMissingOrTheServerRefuses) {
    const QString missing = folder.path(QStringLiteral("資料.txt"));
    EXPECT_LT(NMailSmtpSendMail(QStringLiteral("smtp.example.jp"), QStringLiteral("a@example.jp"), QString(), QString(),
                                QStringLiteral("me@example.jp"), QStringLiteral("s"), QStringLiteral("b"), QString(),
                                missing, 0),
              0);
    EXPECT_TRUE(lastError().contains(QStringLiteral("資料.txt"))) << lastError().toStdString();
    box->sendError = QStringLiteral("550 5.1.1 <nobody@example.jp>: Recipient address rejected");
    EXPECT_LT(NMailSmtpSendMail(QStringLiteral("smtp.example.jp"), QStringLiteral("nobody@example.jp"), QString(),
                                QString(), QStringLiteral("me@example.jp"), QStringLiteral("s"), QStringLiteral("b"),
                                QString(), QString(), 0),
              0);
    EXPECT_EQ(lastError(), box->sendError);
    EXPECT_TRUE(box->deliveries.empty());
}

TEST_F(MailLibraryTest, TextsAreCutToTheBufferSize) {
    box->messages = {"Subject: " + QByteArray(50, 'x') + "\r\n\r\nbody\r\n"};
    ASSERT_EQ(NMailSetOption(1, 11), 0);
    const int handle = NMailPop3Connect(QStringLiteral("pop.example.jp"));
    NMailPop3Authenticate(handle, QStringLiteral("u"), QStringLiteral("p"), 0);
    MailTexts texts;
    NMailPop3GetMailStatus(handle, 1, texts, 0);
    NMailPop3Close(handle);
    ASSERT_EQ(NMailSetOption(1, 8192), 0);
    EXPECT_EQ(texts.subject, QString(10, u'x'));
    EXPECT_EQ(NMailSetOption(7, 1), -1);
}

}  // namespace
}  // namespace lumopet
