// The mail check as the user runs it: the main window's receive hot-spot,
// offscreen, against our own local POP3 server.

#include "app/MainForm.h"
#include "app/program_windows.h"
#include "chara/CharacterWindow.h"
#include "core/program.h"
#include "mail/receive_mail.h"
#include "settings/IdPassForm.h"
#include "store/history_file.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/hot_spot_label.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

QStringList testAccounts() { return test::NumberedAccounts(QStringLiteral("user"), 12); }

using test::TextMessage;

class MailCheck : public ::testing::Test {
protected:
    // A program folder pointed at the account userN.
    void prepare(int account, const QString& pop3 = QString(), bool withId = true) {
        user = QStringLiteral("user%1").arg(account);
        ASSERT_TRUE(program.paths.createFolders());
        folder.write(QStringLiteral("sorane.ini"),
                     QStringLiteral("SMTP=%1\r\nPOP3=%2\r\nMAIL=%3@localhost\r\nAPOP=0\r\n")
                         .arg(servers->smtp(), pop3.isEmpty() ? servers->pop3() : pop3, user)
                         .toUtf8());
        folder.write(QStringLiteral("★MailData/iniIdPass.ini"),
                     QStringLiteral("[EXEINI]\r\nNAME=%1\r\nNAME2=pw%2\r\nNAME3=1\r\n")
                         .arg(withId ? user : QString())
                         .arg(account)
                         .toUtf8());
        SetMessageAnswerer([this](const MessageRequest& request) {
            boxes.append(request);
            return MessageAnswer::Ok;
        });
    }
    void TearDown() override { SetMessageAnswerer({}); }

    void deliver(const QString& subject, const QString& body) { ASSERT_TRUE(servers->deliver(user, TextMessage(subject, body))); }

    MainForm& check() {
        MainForm& form = windows.mainForm();
        if (!loaded) {
            form.Form_Load();
            form.show();
            loaded = true;
        }
        QSignalSpy finished(&form, &MainForm::mailCheckFinished);
        QTest::mouseClick(form.Label8, Qt::LeftButton);
        EXPECT_TRUE(finished.wait(20000));
        return form;
    }

    std::vector<HistoryRecord> history() { return ReadAll(HistoryPath(program.paths, History::Received)); }

    std::vector<int> shownCharacters() {
        std::vector<int> shown;
        for (int k = 1; k <= 5; ++k)
            if (windows.characterWindow(k).isVisible()) shown.push_back(k);
        return shown;
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramWindows windows{program};
    QString user;
    QList<MessageRequest> boxes;
    bool loaded = false;
};

TEST_F(MailCheck, StoresInServerOrderDeletesAndShowsTheDefaultCharacters) {
    prepare(1);
    folder.write(QStringLiteral("★MailData/CharaData.ini"), "[EXEINI]\r\nNAME2=1\r\n");  // mood 3: Form5
    deliver(QStringLiteral("first"), QStringLiteral("tagged\r\n\r\n\r\n\r\nLumopet（④の選択）"));
    deliver(QStringLiteral("second"), QStringLiteral("plain"));
    deliver(QStringLiteral("third"), QStringLiteral("plain too"));
    MainForm& form = check();
    const auto stored = history();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].Subject, QStringLiteral("first"));
    EXPECT_EQ(stored[1].Subject, QStringLiteral("second"));
    EXPECT_EQ(stored[2].Subject, QStringLiteral("third"));
    EXPECT_EQ(stored[0].Column2, QStringLiteral("sender@localhost"));
    EXPECT_EQ(servers->count(user), 0);
    EXPECT_EQ(form.Text1->text(), QStringLiteral("新着メール 3 通"));
    EXPECT_TRUE(form.Text1->isVisible());
    EXPECT_EQ(shownCharacters(), std::vector<int>{5}) << "the last message has no tag";
    EXPECT_EQ(program.viewer.rows.size(), 3u);
    EXPECT_EQ(program.viewer.subject, QStringLiteral("third"));
    EXPECT_TRUE(form.Text2->text().isEmpty()) << "until the next clock tick";
    EXPECT_FALSE(QFileInfo::exists(folder.path(QStringLiteral("添付フォルダ/0.txt"))));
    EXPECT_TRUE(boxes.isEmpty());
}

struct TagCase {
    const char* name;
    QString body;
    std::vector<int> windows;
};

class MailCheckTags : public MailCheck, public ::testing::WithParamInterface<TagCase> {};

TEST_P(MailCheckTags, ShowTheCharacterOfTheFirstTagInTableOrder) {
    static int account = 2;
    prepare(account++);
    deliver(QStringLiteral("tag"), GetParam().body);
    check();
    EXPECT_EQ(shownCharacters(), GetParam().windows);
    ASSERT_EQ(history().size(), 1u);
    EXPECT_TRUE(history()[0].Body.contains(GetParam().body.trimmed()));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, MailCheckTags,
    ::testing::Values(TagCase{"five_and_two_give_two", QStringLiteral("Lumopet（⑤の選択）\r\nLumopet（②の選択）"), {1}},
                      TagCase{"one_without_bracket", QStringLiteral("abc\r\nLumopet（①の選択"), {4}},
                      TagCase{"no_tag_no_box", QStringLiteral("Lumopet(3)"), {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MailCheck, AttachmentsAreExtractedAndNotedOnlyForTheLowerCaseWord) {
    prepare(5);
    deliver(QStringLiteral("capital"), QStringLiteral("See the Attachment"));
    ASSERT_TRUE(servers->deliver(
        user, "From: a@localhost\r\nSubject: with file\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
              "--b\r\nContent-Type: text/plain\r\n\r\nhere it is\r\n--b\r\nContent-Type: text/plain; name=\"note.txt\"\r\n"
              "Content-Disposition: attachment; filename=\"note.txt\"\r\n\r\nnote\r\n--b--\r\n"));
    check();
    const auto stored = history();
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_FALSE(stored[0].Body.contains(kAttachmentMailText));
    EXPECT_TRUE(stored[1].Body.startsWith(QStringLiteral("here it is")));
    EXPECT_TRUE(stored[1].Body.endsWith(QStringLiteral("\r\n") + kAttachmentMailText)) << stored[1].Body.toStdString();
    EXPECT_EQ(folder.read(QStringLiteral("添付フォルダ/note.txt")).trimmed(), QByteArray("note"));
    EXPECT_EQ(QDir(folder.path(QStringLiteral("添付フォルダ"))).entryList(QDir::Files), QStringList{QStringLiteral("note.txt")});
}

// Mail as a phone's or a list server's software damages it: a stray
// character in a base64 line, the list's footer after a multipart whose end
// never came, and a text its mailer labelled base64 that is plain Japanese.
// The file holds the sender's bytes, and the text reads as it was written.
TEST_F(MailCheck, DamagedBase64IsDecodedAndPlainTextStaysAsItIs) {
    prepare(11);
    QByteArray file;
    for (int i = 0; i < 114; ++i) file += static_cast<char>((i * 37 + 11) & 0xFF);
    QByteArray encoded = file.toBase64();  // two lines of 76, no padding
    encoded.insert(76, "\r\n").insert(20, '!');
    ASSERT_TRUE(servers->deliver(
        user, "From: list@localhost\r\nSubject: damaged\r\nMIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
              "--b\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
                  QStringLiteral("資料を送ります。\r\n").toUtf8() +
                  "--b\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n\r\n" +
                  encoded +
                  "\r\n_______________________________________________\r\nML mailing list\r\nml@localhost\r\n"));
    check();
    const auto stored = history();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_TRUE(stored[0].Body.startsWith(QStringLiteral("資料を送ります。"))) << stored[0].Body.toStdString();
    EXPECT_EQ(folder.read(QStringLiteral("添付フォルダ/data.bin")), file);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(MailCheck, NoMailSaysSoAndShowsNoCharacter) {
    prepare(6);
    folder.write(QStringLiteral("★MailData/CharaData.ini"), "[EXEINI]\r\nNAME1=1\r\n");
    MainForm& form = check();
    EXPECT_EQ(form.Text1->text(), QStringLiteral("新着メール無し。"));
    EXPECT_TRUE(shownCharacters().empty());
    EXPECT_TRUE(history().empty());
}

TEST_F(MailCheck, AWrongPasswordShowsTheServersTextAndLeavesTheStatus) {
    prepare(7);
    folder.write(QStringLiteral("★MailData/iniIdPass.ini"), "[EXEINI]\r\nNAME=user7\r\nNAME2=wrong\r\n");
    deliver(QStringLiteral("kept"), QStringLiteral("body"));
    MainForm& form = check();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].title, QStringLiteral("エラー"));
    // A sentence that says what to do first, then the server's own line.
    EXPECT_TRUE(boxes[0].text.startsWith(QStringLiteral("POP3 サーバーがログインを拒否"))) << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("\n") + QStringLiteral("サーバーの応答：-ERR"))) << boxes[0].text.toStdString();
    EXPECT_TRUE(form.Text1->isHidden());
    EXPECT_EQ(servers->count(user), 1);
}

// A server that cannot be reached must not look like an empty mailbox.
struct UnreachableCase {
    const char* name;
    QString server;
    QString named;   // what the box must name
    QString reason;  // and what it must say went wrong
};

class MailCheckUnreachable : public MailCheck, public ::testing::WithParamInterface<UnreachableCase> {};

TEST_P(MailCheckUnreachable, ShowsTheLayersTextAndTheStatusSaysTheCheckFailed) {
    prepare(8, GetParam().server);
    MainForm& form = check();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].title, QStringLiteral("エラー"));
    EXPECT_TRUE(boxes[0].text.contains(GetParam().named)) << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[0].text.contains(GetParam().reason)) << boxes[0].text.toStdString();
    EXPECT_TRUE(form.Text1->isVisible());
    EXPECT_EQ(form.Text1->text(), QStringLiteral("メールのチェックに失敗しました。"));
    EXPECT_TRUE(shownCharacters().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, MailCheckUnreachable,
    ::testing::Values(UnreachableCase{"refused", QStringLiteral("127.0.0.1:1"), QStringLiteral("127.0.0.1:1"),
                                      QStringLiteral("接続できません")},
                      UnreachableCase{"unknown_host", QStringLiteral("no-such-host.invalid"),
                                      QStringLiteral("no-such-host.invalid:110"), QStringLiteral("見つかりません")}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MailCheck, AnEmptyIdOpensTheAccountWindow) {
    prepare(9, QString(), false);
    deliver(QStringLiteral("waiting"), QStringLiteral("body"));
    MainForm& form = check();
    EXPECT_TRUE(windows.idPassForm().isVisible());
    EXPECT_EQ(windows.idPassForm().IdText->text(), QString());
    EXPECT_EQ(windows.idPassForm().PassText->text(), QStringLiteral("pw9"));
    EXPECT_EQ(form.Text1->text(), QStringLiteral("新着メール無し。"));
    EXPECT_EQ(servers->count(user), 1);
}

TEST_F(MailCheck, AHistoryThatCannotBeWrittenLeavesTheMailOnTheServer) {
    prepare(10);
    deliver(QStringLiteral("one"), QStringLiteral("body"));
    deliver(QStringLiteral("two"), QStringLiteral("body"));
    // A folder where the history file should be: no record can be written.
    ASSERT_TRUE(QDir(folder.path()).mkpath(QStringLiteral("★MailData/srndata2.data")));
    check();
    ASSERT_FALSE(boxes.isEmpty());
    EXPECT_EQ(boxes.back().title, QStringLiteral("エラー"));
    EXPECT_EQ(servers->count(user), 2);
}

// A message that would leave the disk with less than 100 MB free stays on
// the server, and the user is told once; smaller ones still come in.
TEST_F(MailCheck, AMessageTheDiskHasNoRoomForStaysOnTheServerSaidOnce) {
    prepare(12);
    // Room for a message of a few hundred bytes, not for one of 8 KB.
    program.freeBytes = [](const QString&) { return std::optional<qint64>(100LL * 1024 * 1024 + 2000); };
    deliver(QStringLiteral("small"), QStringLiteral("body"));
    deliver(QStringLiteral("big"), QString(8000, u'x'));
    deliver(QStringLiteral("big too"), QString(8000, u'y'));
    deliver(QStringLiteral("small too"), QStringLiteral("body"));
    check();
    QStringList subjects;
    for (const HistoryRecord& r : history()) subjects << r.Subject;
    EXPECT_EQ(subjects, QStringList({QStringLiteral("small"), QStringLiteral("small too")}));
    EXPECT_EQ(servers->count(user), 2);
    ASSERT_EQ(boxes.size(), 1);
    for (const QString& part : {QStringLiteral("メッセージ 2（"), QStringLiteral("サーバーに残しました"), QStringLiteral("件名: big")})
        EXPECT_TRUE(boxes[0].text.contains(part)) << part.toStdString() << " in " << boxes[0].text.toStdString();
}

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new lumopet::test::MailServersEnvironment(lumopet::testAccounts()));
    return RUN_ALL_TESTS();
}
