// One user's character choice reaches the other's desktop: alice writes in
// the compose window and sends, bob clicks 受信, all through the windows
// (offscreen) and our own local POP3 and SMTP servers.

#include "app/MainForm.h"
#include "app/program_windows.h"
#include "chara/CharacterWindow.h"
#include "compose/WriteForm.h"
#include "core/moods.h"
#include "core/program.h"
#include "mail/receive_mail.h"
#include "mail/send_mail.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/file_dialog.h"
#include "ui/hot_spot_label.h"
#include "ui/message_box.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace lumopet {
namespace {

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

// One user's program folder and windows, pointed at the local servers.
class Desk {
public:
    Desk(const QString& user, const QString& smtp) : user_(user) {
        EXPECT_TRUE(program.paths.createFolders());
        folder.write(QStringLiteral("sorane.ini"), QStringLiteral("SMTP=%1\r\nPOP3=%2\r\nMAIL=%3@localhost\r\nAPOP=0\r\n")
                                                       .arg(smtp, servers->pop3(), user)
                                                       .toUtf8());
        folder.write(QStringLiteral("★MailData/iniIdPass.ini"),
                     QStringLiteral("[EXEINI]\r\nNAME=%1\r\nNAME2=%1-pw\r\nNAME3=1\r\n").arg(user).toUtf8());
        windows.mainForm().Form_Load();
    }

    WriteForm& compose() {
        windows.ShowWriteForm();
        return windows.writeForm();
    }

    // Sends what the compose window holds; the window when it stayed open.
    QPointer<WriteForm> send(WriteForm& form) {
        QPointer<WriteForm> kept(&form);
        QSignalSpy finished(&form, &WriteForm::sendFinished);
        QTest::mouseClick(form.Command1, Qt::LeftButton);
        EXPECT_TRUE(finished.wait(30000));
        QApplication::processEvents();  // the closed window goes
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return kept;
    }

    void receive() {
        MainForm& form = windows.mainForm();
        QSignalSpy finished(&form, &MainForm::mailCheckFinished);
        QTest::mouseClick(form.Label8, Qt::LeftButton);
        EXPECT_TRUE(finished.wait(30000));
    }

    std::vector<HistoryRecord> history(History which) { return ReadAll(HistoryPath(program.paths, which)); }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramWindows windows{program};

private:
    QString user_;
};

class ComposeToDesktop : public ::testing::Test {
protected:
    void SetUp() override {
        SetMessageAnswerer([this](const MessageRequest& request) {
            boxes.append(request);
            return MessageAnswer::Ok;
        });
    }
    void TearDown() override {
        SetMessageAnswerer({});
        SetOpenFileChooser({});
    }
    QList<MessageRequest> boxes;
};

TEST_F(ComposeToDesktop, MoodThreeAndAnAttachmentReachBob) {
    Desk alice(QStringLiteral("alice"), servers->smtp());
    const QByteArray attachment("資料の中身\r\n\x00\x01\x02 binary", 24);
    alice.folder.write(QStringLiteral("資料.bin"), attachment);
    SetOpenFileChooser([&](const OpenFileRequest&) { return alice.folder.path(QStringLiteral("資料.bin")); });

    WriteForm& form = alice.compose();
    form.ToText->setPlainText(QStringLiteral("bob@localhost"));
    form.SubjectText->setText(QStringLiteral("三の気分で"));
    form.BodyText->setPlainText(QStringLiteral("ボブへ\n添付を見てね。"));
    QTest::mouseClick(form.Option5, Qt::LeftButton);
    EXPECT_EQ(form.Text2->text(), QStringLiteral("キャラ送信、③が選択されました"));
    QTest::mouseClick(form.AttachCommand, Qt::LeftButton);
    EXPECT_TRUE(alice.send(form).isNull()) << "a send in which every message went out closes the window";
    EXPECT_TRUE(boxes.isEmpty()) << (boxes.isEmpty() ? "" : boxes[0].text.toStdString());

    const auto sent = alice.history(History::Sent);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].Subject, QStringLiteral("三の気分で"));
    EXPECT_EQ(sent[0].Column3, QStringLiteral("bob@localhost"));
    EXPECT_EQ(sent[0].Body, QStringLiteral("ボブへ\r\n添付を見てね。")) << "the body as typed, without the tag";

    Desk bob(QStringLiteral("bob"), servers->smtp());
    bob.receive();
    const auto received = bob.history(History::Received);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Subject, QStringLiteral("三の気分で"));
    // The typed body, three empty lines, the tag; after it only the notice
    // that the mail check adds for the attachment.
    EXPECT_TRUE(received[0].Body.startsWith(QStringLiteral("ボブへ\r\n添付を見てね。\r\n\r\n\r\n\r\nLumopet（③の選択）\r\n")))
        << received[0].Body.toStdString();
    EXPECT_TRUE(received[0].Body.trimmed().endsWith(kAttachmentMailText)) << received[0].Body.toStdString();
    EXPECT_EQ(bob.folder.read(QStringLiteral("添付フォルダ/資料.bin")), attachment);
    for (int k = 1; k <= kMoodCount; ++k)
        EXPECT_EQ(bob.windows.characterWindow(k).isVisible(), k == LinkOfMood(3).window) << "Form" << k;
}

TEST_F(ComposeToDesktop, AFortuneReachesCarol) {
    Desk alice(QStringLiteral("alice"), servers->smtp());
    WriteForm& form = alice.compose();
    form.ToText->setPlainText(QStringLiteral("carol@localhost"));
    form.SubjectText->setText(QStringLiteral("占い"));
    form.BodyText->setPlainText(QStringLiteral("どうぞ"));
    QTest::mouseClick(form.Check1, Qt::LeftButton);
    EXPECT_TRUE(alice.send(form).isNull());

    Desk carol(QStringLiteral("carol"), servers->smtp());
    carol.receive();
    const auto received = carol.history(History::Received);
    ASSERT_EQ(received.size(), 1u);
    const QString& body = received[0].Body;
    EXPECT_TRUE(body.startsWith(QStringLiteral("どうぞ\r\n\r\n★★★　この占いは"))) << body.toStdString();
    int texts = 0;
    for (int n = 1; n <= 12; ++n) texts += body.contains(kFortuneTexts[static_cast<size_t>(n - 1)]) ? 1 : 0;
    EXPECT_EQ(texts, 1) << body.toStdString();
    EXPECT_FALSE(body.contains(QStringLiteral("Lumopet（"))) << "no character was chosen";
    EXPECT_EQ(alice.history(History::Sent).back().Body, QStringLiteral("どうぞ"));
}

TEST_F(ComposeToDesktop, BulkModeSendsOneMessageToEachEntry) {
    Desk alice(QStringLiteral("alice"), servers->smtp());
    for (const char* user : {"bob", "carol", "dave"})
        ASSERT_TRUE(AppendAddressEntry(AddressBookPath(alice.program.paths), QString::fromLatin1(user),
                                       QStringLiteral("%1@localhost").arg(QString::fromLatin1(user))));
    const QStringList users{QStringLiteral("bob"), QStringLiteral("carol"), QStringLiteral("dave")};
    std::vector<int> waitingBefore;
    for (const QString& user : users) waitingBefore.push_back(servers->count(user));
    WriteForm& form = alice.compose();
    QTest::mouseClick(form.Command4, Qt::LeftButton);
    QTest::mouseClick(form.Option2, Qt::LeftButton);
    form.SubjectText->setText(QStringLiteral("みなさんへ"));
    form.BodyText->setPlainText(QStringLiteral("一括です"));
    EXPECT_TRUE(alice.send(form).isNull());

    const auto sent = alice.history(History::Sent);
    ASSERT_EQ(sent.size(), 3u);
    for (const HistoryRecord& record : sent) {
        EXPECT_EQ(record.Subject, QStringLiteral("みなさんへ"));
        EXPECT_TRUE(record.Column3.isEmpty()) << "the recipient box's text, not the entry's address";
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(servers->count(users[i]), waitingBefore[static_cast<size_t>(i)] + 1) << users[i].toStdString();
}

// Servers of their own that take mail only after a login (after STARTTLS
// on the plain port).
struct AuthCase {
    const char* name;
    QString (test::LocalMailServers::*server)() const;
};

class ComposeWithLogin : public ComposeToDesktop, public ::testing::WithParamInterface<AuthCase> {
protected:
    static void SetUpTestSuite() {
        strict = new test::LocalMailServers({QStringLiteral("alice:alice-pw"), QStringLiteral("erin:erin-pw")},
                                            {QStringLiteral("--smtp-auth"), QStringLiteral("required")});
    }
    static void TearDownTestSuite() {
        delete strict;
        strict = nullptr;
    }
    static inline test::LocalMailServers* strict = nullptr;
};

TEST_P(ComposeWithLogin, LogsInWithTheAccountsIdAndPassword) {
    ASSERT_TRUE(strict->running()) << strict->error().toStdString();
    // These servers have a certificate of their own.
    const QByteArray trusted = qgetenv("LUMOPET_CA_FILE");
    qputenv("LUMOPET_CA_FILE", strict->caFile().toUtf8());
    const auto restore = qScopeGuard([&] { qputenv("LUMOPET_CA_FILE", trusted); });
    Desk alice(QStringLiteral("alice"), (strict->*GetParam().server)());
    WriteForm& form = alice.compose();
    form.ToText->setPlainText(QStringLiteral("erin@localhost"));
    form.SubjectText->setText(QStringLiteral("TLS"));
    form.BodyText->setPlainText(QStringLiteral("暗号化して送ります"));
    const int before = strict->count(QStringLiteral("erin"));
    EXPECT_TRUE(alice.send(form).isNull());
    EXPECT_TRUE(boxes.isEmpty()) << (boxes.isEmpty() ? "" : boxes[0].text.toStdString());
    EXPECT_EQ(strict->count(QStringLiteral("erin")), before + 1);
}

INSTANTIATE_TEST_SUITE_P(Servers, ComposeWithLogin,
                         ::testing::Values(AuthCase{"StartTls", &test::LocalMailServers::smtpWithStartTls},
                                           AuthCase{"Smtps", &test::LocalMailServers::smtps}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ComposeToDesktop, ARefusedRecipientKeepsTheWindowAndTheTypedBody) {
    Desk alice(QStringLiteral("alice"), servers->smtp());
    WriteForm& form = alice.compose();
    form.ToText->setPlainText(QStringLiteral("nobody@localhost"));
    form.SubjectText->setText(QStringLiteral("届かない"));
    form.BodyText->setPlainText(QStringLiteral("この文は残る"));
    form.Option7->setChecked(true);
    const QPointer<WriteForm> kept = alice.send(form);
    ASSERT_FALSE(kept.isNull()) << "a failed send leaves the window open";
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].title, QStringLiteral("送信エラー"));
    EXPECT_EQ(kept->BodyText->toPlainText(), QStringLiteral("この文は残る")) << "without the tag the send added";
    EXPECT_EQ(kept->ToText->toPlainText(), QStringLiteral("nobody@localhost"));
    EXPECT_EQ(kept->Label7->text(), QStringLiteral("1通中1通が送信できませんでした。"));
    EXPECT_EQ(kept->chosenMood(), 5);
    EXPECT_EQ(alice.history(History::Sent).size(), 1u) << "the record written before the send stays";
    EXPECT_FALSE(alice.windows.IsCommandRunning());
}

// After a bulk send in which the server refused one entry, a second 送信
// goes to that entry alone: carol and dave, who got the message, do not get
// it twice.
TEST_F(ComposeToDesktop, ASecondBulkSendGoesOnlyToTheRefusedEntry) {
    Desk alice(QStringLiteral("alice"), servers->smtp());
    QByteArray book = EncodeAddressRecord(QStringLiteral("キャロル"), QStringLiteral("carol@localhost")) +
                      EncodeAddressRecord(QStringLiteral("いない人"), QStringLiteral("nobody@localhost")) +
                      EncodeAddressRecord(QStringLiteral("デイブ"), QStringLiteral("dave@localhost"));
    QFile file(AddressBookPath(alice.program.paths));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(book);
    file.close();
    const int carol = servers->count(QStringLiteral("carol"));
    const int dave = servers->count(QStringLiteral("dave"));

    WriteForm& form = alice.compose();
    form.show();
    QTest::mouseClick(form.Command4, Qt::LeftButton);
    EXPECT_EQ(form.Text1->text(), QStringLiteral("3"));
    QTest::mouseClick(form.Option2, Qt::LeftButton);
    form.SubjectText->setText(QStringLiteral("お知らせ"));
    form.BodyText->setPlainText(QStringLiteral("皆さんへ"));
    QPointer<WriteForm> kept = alice.send(form);
    ASSERT_FALSE(kept.isNull());
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("nobody@localhost"))) << boxes[0].text.toStdString();
    EXPECT_EQ(kept->Label7->text(), QStringLiteral("3通中1通が送信できませんでした。次の送信はその 1 件だけです。"));
    EXPECT_EQ(servers->count(QStringLiteral("carol")), carol + 1);
    EXPECT_EQ(servers->count(QStringLiteral("dave")), dave + 1);

    kept = alice.send(*kept);
    ASSERT_FALSE(kept.isNull()) << "refused again";
    EXPECT_EQ(boxes.size(), 2);
    EXPECT_EQ(servers->count(QStringLiteral("carol")), carol + 1) << "no second copy";
    EXPECT_EQ(servers->count(QStringLiteral("dave")), dave + 1) << "no second copy";
    EXPECT_EQ(alice.history(History::Sent).size(), 4u) << "three messages, then one";
    EXPECT_EQ(kept->Label7->text(), QStringLiteral("1通中1通が送信できませんでした。次の送信はその 1 件だけです。"));
}

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new lumopet::test::MailServersEnvironment(
        {QStringLiteral("alice:alice-pw"), QStringLiteral("bob:bob-pw"), QStringLiteral("carol:carol-pw"),
         QStringLiteral("dave:dave-pw"), QStringLiteral("erin:erin-pw")}));
    return RUN_ALL_TESTS();
}
