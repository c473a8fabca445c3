// Timed mail checks as the program runs them, offscreen, against our own
// local POP3 server: nobody clicks, nothing asks, and a server that keeps
// failing is told of once. The interval is a second or two, through the
// test-only hook; the user's unit is minutes.

#include "app/MainForm.h"
#include "app/auto_mail_check.h"
#include "app/desktop_notifier.h"
#include "app/mail_tray_icon.h"
#include "app/program_windows.h"
#include "chara/CharacterWindow.h"
#include "core/program.h"
#include "settings/OptionForm.h"
#include "store/history_file.h"
#include "tests/app/private_bus.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/e2e/notification_server.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"
#include "ui/hot_spot_label.h"
#include "ui/certificate_window.h"
#include "ui/message_box.h"
#include "viewer/TyakuForm.h"

#include <QApplication>
#include <QDBusMessage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

QStringList testAccounts() { return test::NumberedAccounts(QStringLiteral("auto"), 8); }

using test::TextMessage;

class AutoCheck : public ::testing::Test {
protected:
    // A program folder pointed at the account autoN, with timed checks on
    // in lumopet.ini, loaded and shown as at a start.
    MainForm& start(int account, const QString& pop3 = QString(), const QString& password = QString(),
                    const QByteArray& moreOptions = {}) {
        user = QStringLiteral("auto%1").arg(account);
        EXPECT_TRUE(program.paths.createFolders());
        folder.write(QStringLiteral("sorane.ini"),
                     QStringLiteral("SMTP=%1\r\nPOP3=%2\r\nMAIL=%3@localhost\r\nAPOP=0\r\n")
                         .arg(servers->smtp(), pop3.isEmpty() ? servers->pop3() : pop3, user)
                         .toUtf8());
        setPassword(password.isEmpty() ? QStringLiteral("pw%1").arg(account) : password);
        folder.write(QStringLiteral("★MailData/lumopet.ini"), "[Receive]\r\nAutoCheckMinutes=1\r\n" + moreOptions);
        SetMessageAnswerer([this](const MessageRequest& request) {
            boxes.append(request);
            return MessageAnswer::Ok;
        });
        MainForm& form = windows.mainForm();
        QObject::connect(&form, &MainForm::mailCheckFinished, [this] { ++checks; });
        QObject::connect(&form, &MainForm::autoCheckTroubleSaid, [this](const QString& text) { said << text; });
        QObject::connect(form.Text1, &QLineEdit::textChanged, [this](const QString& text) { statusLines << text; });
        if (notificationBus) form.setNotificationBus(*notificationBus);
        form.Form_Load();
        form.show();
        form.autoCheck().setIntervalForTests(1);
        return form;
    }
    void TearDown() override {
        SetMessageAnswerer({});
        SetCertificateAnswerer({});
    }

    void setPassword(const QString& password) {
        folder.write(QStringLiteral("★MailData/iniIdPass.ini"),
                     QStringLiteral("[EXEINI]\r\nNAME=%1\r\nNAME2=%2\r\nNAME3=1\r\n").arg(user, password).toUtf8());
    }
    void deliver(const QString& subject, const QString& body) { ASSERT_TRUE(servers->deliver(user, TextMessage(subject, body))); }
    // Lets the program run until `more` further checks have ended. Dovecot
    // makes repeated failed logins from one address wait longer each time.
    bool runChecks(int more, int timeoutMs = 90000) {
        const int until = checks + more;
        return QTest::qWaitFor([&] { return checks >= until; }, timeoutMs);
    }
    std::vector<HistoryRecord> history() { return ReadAll(HistoryPath(program.paths, History::Received)); }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramWindows windows{program};
    QString user;
    QList<MessageRequest> boxes;
    int checks = 0;
    QStringList said;
    QStringList statusLines;
    std::optional<QDBusConnection> notificationBus;
};

TEST_F(AutoCheck, MailDeliveredAfterTheStartIsStoredWithoutAClick) {
    MainForm& form = start(1);
    EXPECT_EQ(program.receive.AutoCheckMinutes, 1) << "read from lumopet.ini";
    ASSERT_TRUE(runChecks(2)) << "checks ran by themselves";
    EXPECT_TRUE(form.Text1->isHidden()) << "a quiet check that finds nothing says nothing";
    EXPECT_TRUE(history().empty());
    deliver(QStringLiteral("came by itself"), QStringLiteral("hello\r\nLumopet（①の選択）"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return history().size() == 1; }, 20000));
    ASSERT_TRUE(runChecks(1));
    EXPECT_EQ(history()[0].Subject, QStringLiteral("came by itself"));
    EXPECT_EQ(servers->count(user), 0);
    EXPECT_TRUE(form.Text1->isVisible());
    EXPECT_EQ(form.Text1->text(), QStringLiteral("新着メール 1 通"));
    EXPECT_TRUE(windows.characterWindow(4).isVisible()) << "the character of mood 1 walks out";
    // Later checks that find nothing leave the news where it is, in the
    // status line and in the viewer's list.
    ASSERT_TRUE(runChecks(2));
    EXPECT_EQ(form.Text1->text(), QStringLiteral("新着メール 1 通"));
    ASSERT_EQ(program.viewer.rows.size(), 1u);
    EXPECT_EQ(program.viewer.rows[0].subject, QStringLiteral("came by itself"));
    EXPECT_EQ(history().size(), 1u);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.value(0).text.toStdString();
    EXPECT_TRUE(said.isEmpty());
}

TEST_F(AutoCheck, AWrongPasswordIsSaidOnceUntilACheckSucceeds) {
    MainForm& form = start(2, QString(), QStringLiteral("wrong"));
    deliver(QStringLiteral("waiting"), QStringLiteral("body"));
    ASSERT_TRUE(runChecks(3));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.value(0).text.toStdString();
    ASSERT_EQ(said.size(), 1) << said.join(u'|').toStdString();
    EXPECT_TRUE(said[0].startsWith(QStringLiteral("POP3 サーバーがログインを拒否"))) << said[0].toStdString();
    EXPECT_EQ(statusLines, QStringList{kAutoCheckFailedText});
    EXPECT_TRUE(form.Text1->toolTip().contains(QStringLiteral("-ERR"))) << form.Text1->toolTip().toStdString();
    EXPECT_EQ(servers->count(user), 1);
    EXPECT_FALSE(windows.IsCommandRunning());

    // The user puts the password right: the next check stores the mail,
    // and the line no longer tells of the failure.
    setPassword(QStringLiteral("pw2"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return history().size() == 1; }, 20000));
    ASSERT_TRUE(runChecks(1));
    EXPECT_EQ(form.Text1->text(), QStringLiteral("新着メール 1 通"));
    EXPECT_EQ(said.size(), 1);

    // Broken again after a success: news once more, once.
    setPassword(QStringLiteral("wrong again"));
    ASSERT_TRUE(runChecks(3));
    EXPECT_EQ(said.size(), 2) << said.join(u'|').toStdString();
    EXPECT_EQ(form.Text1->text(), kAutoCheckFailedText);
    EXPECT_EQ(statusLines, (QStringList{kAutoCheckFailedText, QStringLiteral("新着メール 1 通"), kAutoCheckFailedText}));
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(AutoCheck, AServerNobodyListensOnIsSaidOnceAndTheClickStillAsks) {
    MainForm& form = start(3, QStringLiteral("127.0.0.1:1"));
    ASSERT_TRUE(runChecks(4));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.value(0).text.toStdString();
    ASSERT_EQ(said.size(), 1);
    EXPECT_TRUE(said[0].contains(QStringLiteral("接続できません"))) << said[0].toStdString();
    EXPECT_EQ(statusLines, QStringList{kAutoCheckFailedText});

    // 受信 asks as it always has, and the failure after it is said again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !windows.IsCommandRunning(); }, 10000));
    const int before = checks;
    QTest::mouseClick(form.Label8, Qt::LeftButton);
    ASSERT_TRUE(runChecks(1));
    ASSERT_GE(checks, before + 1);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(boxes[0].title, QStringLiteral("エラー"));
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("接続できません")));
    ASSERT_TRUE(runChecks(3));
    EXPECT_EQ(said.size(), 2);
    EXPECT_EQ(boxes.size(), 1) << "only the click asked";
}

// No check comes while a settings window is open: the user may be typing
// the very server it would use. It comes once the window is closed.
TEST_F(AutoCheck, NoCheckWhileTheServerWindowIsOpen) {
    start(4);
    ASSERT_TRUE(runChecks(1));
    windows.ShowOptionForm();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !windows.IsCommandRunning(); }, 10000));
    const int before = checks;
    deliver(QStringLiteral("after the window"), QStringLiteral("body"));
    QTest::qWait(3000);
    EXPECT_EQ(checks, before) << "three intervals passed with the window open";
    EXPECT_TRUE(history().empty());
    for (QWidget* window : QApplication::topLevelWidgets())
        if (qobject_cast<OptionForm*>(window)) window->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return history().size() == 1; }, 20000)) << "retried once the window closed";
    EXPECT_TRUE(boxes.isEmpty());
}


// A certificate nobody vouches for: the timed check does not ask, says so
// once, and trusts nothing; 受信 shows the question as always.
TEST_F(AutoCheck, ACertificateThatNeedsTrustWaitsForTheClick) {
    // Without the test CA the servers' own certificate is one nobody
    // vouches for.
    struct CaFileAway {
        QByteArray ca = qgetenv("LUMOPET_CA_FILE");
        CaFileAway() { qunsetenv("LUMOPET_CA_FILE"); }
        ~CaFileAway() { qputenv("LUMOPET_CA_FILE", ca); }
    } away;
    int asked = 0;
    SetCertificateAnswerer([&asked](const CertificateDetails&) {
        ++asked;
        return CertificateAnswer::Trust;
    });
    MainForm& form = start(6, servers->pop3s());
    deliver(QStringLiteral("behind the certificate"), QStringLiteral("body"));
    ASSERT_TRUE(runChecks(3));
    EXPECT_EQ(asked, 0);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.value(0).text.toStdString();
    ASSERT_EQ(said.size(), 1) << said.join(u'|').toStdString();
    EXPECT_TRUE(said[0].startsWith(kAutoCheckCertificateText)) << said[0].toStdString();
    EXPECT_TRUE(said[0].contains(QStringLiteral("localhost:"))) << said[0].toStdString();
    EXPECT_TRUE(history().empty());
    EXPECT_EQ(form.Text1->text(), kAutoCheckFailedText);

    ASSERT_TRUE(QTest::qWaitFor([&] { return !windows.IsCommandRunning(); }, 10000));
    QTest::mouseClick(form.Label8, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return history().size() == 1; }, 30000));
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(runChecks(2));
    EXPECT_EQ(asked, 1) << "trusted once, the timed checks go through";
    EXPECT_EQ(said.size(), 1);
    EXPECT_EQ(form.Text1->text(), QStringLiteral("新着メール 1 通"));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.value(0).text.toStdString();
}

using test::kNotifications;
using test::kNotificationsPath;
using test::NotificationServer;

// With the notifications and the tray on: a failure raises one
// notification however often it repeats, new mail one of its own; the
// tray's tooltip follows every check and its icon marks unread mail until
// the received history is opened, here from the notification.
TEST_F(AutoCheck, NotificationsAndTheTrayTellOfFailuresOnceAndOfNewMail) {
    test::PrivateBus bus;
    ASSERT_TRUE(bus.error().isEmpty()) << bus.error().toStdString();
    NotificationServer server;
    QDBusConnection serverConnection = bus.connect(QStringLiteral("notification server"));
    ASSERT_TRUE(serverConnection.registerObject(kNotificationsPath, &server, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serverConnection.registerService(kNotifications));
    notificationBus = bus.connect(QStringLiteral("program"));

    MainForm& form = start(5, QString(), QStringLiteral("wrong"), "Notify=1\r\nTray=1\r\n");
    ASSERT_NE(form.trayIcon(), nullptr);
    ASSERT_NE(form.notifier(), nullptr);
    ASSERT_TRUE(runChecks(3));
    ASSERT_TRUE(test::WaitFor([&] { return !server.shown.empty(); }));
    QTest::qWait(200);  // time for any second one to arrive
    ASSERT_EQ(server.shown.size(), 1u);
    EXPECT_EQ(server.shown[0].summary, kAutoCheckFailedTitle);
    EXPECT_TRUE(server.shown[0].body.startsWith(QStringLiteral("POP3 サーバーがログインを拒否"))) << server.shown[0].body.toStdString();
    EXPECT_TRUE(form.trayIcon()->toolTip().contains(QStringLiteral("POP3 サーバーがログインを拒否")))
        << form.trayIcon()->toolTip().toStdString();
    EXPECT_FALSE(form.trayIcon()->unread());

    setPassword(QStringLiteral("pw5"));
    deliver(QStringLiteral("one"), QStringLiteral("body"));
    deliver(QStringLiteral("two"), QStringLiteral("body"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return history().size() == 2; }, 90000));
    ASSERT_TRUE(test::WaitFor([&] { return server.shown.size() == 2; }));
    EXPECT_EQ(server.shown[1].summary, NewMailNotificationTitle(2));
    EXPECT_TRUE(server.shown[1].body.contains(QStringLiteral("one")) && server.shown[1].body.contains(QStringLiteral("two")))
        << server.shown[1].body.toStdString();
    ASSERT_TRUE(runChecks(1));
    EXPECT_TRUE(form.trayIcon()->unread());
    EXPECT_TRUE(form.trayIcon()->toolTip().contains(QStringLiteral("新着メール無し"))) << "the check after the mail";

    // A click on the notification opens the received history, which
    // clears the tray's mark.
    ASSERT_TRUE(test::WaitFor([&] { return !windows.IsCommandRunning(); }));
    QDBusMessage invoked = QDBusMessage::createSignal(kNotificationsPath, kNotifications, QStringLiteral("ActionInvoked"));
    invoked << server.shown[1].id << QStringLiteral("default");
    ASSERT_TRUE(serverConnection.send(invoked));
    ASSERT_TRUE(test::WaitFor([&] { return windows.tyakuForm().isVisible(); }));
    EXPECT_FALSE(form.trayIcon()->unread());
    EXPECT_TRUE(boxes.isEmpty());
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
