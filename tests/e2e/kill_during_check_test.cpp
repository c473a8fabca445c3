// A program killed at any moment of a mail check loses nothing and stores
// nothing twice: every message is on the server or in the history, and
// checking again until the mailbox is empty leaves each in the history, and
// its source in the received Maildir, exactly once (the server gives UIDLs;
// see stored_uidls.h). With mail left on the server the same holds, and no
// message ever leaves the server. With the junk filter on, both histories
// together hold each message once, and the spam is in the junk history.

#include "core/program_paths.h"
#include "mail/mail_library.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "tests/e2e/junk_mail.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QHash>
#include <QSet>
#include <QThread>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

constexpr int kMessages = 150;

// The subjects waiting on the server, read without deleting anything.
QSet<QString> subjectsOnServer(const QString& server) {
    QSet<QString> subjects;
    QString error;
    const int handle = NMailPop3Connect(server, error);
    const int count = NMailPop3Authenticate(handle, mail::Credentials::password(QStringLiteral("killed"), QStringLiteral("pw")));
    if (count < 0) {
        if (handle > 0) NMailGetMessage(handle, error);
        ADD_FAILURE() << "cannot list the server: " << error.toStdString();
    }
    for (int n = 1; n <= count; ++n) {
        MailTexts texts;
        NMailPop3GetMailStatus(handle, n, texts, 0);
        subjects.insert(texts.subject);
    }
    NMailPop3Close(handle);
    return subjects;
}

// How many times each subject is in the received and the junk history.
QHash<QString, int> subjectsInHistory(const ProgramPaths& paths) {
    QHash<QString, int> counts;
    for (const History history : {History::Received, History::Junk})
        for (const HistoryListEntry& entry : ReadListing(HistoryPath(paths, history))) ++counts[entry.Subject];
    return counts;
}

// With the junk filter on, every third message is spam, in English and in
// Japanese by turns; the others are everyday mail.
bool isSpam(bool junkFilter, int i) { return junkFilter && i % 3 == 0; }

QByteArray killTestMessage(bool junkFilter, int i) {
    if (!junkFilter) return QStringLiteral("Subject: msg %1\r\n\r\nbody %1\r\n").arg(i).toUtf8();
    const test::Language language = i % 2 == 0 ? test::Language::English : test::Language::Japanese;
    return QStringLiteral("From: sender%1@localhost\r\nSubject: msg %1\r\nMIME-Version: 1.0\r\n"
                          "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n")
               .arg(i)
               .toUtf8() +
           test::JunkTestBody(isSpam(junkFilter, i) ? test::Kind::Spam : test::Kind::Ham, language, i).toUtf8();
}

// How many times each subject is in the received Maildir (new/ and cur/).
QHash<QString, int> subjectsInMaildir(const ProgramPaths& paths) {
    QHash<QString, int> counts;
    for (const QString& sub : {QStringLiteral("/new"), QStringLiteral("/cur")}) {
        const QDir dir(ReceivedMaildirPath(paths) + sub);
        for (const QString& name : dir.entryList(QDir::Files)) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly)) {
                ADD_FAILURE() << "cannot read " << name.toStdString();
                continue;
            }
            for (const QByteArray& line : file.readAll().split('\n'))
                if (line.startsWith("Subject: ")) ++counts[QString::fromUtf8(line.mid(9)).trimmed()];
        }
    }
    return counts;
}

struct KillCase {
    const char* name;
    bool leave;
    bool junkFilter;
};

class KillDuringCheck : public ::testing::TestWithParam<KillCase> {};

TEST_P(KillDuringCheck, EveryMessageEndsUpInTheHistoryExactlyOnce) {
    const bool leave = GetParam().leave;
    const bool junkFilter = GetParam().junkFilter;
    test::LocalMailServers servers({QStringLiteral("killed:pw")});
    ASSERT_TRUE(servers.running()) << servers.error().toStdString();
    qputenv("LUMOPET_CA_FILE", servers.caFile().toUtf8());  // for the driver, too
    for (int i = 1; i <= kMessages; ++i)
        ASSERT_TRUE(servers.deliver(QStringLiteral("killed"), killTestMessage(junkFilter, i)));
    test::TempFolder home;
    const ProgramPaths paths(home.path());
    ASSERT_TRUE(paths.createFolders());
    home.write(QStringLiteral("sorane.ini"), QStringLiteral("POP3=%1\r\n").arg(servers.pop3()).toUtf8());
    home.write(QStringLiteral("★MailData/iniIdPass.ini"), "[EXEINI]\r\nNAME=killed\r\nNAME2=pw\r\n");
    home.write(QStringLiteral("★MailData/lumopet.ini"), QByteArray("[Receive]\r\n") +
                                                           (leave ? "LeaveOnServer=1\r\n" : "") +
                                                           (junkFilter ? "JunkFilter=1\r\n" : ""));
    if (junkFilter) {
        const Status trained = test::TrainJunkTestWordList(junk::FilterFor(paths), home.path(QStringLiteral("training")));
        ASSERT_TRUE(trained.ok()) << trained.error().toStdString();
    }

    const int delays[] = {40, 90, 150, 220, 300, 400, 550, 700};
    int kills = 0;
    // Left on the server, the mailbox never empties: the rounds end with
    // the first that may not be killed.
    const auto moreRounds = [&](int round) {
        return leave ? round <= 12 : round < 30 && servers.count(QStringLiteral("killed")) > 0;
    };
    for (int round = 0; moreRounds(round); ++round) {
        QProcess driver;
        driver.start(QStringLiteral(LUMOPET_DRIVER), {home.path()});
        ASSERT_TRUE(driver.waitForStarted());
        const bool lastRound = round >= 12;
        if (lastRound || driver.waitForFinished(delays[round % 8])) {
            driver.waitForFinished(60000);
        } else {
            driver.kill();  // SIGKILL: no chance to tidy up
            driver.waitForFinished();
            ++kills;
        }
        QSet<QString> kept = subjectsOnServer(servers.pop3());
        if (leave) {
            ASSERT_EQ(kept.size(), kMessages) << "deleted from the server in round " << round;
        }
        const QHash<QString, int> stored = subjectsInHistory(paths);
        for (auto it = stored.begin(); it != stored.end(); ++it) {
            kept.insert(it.key());
            ASSERT_EQ(it.value(), 1) << it.key().toStdString() << " stored twice after round " << round;
        }
        for (int i = 1; i <= kMessages; ++i)
            ASSERT_TRUE(kept.contains(QStringLiteral("msg %1").arg(i))) << "msg " << i << " lost after round " << round;
    }
    EXPECT_GT(kills, 0) << "the check was never caught in the middle";
    ASSERT_EQ(servers.count(QStringLiteral("killed")), leave ? kMessages : 0);
    if (leave) {
        // Everything is stored: one more check finds nothing new.
        QProcess driver;
        driver.start(QStringLiteral(LUMOPET_DRIVER), {home.path()});
        ASSERT_TRUE(driver.waitForFinished(60000));
        EXPECT_EQ(driver.readAllStandardOutput().trimmed(), QByteArray(junkFilter ? "0 0" : "0"));
        EXPECT_EQ(servers.count(QStringLiteral("killed")), kMessages);
    }
    const QHash<QString, int> stored = subjectsInHistory(paths);
    EXPECT_EQ(stored.size(), kMessages);
    for (int i = 1; i <= kMessages; ++i)
        EXPECT_EQ(stored.value(QStringLiteral("msg %1").arg(i)), 1) << "msg " << i;
    const QHash<QString, int> kept = subjectsInMaildir(paths);
    EXPECT_EQ(kept.size(), kMessages);
    for (int i = 1; i <= kMessages; ++i)
        EXPECT_EQ(kept.value(QStringLiteral("msg %1").arg(i)), 1) << "msg " << i << " in the Maildir";
    QStringList spam, junk;
    for (int i = 1; i <= kMessages; ++i)
        if (isSpam(junkFilter, i)) spam << QStringLiteral("msg %1").arg(i);
    for (const HistoryListEntry& entry : ReadListing(HistoryPath(paths, History::Junk))) junk << entry.Subject;
    junk.sort();
    spam.sort();
    EXPECT_EQ(junk, spam) << "the junk history holds the spam and nothing else";
}

INSTANTIATE_TEST_SUITE_P(Mailbox, KillDuringCheck,
                         ::testing::Values(KillCase{"emptied", false, false}, KillCase{"left_on_server", true, false},
                                           KillCase{"emptied_junk_filter", false, true},
                                           KillCase{"left_on_server_junk_filter", true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
