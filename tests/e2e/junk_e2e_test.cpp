// A mail check with the junk filter on, against our own Dovecot and the
// real bogofilter with a word list trained in the test's program folder:
// where spam and everyday mail end up, what the window, the characters and
// the desktop say of them, and what happens when bogofilter is missing or
// the user's verdict goes the other way.

#include "app/MainForm.h"
#include "app/desktop_notifier.h"
#include "app/program_windows.h"
#include "chara/CharacterWindow.h"
#include "core/program.h"
#include "mail/account_values.h"
#include "mail/junk_filter.h"
#include "mail/receive_mail.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "tests/app/private_bus.h"
#include "tests/e2e/junk_mail.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/e2e/notification_server.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_check_host.h"
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

using test::Kind;
using test::Language;

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

QStringList testAccounts() { return test::NumberedAccounts(QStringLiteral("junk"), 9); }

using test::NotificationServer;

// LUMOPET_BOGOFILTER for one test.
class ChosenBogofilter {
public:
    explicit ChosenBogofilter(const QByteArray& path) { qputenv("LUMOPET_BOGOFILTER", path); }
    ~ChosenBogofilter() { qunsetenv("LUMOPET_BOGOFILTER"); }
};

class JunkCheck : public ::testing::Test {
protected:
    // A program folder on the account junkN with the filter on (and the
    // other options given), its word list trained unless told not to.
    void prepare(int account, const QByteArray& moreOptions = {}, bool trained = true) {
        user = QStringLiteral("junk%1").arg(account);
        ASSERT_TRUE(program.paths.createFolders());
        folder.write(QStringLiteral("sorane.ini"), QStringLiteral("SMTP=%1\r\nPOP3=%2\r\nMAIL=%3@localhost\r\nAPOP=0\r\n")
                                                       .arg(servers->smtp(), servers->pop3(), user)
                                                       .toUtf8());
        folder.write(QStringLiteral("★MailData/iniIdPass.ini"),
                     QStringLiteral("[EXEINI]\r\nNAME=%1\r\nNAME2=pw%2\r\nNAME3=1\r\n").arg(user).arg(account).toUtf8());
        folder.write(QStringLiteral("★MailData/lumopet.ini"), "[Receive]\r\nJunkFilter=1\r\n" + moreOptions);
        // What MainForm reads at its start, for the checks without it.
        program.values.Pop3Server = servers->pop3();
        program.receive.JunkFilter = true;
        if (trained) {
            const Status done = test::TrainJunkTestWordList(junk::FilterFor(program.paths), folder.path(QStringLiteral("training")));
            ASSERT_TRUE(done.ok()) << done.error().toStdString();
        }
        SetMessageAnswerer([this](const MessageRequest& request) {
            boxes.append(request);
            return MessageAnswer::Ok;
        });
    }
    void TearDown() override { SetMessageAnswerer({}); }

    void deliver(const QByteArray& message) { ASSERT_TRUE(servers->deliver(user, message)); }

    // A check through the main window's 受信 hot-spot.
    MainForm& click() {
        MainForm& form = windows.mainForm();
        if (!loaded) {
            if (notificationBus) form.setNotificationBus(*notificationBus);
            form.Form_Load();
            form.show();
            loaded = true;
        }
        QSignalSpy finished(&form, &MainForm::mailCheckFinished);
        QTest::mouseClick(form.Label8, Qt::LeftButton);
        EXPECT_TRUE(finished.wait(30000));
        return form;
    }

    // A check with no window; no box may come up.
    MailCheckResult check() {
        test::RecordingCheckHost host;
        const MailCheckResult result = ReceiveMail(program, host, PasswordCredentials(program));
        EXPECT_EQ(host.messages, QStringList{});
        return result;
    }

    QStringList subjects(History history) const {
        QStringList found;
        for (const HistoryListEntry& entry : ReadListing(HistoryPath(program.paths, history))) found << entry.Subject;
        return found;
    }

    QStringList viewerSubjects() const {
        QStringList found;
        for (const ViewerRow& row : program.viewer.rows) found << row.subject;
        return found;
    }

    std::vector<int> shownCharacters() {
        std::vector<int> shown;
        for (int k = 1; k <= 5; ++k)
            if (windows.characterWindow(k).isVisible()) shown.push_back(k);
        return shown;
    }

    // The files of the received Maildir, where junk's copies are too.
    QStringList maildirFiles() const {
        QStringList files;
        for (const QString& sub : {QStringLiteral("/new"), QStringLiteral("/cur")}) {
            const QDir dir(ReceivedMaildirPath(program.paths) + sub);
            for (const QString& name : dir.entryList(QDir::Files)) files << dir.filePath(name);
        }
        return files;
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramWindows windows{program};
    std::optional<QDBusConnection> notificationBus;
    QString user;
    QList<MessageRequest> boxes;
    bool loaded = false;
};

const QString kHamEnglish = QStringLiteral("Project notes");
const QString kSpamEnglish = QStringLiteral("You won");
const QString kHamJapanese = QStringLiteral("会議の資料");
const QString kSpamJapanese = QStringLiteral("当選のお知らせ");

// Spam and everyday mail in both languages in one check: the spam in the
// junk history, the rest in the received one, the status line counting
// both, and only the everyday mail in the viewer's rows, the notification
// and the character (the spam comes last and names another character).
// The English spam is in US-ASCII: bogofilter reads the copies grouped by
// charset, and its verdicts must come back to their messages all the same.
TEST_F(JunkCheck, MixedMailIsSortedAndOnlyTheRestIsAnnounced) {
    test::PrivateBus bus;
    ASSERT_TRUE(bus.error().isEmpty()) << bus.error().toStdString();
    NotificationServer server;
    QDBusConnection serverConnection = bus.connect(QStringLiteral("notification server"));
    ASSERT_TRUE(serverConnection.registerObject(test::kNotificationsPath, &server, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serverConnection.registerService(test::kNotifications));
    notificationBus = bus.connect(QStringLiteral("program"));

    prepare(1, "Notify=1\r\n");
    deliver(test::JunkTestMessage(Kind::Ham, Language::English, 1, kHamEnglish));
    deliver(test::JunkTestMessage(Kind::Spam, Language::English, 2, kSpamEnglish).replace("charset=UTF-8", "charset=US-ASCII"));
    deliver(test::JunkTestMessage(Kind::Ham, Language::Japanese, 3, kHamJapanese) + "Lumopet（②の選択）\r\n");
    deliver(test::JunkTestMessage(Kind::Spam, Language::Japanese, 4, kSpamJapanese) + "Lumopet（①の選択）\r\n");
    MainForm& form = click();

    EXPECT_EQ(subjects(History::Received), QStringList({kHamEnglish, kHamJapanese}));
    EXPECT_EQ(subjects(History::Junk), QStringList({kSpamEnglish, kSpamJapanese}));
    EXPECT_EQ(maildirFiles().size(), 4) << "junk keeps its copy in the received Maildir";
    EXPECT_EQ(servers->count(user), 0);
    EXPECT_EQ(form.Text1->text(), QStringLiteral("新着メール 2 通（迷惑メール 2 通）"));
    EXPECT_EQ(shownCharacters(), std::vector<int>{1}) << "the tag of the last message that is not junk";
    EXPECT_EQ(viewerSubjects(), QStringList({kHamEnglish, kHamJapanese}));
    EXPECT_EQ(program.viewer.subject, kHamJapanese);
    ASSERT_TRUE(test::WaitFor([&] { return !server.shown.empty(); }));
    QTest::qWait(200);  // time for any second one to arrive
    ASSERT_EQ(server.shown.size(), 1u);
    EXPECT_EQ(server.shown[0].summary, NewMailNotificationTitle(2));
    EXPECT_TRUE(server.shown[0].body.contains(kHamEnglish)) << server.shown[0].body.toStdString();
    EXPECT_FALSE(server.shown[0].body.contains(kSpamEnglish)) << server.shown[0].body.toStdString();
    EXPECT_TRUE(boxes.isEmpty());
}

// Only junk: the line says there is no new mail and counts the junk, and no
// character walks, not even the ticked ones that mail without a tag calls.
TEST_F(JunkCheck, OnlyJunkSaysNoNewMailAndWalksNoCharacter) {
    prepare(2);
    folder.write(QStringLiteral("★MailData/CharaData.ini"), "[EXEINI]\r\nNAME1=1\r\nNAME2=1\r\n");
    deliver(test::JunkTestMessage(Kind::Spam, Language::English, 1, kSpamEnglish));
    deliver(test::JunkTestMessage(Kind::Spam, Language::Japanese, 2, kSpamJapanese));
    MainForm& form = click();
    EXPECT_EQ(subjects(History::Junk), QStringList({kSpamEnglish, kSpamJapanese}));
    EXPECT_TRUE(subjects(History::Received).isEmpty());
    EXPECT_EQ(form.Text1->text(), QStringLiteral("新着メールはありません（迷惑メール 2 通）"));
    EXPECT_TRUE(form.Text1->isVisible());
    EXPECT_TRUE(shownCharacters().empty());
    EXPECT_TRUE(viewerSubjects().isEmpty());
    EXPECT_EQ(servers->count(user), 0);
    EXPECT_TRUE(boxes.isEmpty());
}

// One message's verdict where the word list does not decide it: the
// provider's header, and the address book that overrules everything.
struct VerdictCase {
    const char* name;
    QByteArray message;
    // Kept in the address book: "" none, else the address; deleted: its
    // entry marked deleted.
    QString bookAddress;
    bool bookEntryDeleted;
    bool trained;
    bool junk;
};

class JunkVerdicts : public JunkCheck, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(JunkVerdicts, GoIntoTheRightHistory) {
    static int account = 3;
    prepare(account++, {}, GetParam().trained);
    if (!GetParam().bookAddress.isEmpty()) {
        const QString book = AddressBookPath(program.paths);
        ASSERT_TRUE(AppendAddressEntry(book, QStringLiteral("友"), GetParam().bookAddress).ok());
        if (GetParam().bookEntryDeleted) {
            ASSERT_TRUE(MarkAddressDeleted(book, 1).ok());
        }
    }
    deliver(GetParam().message);
    const MailCheckResult result = check();
    EXPECT_EQ(result.JunkCount, GetParam().junk ? 1 : 0);
    EXPECT_EQ(result.MailCount, GetParam().junk ? 0 : 1);
    EXPECT_EQ(subjects(GetParam().junk ? History::Junk : History::Received), QStringList{QStringLiteral("verdict")});
    EXPECT_TRUE(subjects(GetParam().junk ? History::Received : History::Junk).isEmpty());
}

const QByteArray kFlagged = "X-Spam-Flag: YES\r\n";
const QString kFriend = QStringLiteral("Tomo <Tomo@Friends.Example>");

INSTANTIATE_TEST_SUITE_P(
    Messages, JunkVerdicts,
    ::testing::Values(
        VerdictCase{"provider_flag_with_no_word_list",
                    test::JunkTestMessage(Kind::Ham, Language::English, 1, QStringLiteral("verdict"), {}, kFlagged), {},
                    false, false, true},
        VerdictCase{"book_sender_flagged_and_spammy",
                    test::JunkTestMessage(Kind::Spam, Language::English, 1, QStringLiteral("verdict"), kFriend, kFlagged),
                    QStringLiteral("tomo@friends.example"), false, true, false},
        VerdictCase{"deleted_book_entry_protects_nobody",
                    test::JunkTestMessage(Kind::Ham, Language::Japanese, 1, QStringLiteral("verdict"), kFriend, kFlagged),
                    QStringLiteral("tomo@friends.example"), true, false, true}),
    [](const auto& info) { return std::string(info.param.name); });

// Mail left on the server: junk stored once is known by its UIDL at the
// next check like any other message, and stored in neither history again.
TEST_F(JunkCheck, JunkLeftOnTheServerIsNotStoredAgain) {
    prepare(6);
    program.receive.LeaveOnServer = true;
    deliver(test::JunkTestMessage(Kind::Spam, Language::English, 1, kSpamEnglish));
    deliver(test::JunkTestMessage(Kind::Ham, Language::English, 2, kHamEnglish));
    MailCheckResult result = check();
    EXPECT_EQ(result.MailCount, 1);
    EXPECT_EQ(result.JunkCount, 1);
    deliver(test::JunkTestMessage(Kind::Ham, Language::Japanese, 3, kHamJapanese));
    result = check();
    EXPECT_EQ(result.MailCount, 1);
    EXPECT_EQ(result.JunkCount, 0);
    EXPECT_EQ(subjects(History::Received), QStringList({kHamEnglish, kHamJapanese}));
    EXPECT_EQ(subjects(History::Junk), QStringList{kSpamEnglish});
    EXPECT_EQ(maildirFiles().size(), 3);
    EXPECT_EQ(servers->count(user), 3);
}

// Without bogofilter every message is stored as if the filter were off,
// and the user hears of it once, not at every check.
TEST_F(JunkCheck, MissingBogofilterStoresEverythingAndSaysSoOnce) {
    const ChosenBogofilter missing("/nonexistent/bogofilter");
    prepare(7, {}, false);
    deliver(test::JunkTestMessage(Kind::Spam, Language::English, 1, kSpamEnglish));
    deliver(test::JunkTestMessage(Kind::Ham, Language::English, 2, kHamEnglish));
    MainForm& form = click();
    EXPECT_EQ(form.Text1->text(), QStringLiteral("新着メール 2 通"));
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].title, QStringLiteral("エラー"));
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("bogofilter"))) << boxes[0].text.toStdString();
    deliver(test::JunkTestMessage(Kind::Spam, Language::Japanese, 3, kSpamJapanese));
    click();
    EXPECT_EQ(boxes.size(), 1) << "said again at the second check";
    EXPECT_EQ(subjects(History::Received), QStringList({kSpamEnglish, kHamEnglish, kSpamJapanese}));
    EXPECT_FALSE(QFileInfo::exists(HistoryPath(program.paths, History::Junk)));
    EXPECT_EQ(servers->count(user), 0);
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
