// CC, BCC, replies and attachment names against the real servers: our SMTP
// server delivering into the Maildirs our Dovecot serves, read back over
// POP3 as the other side's mail program would.

#include "core/program.h"
#include "core/settings_files/account_file.h"
#include "mail/account_values.h"
#include "mail/decoded_message.h"
#include "mail/mail_library.h"
#include "mail/reply_context.h"
#include "mail/send_mail.h"
#include "store/maildir.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/mail/recording_send_host.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QFile>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

using namespace Qt::StringLiterals;

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

[[maybe_unused]] const auto* const serversEnvironment = ::testing::AddGlobalTestEnvironment(
    new test::MailServersEnvironment({u"alice:alice-pw"_s, u"bob:bob-pw"_s, u"carol:carol-pw"_s, u"dave:dave-pw"_s}));

struct Sender {
    Sender() {
        program.paths.createFolders();
        program.values.SmtpServer = servers->smtp();
        program.values.Pop3Server = servers->pop3();
        program.values.MailAddress = u"アリス <alice@localhost>"_s;
        EXPECT_TRUE(WriteAccount(program.paths.path(files::AccountFile), u"alice"_s, u"alice-pw"_s, true).ok());
    }
    SendResult send(const SendRequest& request) {
        return SendMail(program, request, host, PasswordCredentials(program), PasswordCredentials(program));
    }
    std::string shown() const { return host.shown.empty() ? std::string() : host.shown[0].text.toStdString(); }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    test::RecordingHost host;
};

SendRequest Request(const QString& to, const QString& body) {
    SendRequest request;
    request.ToText = to;
    request.SubjectText = u"打ち合わせ"_s;
    request.BodyText = body;
    return request;
}

struct Fetched {
    QByteArray source;  // as the server gave it
    QString header;     // decoded, as the history shows it
    QString body;       // the decoded text, after the attachment step
};

// The account's mailbox emptied through the mail layer, attachments into
// attachmentFolder when one is given.
std::vector<Fetched> fetchAll(const QString& user, const QString& attachmentFolder = {}) {
    std::vector<Fetched> fetched;
    QString error;
    const int handle = NMailPop3Connect(servers->pop3(), error);
    EXPECT_GT(handle, 0) << error.toStdString();
    const int waiting = NMailPop3Authenticate(handle, mail::Credentials::password(user, user + u"-pw"_s));
    for (int n = 1; n <= waiting; ++n) {
        Fetched f;
        MailTexts texts;
        EXPECT_EQ(NMailPop3GetMail(handle, n, texts, f.body, 0, 0), 0);
        EXPECT_EQ(NMailPop3GetMailSource(handle, n, f.source), 0);
        if (!attachmentFolder.isEmpty())
            NMailAttachmentFileFirst(handle, texts, f.body, attachmentFolder + u'/', attachmentFolder + u"/0.txt"_s, {}, 0);
        NMailAttachmentFileClose(handle);
        f.header = texts.header;
        NMailPop3DeleteMail(handle, n);
        fetched.push_back(f);
    }
    NMailPop3Close(handle);
    return fetched;
}

QByteArray HeaderOf(const QByteArray& source) { return source.left(source.indexOf("\r\n\r\n") + 2); }

TEST(Recipients, CcAndBccReachEveryoneAndBccIsInNoHeaderThatArrives) {
    Sender alice;
    SendRequest request = Request(u"ボブ <bob@localhost>"_s, u"明日の件です。"_s);
    request.CcText = u"\"キャロル, 営業\" <carol@localhost>"_s;
    request.BccText = u"dave@localhost"_s;
    ASSERT_TRUE(alice.send(request).allSent()) << alice.shown();

    for (const QString& user : {u"bob"_s, u"carol"_s, u"dave"_s}) {
        const auto got = fetchAll(user);
        ASSERT_EQ(got.size(), 1u) << user.toStdString();
        const QByteArray header = HeaderOf(got[0].source);
        EXPECT_FALSE(header.contains("dave")) << user.toStdString() << "\n" << header.toStdString();
        EXPECT_FALSE(header.toLower().contains("\nbcc:")) << user.toStdString();
        EXPECT_TRUE(got[0].header.contains(u"Cc: \"キャロル, 営業\" <carol@localhost>"_s) ||
                    got[0].header.contains(u"Cc: キャロル, 営業 <carol@localhost>"_s))
            << got[0].header.toStdString();
        EXPECT_TRUE(got[0].body.startsWith(u"明日の件です。"_s));
    }
    // (Who got it stays with the sender, in the sent copy's Bcc: the send's test.)
}

// curl stops at the first refused RCPT TO: nobody gets a message that
// some of its recipients were denied, and the refusal names the one.
TEST(Recipients, ARefusedCcStopsTheMessageForEveryoneAndIsNamed) {
    Sender alice;
    SendRequest request = Request(u"bob@localhost"_s, u"本文"_s);
    request.CcText = u"carol@localhost, nobody@localhost"_s;
    const SendResult result = alice.send(request);
    EXPECT_EQ(result.Failed, 1);
    ASSERT_EQ(alice.host.shown.size(), 1u);
    EXPECT_TRUE(alice.host.shown[0].text.contains(u"宛先 <nobody@localhost>"_s)) << alice.shown();
    EXPECT_EQ(alice.host.shown[0].title, kSendErrorTitle);
    for (const QString& user : {u"bob"_s, u"carol"_s}) EXPECT_EQ(servers->count(user), 0) << user.toStdString();
}

// The original arrives at alice's, is kept in her received Maildir as the
// mail check keeps it, and her reply threads under it in its charset.
TEST(Recipients, AReplyCarriesInReplyToAndReferencesFromTheOriginalsCopy) {
    Sender alice;
    const QByteArray original =
        "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <bob@localhost>\r\nTo: alice@localhost\r\nSubject: question\r\n"
        "Date: Tue, 02 Jan 2024 10:00:05 +0900\r\nMessage-ID: <q2@bob.example>\r\nReferences: <q1@bob.example>\r\n"
        "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=Shift_JIS\r\nContent-Transfer-Encoding: 8bit\r\n\r\n"
        "\x82\xa8\x8a\xe8\x82\xa2\x82\xb5\x82\xdc\x82\xb7\r\n";  // お願いします
    ASSERT_TRUE(servers->deliver(u"alice"_s, original));
    const auto arrived = fetchAll(u"alice"_s);
    ASSERT_EQ(arrived.size(), 1u);
    const auto copyPath = DeliverToMaildir(ReceivedMaildirPath(alice.program.paths), arrived[0].source);
    ASSERT_TRUE(copyPath.ok()) << copyPath.error().toStdString();

    const mail::ReplyContext context = mail::ReadReplyContext(copyPath.value());
    SendRequest request = Request(u"bob@localhost"_s, u"承知しました。\n\n"_s +
                                                         mail::QuotedReply(context.text, context.date, context.senderName));
    request.KeepInSentHistory = false;
    request.InReplyTo = context.messageId;
    request.References = context.references;
    request.ReplyCharset = context.charset;
    ASSERT_TRUE(alice.send(request).allSent()) << alice.shown();

    const auto got = fetchAll(u"bob"_s);
    ASSERT_EQ(got.size(), 1u);
    const QByteArray header = HeaderOf(got[0].source);
    EXPECT_TRUE(header.contains("\r\nIn-Reply-To: <q2@bob.example>\r\n")) << header.toStdString();
    EXPECT_TRUE(header.contains("\r\nReferences: <q1@bob.example> <q2@bob.example>\r\n")) << header.toStdString();
    EXPECT_TRUE(header.contains("charset=Shift_JIS")) << header.toStdString();
    EXPECT_TRUE(got[0].body.contains(u"、山田 さんは書きました:\r\n> お願いします\r\n"_s)) << got[0].body.toStdString();
}

// The fault mended: the list of paths keeps "a,b.txt" one file.
TEST(Recipients, AnAttachmentWithACommaInItsNameArrivesWhole) {
    Sender alice;
    const QByteArray content = "カンマ入りの名前\r\n" + QByteArray(5000, 'z');
    alice.folder.write(u"a,b.txt"_s, content);
    SendRequest request = Request(u"bob@localhost"_s, u"添付します。"_s);
    request.Attachments = {alice.folder.path(u"a,b.txt"_s)};
    ASSERT_TRUE(alice.send(request).allSent()) << alice.shown();

    test::TempFolder inbox;
    const auto got = fetchAll(u"bob"_s, inbox.path());
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(inbox.read(u"a,b.txt"_s), content);
    EXPECT_FALSE(QFile::exists(inbox.path(u"a"_s)));
    EXPECT_FALSE(QFile::exists(inbox.path(u"b.txt"_s)));
}

}  // namespace
}  // namespace lumopet
