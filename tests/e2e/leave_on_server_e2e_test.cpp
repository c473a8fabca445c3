// Mail left on the server, against the real Dovecot: checks that store each
// message once and delete none, the deletion after the days set with a
// clock the test sets, and the deletion of the messages whose records the
// user deleted.

#include "core/program.h"
#include "mail/account_values.h"
#include "mail/mail_library.h"
#include "mail/receive_mail.h"
#include "store/history_file.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_check_host.h"
#include "tests/support/temp_folder.h"
#include "viewer/history_view.h"

#include <QCoreApplication>
#include <QDate>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

test::LocalMailServers*& servers = test::MailServersEnvironment::servers;

using RecordingHost = test::RecordingCheckHost;

QByteArray message(const QString& subject) {
    return QStringLiteral("From: sender@localhost\r\nSubject: %1\r\n\r\nbody of %1\r\n").arg(subject).toUtf8();
}

// A program folder on one account, with mail left on the server.
class LeaveOnServer : public ::testing::Test {
protected:
    void prepare(const QString& account) {
        user = account;
        ASSERT_TRUE(program.paths.createFolders());
        folder.write(QStringLiteral("★MailData/iniIdPass.ini"),
                     QStringLiteral("[EXEINI]\r\nNAME=%1\r\nNAME2=pw\r\n").arg(user).toUtf8());
        program.values.Pop3Server = servers->pop3();
        program.receive.LeaveOnServer = true;
    }
    void deliver(const QString& subject) { ASSERT_TRUE(servers->deliver(user, message(subject))); }
    // One check on the given day; no box may come up.
    int checkOn(QDate day) {
        program.today = [day] { return day; };
        RecordingHost host;
        const MailCheckResult result = ReceiveMail(program, host, PasswordCredentials(program));
        EXPECT_EQ(host.messages, QStringList{}) << "check on " << day.toString(Qt::ISODate).toStdString();
        return result.MailCount;
    }
    QStringList subjectsInHistory() const {
        QStringList subjects;
        for (const HistoryListEntry& entry : ReadListing(HistoryPath(program.paths, History::Received)))
            subjects << entry.Subject;
        return subjects;
    }
    QString history() const { return HistoryPath(program.paths, History::Received); }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    QString user;
};

const QDate kDay(2026, 3, 1);

TEST_F(LeaveOnServer, TwoChecksStoreEachMessageOnceAndDeleteNone) {
    prepare(QStringLiteral("leave"));
    for (const char* subject : {"first", "second", "third"}) deliver(QString::fromLatin1(subject));
    EXPECT_EQ(checkOn(kDay), 3);
    EXPECT_EQ(servers->count(user), 3);
    deliver(QStringLiteral("fourth"));
    EXPECT_EQ(checkOn(kDay), 1);
    EXPECT_EQ(checkOn(kDay.addDays(1)), 0);
    EXPECT_EQ(servers->count(user), 4) << "nothing deleted";
    const QStringList all{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third"),
                          QStringLiteral("fourth")};
    EXPECT_EQ(subjectsInHistory(), all);

    // Turned off, the check deletes what was left, and stores none of it
    // again.
    program.receive.LeaveOnServer = false;
    EXPECT_EQ(checkOn(kDay.addDays(1)), 0);
    EXPECT_EQ(servers->count(user), 0);
    EXPECT_EQ(subjectsInHistory(), all);
}

// With DeleteAfterDays = 3, a message stored on day D goes at the first
// check after D + 3 and not before.
TEST_F(LeaveOnServer, MessagesGoFromTheServerOnceKeptLongerThanTheDaysSet) {
    prepare(QStringLiteral("days"));
    program.receive.DeleteAfterDays = 3;
    deliver(QStringLiteral("early"));
    EXPECT_EQ(checkOn(kDay), 1);
    deliver(QStringLiteral("later"));
    EXPECT_EQ(checkOn(kDay.addDays(2)), 1);
    struct Step {
        int day;  // after kDay
        int onServer;
    };
    const Step steps[] = {{3, 2}, {4, 1}, {5, 1}, {6, 0}};
    for (const Step& step : steps) {
        EXPECT_EQ(checkOn(kDay.addDays(step.day)), 0) << "day " << step.day;
        EXPECT_EQ(servers->count(user), step.onServer) << "day " << step.day;
    }
    EXPECT_EQ(subjectsInHistory(), (QStringList{QStringLiteral("early"), QStringLiteral("later")}));
}

// A message whose record the user deleted stays on the server, and is
// never stored again, until DeleteWithHistory lets the next check delete it.
TEST_F(LeaveOnServer, MessagesWhoseRecordsTheUserDeletedGoWithDeleteWithHistory) {
    prepare(QStringLiteral("history"));
    program.receive.DeleteWithHistory = true;
    for (const char* subject : {"keep", "drop", "also kept"}) deliver(QString::fromLatin1(subject));
    EXPECT_EQ(checkOn(kDay), 3);
    ASSERT_EQ(subjectsInHistory()[1], QStringLiteral("drop"));

    // What 1件削除 does to record 2.
    const auto shown = ReadRecord(history(), 2);
    ASSERT_TRUE(shown);
    ASSERT_TRUE(DeleteHistoryRecord(history(), RewriteCopyPath(program.paths, History::Received), 2, shown.value()));
    ASSERT_TRUE(NoteReceivedRecordDeleted(program.paths, shown.value()));

    program.receive.DeleteWithHistory = false;
    EXPECT_EQ(checkOn(kDay), 0) << "not stored again";
    EXPECT_EQ(servers->count(user), 3);
    program.receive.DeleteWithHistory = true;
    EXPECT_EQ(checkOn(kDay), 0);
    EXPECT_EQ(servers->count(user), 2);
    EXPECT_EQ(subjectsInHistory(), (QStringList{QStringLiteral("keep"), QStringLiteral("also kept")}));

    // What 全件削除 does; one more message arrives meanwhile and stays.
    ASSERT_TRUE(DeleteAllHistoryRecords(history(), RewriteCopyPath(program.paths, History::Received)));
    ASSERT_TRUE(NoteAllReceivedRecordsDeleted(program.paths));
    deliver(QStringLiteral("new"));
    EXPECT_EQ(checkOn(kDay), 1);
    EXPECT_EQ(servers->count(user), 1);
    EXPECT_EQ(subjectsInHistory(), QStringList{QStringLiteral("new")});
}

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new lumopet::test::MailServersEnvironment(
        {QStringLiteral("leave:pw"), QStringLiteral("days:pw"), QStringLiteral("history:pw")}));
    lumopet::NMailInitializeWinSock();
    const int result = RUN_ALL_TESTS();
    lumopet::NMailEndWinSock();
    return result;
}
