#include "mail/mail_library.h"
#include "tests/mail/scripted_transport.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>

#include <functional>
#include <future>
#include <thread>

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

    static mail::Credentials login(const QString& user = QStringLiteral("user"), const QString& password = QStringLiteral("pw")) {
        return mail::Credentials::password(user, password);
    }
    static MailSent send(const QString& to, const QStringList& attachments = {}) {
        return NMailSmtpSendMail({QStringLiteral("smtp.example.jp"), to, QStringLiteral("me@example.jp"), QStringLiteral("件名"),
                                  QStringLiteral("本文です。"), attachments},
                                 login());
    }

    std::shared_ptr<ScriptedMailbox> box = std::make_shared<ScriptedMailbox>();
    test::TempFolder folder;
};

TEST_F(MailLibraryTest, AServerThatCannotBeReachedGivesMinusOneAndSaysWhy) {
    box->connectError = QStringLiteral("サーバー 127.0.0.1:9 に接続できません（Connection refused）。");
    QString error;
    EXPECT_EQ(NMailPop3Connect(QStringLiteral("127.0.0.1:9"), error), -1);
    EXPECT_EQ(error, box->connectError);
}

TEST_F(MailLibraryTest, AFailedLoginIsNegativeWithTheServersReply) {
    box->loginError = QStringLiteral("-ERR [AUTH] Authentication failed.");
    QString error;
    const int handle = NMailPop3Connect(QStringLiteral("pop.example.jp"), error);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(NMailPop3Authenticate(handle, mail::Credentials::apop(QStringLiteral("user"), QStringLiteral("bad"))), kMailFailed);
    EXPECT_EQ(LastMailError(handle), box->loginError);
    EXPECT_EQ(box->log, QStringList({QStringLiteral("connect pop.example.jp"), QStringLiteral("login user apop")}));
    EXPECT_EQ(NMailPop3Close(handle), 0);
}

TEST_F(MailLibraryTest, AMailCheckFetchesStoresAttachmentsAndDeletesAtClose) {
    box->messages = {kPlain, kWithAttachment};
    QString error;
    const int handle = NMailPop3Connect(QStringLiteral("pop.example.jp"), error);
    ASSERT_EQ(NMailPop3Authenticate(handle, login()), 2);

    MailTexts texts;
    QString body;
    for (int n = 1; n <= 2; ++n) {
        NMailPop3GetMailStatus(handle, n, texts, 0);
        EXPECT_EQ(NMailPop3GetMailSize(handle, n), box->messages[n - 1].size());
        NMailPop3GetMail(handle, n, texts, body, 0, 0);
        EXPECT_EQ(body.contains(QStringLiteral("attachment")), n == 2) << body.toStdString();
        const int attached = NMailAttachmentFileFirst(handle, texts, body, folder.path(), folder.path(QStringLiteral("0.txt")),
                                                      QString(), 0);
        NMailAttachmentFileClose(handle);
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
    QString error;
    const int handle = NMailPop3Connect(QStringLiteral("pop.example.jp"), error);
    ASSERT_EQ(NMailPop3Authenticate(handle, login()), 2);
    MailTexts texts;
    QString body;
    EXPECT_LT(NMailPop3GetMail(handle, 2, texts, body, 0, 0), 0);
    EXPECT_EQ(LastMailError(handle), QStringLiteral("connection cut"));
    EXPECT_LT(NMailPop3DeleteMail(handle, 2), 0);
    EXPECT_LT(NMailPop3DeleteMail(handle, 1), 0) << "message 1 was never fetched in this session either";
    NMailPop3Close(handle);
    EXPECT_TRUE(box->deleted.empty());
}

TEST_F(MailLibraryTest, OperationsOnAClosedHandleFailCleanly) {
    MailTexts texts;
    QString body;
    EXPECT_EQ(NMailPop3Authenticate(42, login()), -1);
    EXPECT_EQ(NMailPop3GetMail(42, 1, texts, body, 0, 0), -1);
    EXPECT_EQ(NMailPop3Close(42), -1);
    EXPECT_EQ(LastMailError(42), QStringLiteral("POP3 サーバーに接続していません。"));
}

TEST_F(MailLibraryTest, SendingBuildsTheMessageAndDeliversToTheBareAddress) {
    const MailSent sent = send(QStringLiteral("山田 <taro@example.jp>"));
    ASSERT_EQ(sent.code, 0) << sent.error.toStdString();
    ASSERT_EQ(box->deliveries.size(), 1u);
    EXPECT_EQ(sent.message, box->deliveries[0].message) << "the result holds the message as it went out";
    EXPECT_EQ(box->deliveries[0].from, QStringLiteral("me@example.jp"));
    EXPECT_EQ(box->deliveries[0].to, QStringLiteral("taro@example.jp"));
    EXPECT_TRUE(box->deliveries[0].message.contains("MIME-Version: 1.0"));
}

TEST_F(MailLibraryTest, NothingIsSentWhenAnAttachmentIsMissingOrTheServerRefuses) {
    const QString missing = folder.path(QStringLiteral("資料.txt"));
    const MailSent unreadable = send(QStringLiteral("a@example.jp"), {missing});
    EXPECT_EQ(unreadable.code, kNoConnection);
    EXPECT_TRUE(unreadable.error.contains(QStringLiteral("資料.txt"))) << unreadable.error.toStdString();
    box->sendError = QStringLiteral("550 5.1.1 <nobody@example.jp>: Recipient address rejected");
    const MailSent refused = send(QStringLiteral("nobody@example.jp"));
    EXPECT_EQ(refused.code, kMailFailed);
    EXPECT_EQ(refused.error, box->sendError);
    EXPECT_TRUE(refused.message.isEmpty());
    EXPECT_TRUE(box->deliveries.empty());
}

TEST_F(MailLibraryTest, TextsAreCutToTheBufferSize) {
    box->messages = {"Subject: " + QByteArray(50, 'x') + "\r\n\r\nbody\r\n"};
    ASSERT_EQ(NMailSetOption(1, 11), 0);
    QString error;
    const int handle = NMailPop3Connect(QStringLiteral("pop.example.jp"), error);
    NMailPop3Authenticate(handle, login());
    MailTexts texts;
    NMailPop3GetMailStatus(handle, 1, texts, 0);
    NMailPop3Close(handle);
    ASSERT_EQ(NMailSetOption(1, 8192), 0);
    EXPECT_EQ(texts.subject, QString(10, u'x'));
    EXPECT_EQ(NMailSetOption(7, 1), -1);
}


// A mail check and a send run on two worker threads. Whatever one of them
// does between the other's failure and its reading of the reason, each
// reads its own: the layer keeps no "last error" they share.
struct InterleavedCase {
    const char* name;
    std::function<void(ScriptedMailbox&)> prepare;
    // The check's steps up to its failure; returns how it reads the reason
    // afterwards (the session is still open unless the steps closed it).
    std::function<std::function<QString()>(int handle)> failCheck;
    QString checkSays;
    // What the other thread does in between; returns the reason it got.
    std::function<QString()> other;
    QString otherSays;
};

const QString kLoginRefusal = QStringLiteral("-ERR [AUTH] check: Authentication failed.");
const QString kSendRefusal = QStringLiteral("550 5.1.1 <nobody@example.jp>: Recipient address rejected");
const QString kDeleteRefusal = QStringLiteral("-ERR Message is locked");

QString failedSend() {
    return NMailSmtpSendMail({QStringLiteral("smtp.example.jp"), QStringLiteral("nobody@example.jp"), QStringLiteral("me@example.jp"),
                              QStringLiteral("s"), QStringLiteral("b"), {}},
                             mail::Credentials::password(QStringLiteral("user"), QStringLiteral("pw")))
        .error;
}

// A second POP3 session whose login fails, as the POP3 login of a send
// before SMTP may: its own reason, in its own session.
QString failedPopBeforeSmtp() {
    QString error;
    const int handle = NMailPop3Connect(QStringLiteral("pop.example.jp"), error);
    if (handle < 0) return error;
    NMailPop3Authenticate(handle, mail::Credentials::password(QStringLiteral("send"), QStringLiteral("pw")));
    const QString said = LastMailError(handle);
    NMailPop3Close(handle);
    return said;
}

std::function<QString()> readSession(int handle) {
    return [handle] { return LastMailError(handle); };
}

class Interleaved : public ::testing::TestWithParam<InterleavedCase> {
protected:
    void SetUp() override { SetMailTransport(std::make_unique<ScriptedTransport>(box)); }
    void TearDown() override { SetMailTransport(nullptr); }
    std::shared_ptr<ScriptedMailbox> box = std::make_shared<ScriptedMailbox>();
};

TEST_P(Interleaved, EachThreadReadsItsOwnReason) {
    GetParam().prepare(*box);
    box->sendError = kSendRefusal;
    std::promise<void> checkFailed, otherDone;
    QString checkSaid, otherSaid;
    std::thread check([&] {
        QString error;
        const int handle = NMailPop3Connect(QStringLiteral("pop.example.jp"), error);
        const std::function<QString()> read = GetParam().failCheck(handle);
        checkFailed.set_value();
        otherDone.get_future().wait();
        checkSaid = read();
        NMailPop3Close(handle);
    });
    std::thread other([&] {
        checkFailed.get_future().wait();
        otherSaid = GetParam().other();
        otherDone.set_value();
    });
    check.join();
    other.join();
    EXPECT_EQ(checkSaid, GetParam().checkSays);
    EXPECT_EQ(otherSaid, GetParam().otherSays);
}

// The check's failures: a refused login, a message cut off, deletions the
// server refused at the close.
std::function<QString()> loginRefused(int handle) {
    NMailPop3Authenticate(handle, mail::Credentials::password(QStringLiteral("user"), QStringLiteral("pw")));
    return readSession(handle);
}

std::function<QString()> messageCut(int handle) {
    NMailPop3Authenticate(handle, mail::Credentials::password(QStringLiteral("user"), QStringLiteral("pw")));
    MailTexts texts;
    QString body;
    NMailPop3GetMail(handle, 1, texts, body, 0, 0);
    return readSession(handle);
}

std::function<QString()> deletionRefused(int handle) {
    NMailPop3Authenticate(handle, mail::Credentials::password(QStringLiteral("user"), QStringLiteral("pw")));
    MailTexts texts;
    QString body;
    NMailPop3GetMail(handle, 1, texts, body, 0, 0);
    NMailPop3DeleteMail(handle, 1);
    auto left = std::make_shared<mail::NotDeleted>();
    NMailPop3Close(handle, left.get());
    return [left] {
        QStringList numbers;
        for (const int n : left->numbers) numbers << QString::number(n);
        return numbers.join(u',') + u' ' + left->reason;
    };
}

void refuseCheckLogin(ScriptedMailbox& box) { box.loginError = kLoginRefusal; }
void cutFirstMessage(ScriptedMailbox& box) {
    box.messages = {kPlain};
    box.cutRetrieves = {1};
}
void refuseFirstDeletion(ScriptedMailbox& box) {
    box.messages = {kPlain};
    box.refusedDeletes = {1};
    box.deleteRefusal = kDeleteRefusal;
}

INSTANTIATE_TEST_SUITE_P(
    CheckAndSend, Interleaved,
    ::testing::Values(
        InterleavedCase{"login_refused_then_send_refused", refuseCheckLogin, loginRefused, kLoginRefusal, failedSend, kSendRefusal},
        InterleavedCase{"message_cut_then_send_refused", cutFirstMessage, messageCut, QStringLiteral("connection cut"), failedSend,
                        kSendRefusal},
        InterleavedCase{"deletion_refused_then_send_refused", refuseFirstDeletion, deletionRefused,
                        QStringLiteral("1 ") + kDeleteRefusal, failedSend, kSendRefusal},
        // The POP3 login of a send before SMTP, in a session of its own,
        // has nothing to say: the check's cut message is not its reason.
        InterleavedCase{"message_cut_then_pop_before_smtp_logs_in", cutFirstMessage, messageCut, QStringLiteral("connection cut"),
                        failedPopBeforeSmtp, QString()}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
