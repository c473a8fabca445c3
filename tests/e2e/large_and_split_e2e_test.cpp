// Large and split messages against the real Dovecot, through the same
// windowless check the kill test runs (mail_check_driver), as a child whose
// peak memory the kernel reports when it ends.
//
// A message far over the size limit stays on the server with a box that
// names it while the others are received; a large message under it is
// written to disk as it arrives, in memory that does not grow with it, and
// a kill while it arrives leaves nothing half in the Maildir's new/. A
// split message whose parts come in two checks is received as one.

#include "core/program_paths.h"
#include "mail/mail_library.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <signal.h>
#include <thread>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace lumopet {
namespace {

constexpr qint64 kMegabyte = 1024 * 1024;
constexpr qint64 kMemoryCeiling = 400 * kMegabyte;

struct DriverRun {
    bool ran = false;
    int exitCode = -1;
    qint64 peakBytes = 0;  // the driver's largest resident size
    QByteArray out, err;
};

// Starts the driver on the program folder; its output goes to files in
// scratch.
pid_t startDriver(const QString& home, const test::TempFolder& scratch) {
    const QByteArray out = QFile::encodeName(scratch.path(QStringLiteral("driver.out")));
    const QByteArray err = QFile::encodeName(scratch.path(QStringLiteral("driver.err")));
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const QByteArray program = LUMOPET_DRIVER;
    const QByteArray folder = QFile::encodeName(home);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(folder.constData()), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.constData(), &files, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&files);
    return spawned == 0 ? pid : -1;
}

// Waits for the driver; wait4 gives the peak of that one process (the
// servers' helpers do not count).
DriverRun waitForDriver(pid_t pid, const test::TempFolder& scratch) {
    DriverRun run;
    int status = 0;
    rusage usage{};
    if (pid <= 0 || wait4(pid, &status, 0, &usage) != pid) return run;
    run.ran = true;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakBytes = static_cast<qint64>(usage.ru_maxrss) * 1024;
    run.out = scratch.read(QStringLiteral("driver.out"));
    run.err = scratch.read(QStringLiteral("driver.err"));
    return run;
}

DriverRun runDriver(const QString& home, const test::TempFolder& scratch) {
    return waitForDriver(startDriver(home, scratch), scratch);
}

// The files in one of the received Maildir's folders, with their sizes.
std::map<QString, qint64> maildirFiles(const ProgramPaths& paths, const char* folder) {
    std::map<QString, qint64> files;
    const QDir dir(ReceivedMaildirPath(paths) + u'/' + QLatin1String(folder));
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files)) files[info.fileName()] = info.size();
    return files;
}

// A message of about `size` bytes written straight to a file: a text body
// of ASCII lines (the costliest kind: each byte becomes a two-byte
// character), or one attachment in base64.
enum class Content { Text, Attachment };

bool writeLargeMessage(const QString& path, qint64 size, const QString& subject, Content content) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QByteArray header = "From: large@example.jp\r\nSubject: " + subject.toUtf8() + "\r\nMIME-Version: 1.0\r\n";
    if (content == Content::Text) {
        header += "Content-Type: text/plain; charset=us-ascii\r\n\r\n";
    } else {
        header += "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\n"
                  "a large file\r\n--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: base64\r\n"
                  "Content-Disposition: attachment; filename=\"large.bin\"\r\n\r\n";
    }
    file.write(header);
    const QByteArray line = content == Content::Text
                                ? QByteArray("The quick brown fox jumps over the lazy dog, again and again and again.\r\n")
                                : QByteArray(76, 'Q') + "\r\n";
    QByteArray block;
    while (block.size() < kMegabyte) block += line;
    qint64 written = header.size();
    const QByteArray end = content == Content::Text ? QByteArray("end\r\n") : QByteArray("--b--\r\n");
    while (written + block.size() + end.size() < size) written += file.write(block);
    while (written + line.size() + end.size() < size) written += file.write(line);
    file.write(end);
    return file.error() == QFile::NoError;
}

QStringList subjectsInHistory(const ProgramPaths& paths) {
    QStringList subjects;
    for (const HistoryListEntry& entry : ReadListing(HistoryPath(paths, History::Received))) subjects << entry.Subject.trimmed();
    return subjects;
}

class LargeMessages : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(servers.running()) << servers.error().toStdString();
        qputenv("LUMOPET_CA_FILE", servers.caFile().toUtf8());
        ASSERT_TRUE(paths.createFolders());
        home.write(QStringLiteral("sorane.ini"), QStringLiteral("POP3=%1\r\n").arg(servers.pop3()).toUtf8());
        home.write(QStringLiteral("★MailData/iniIdPass.ini"), "[EXEINI]\r\nNAME=large\r\nNAME2=pw\r\n");
    }
    void deliverSmall(const QString& subject) {
        ASSERT_TRUE(servers.deliver(QStringLiteral("large"),
                                    QStringLiteral("Subject: %1\r\n\r\nsmall\r\n").arg(subject).toUtf8()));
    }
    void deliverLarge(qint64 size, const QString& subject, Content content) {
        const QString file = scratch.path(QStringLiteral("large.eml"));
        ASSERT_TRUE(writeLargeMessage(file, size, subject, content));
        ASSERT_TRUE(servers.deliverFile(QStringLiteral("large"), file));
        QFile::remove(file);
    }

    test::LocalMailServers servers{{QStringLiteral("large:pw")}};
    test::TempFolder home, scratch;
    ProgramPaths paths{home.path()};
};

TEST_F(LargeMessages, AMessageOfSeveralHundredMegabytesStaysOnTheServerAndTheOthersAreReceived) {
    deliverSmall(QStringLiteral("before"));
    deliverLarge(400 * kMegabyte, QStringLiteral("huge one"), Content::Attachment);
    deliverSmall(QStringLiteral("after"));

    const DriverRun run = runDriver(home.path(), scratch);
    ASSERT_TRUE(run.ran);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out.trimmed(), "2");
    const QString box = QString::fromUtf8(run.err);
    for (const QString& part : {QStringLiteral("メッセージ 2 "), QStringLiteral("サーバーに残しました"),
                                QStringLiteral("件名: huge one"), QStringLiteral("差出人: large@example.jp")})
        EXPECT_TRUE(box.contains(part)) << part.toStdString() << " in " << box.toStdString();
    EXPECT_EQ(servers.count(QStringLiteral("large")), 1);
    EXPECT_EQ(subjectsInHistory(paths), (QStringList{QStringLiteral("before"), QStringLiteral("after")}));
    EXPECT_LT(run.peakBytes, kMemoryCeiling) << run.peakBytes / kMegabyte << " MB";
    std::printf("400 MB message left on the server: peak %lld MB\n", static_cast<long long>(run.peakBytes / kMegabyte));

    // Checking again changes nothing and costs no more: no crash loop.
    const DriverRun again = runDriver(home.path(), scratch);
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out.trimmed(), "0");
    EXPECT_EQ(servers.count(QStringLiteral("large")), 1);
    EXPECT_LT(again.peakBytes, kMemoryCeiling) << again.peakBytes / kMegabyte << " MB";
}

// Over what is held in memory, in the two shapes large mail takes: written
// to the Maildir as it arrives, whole, its attachment decoded from file to
// file, in memory that does not grow with it.
TEST_F(LargeMessages, ALargeMessageIsReceivedWholeInMemoryThatDoesNotGrowWithIt) {
    const DriverRun idle = runDriver(home.path(), scratch);
    ASSERT_EQ(idle.out.trimmed(), "0") << idle.err.toStdString();
    const struct {
        const char* name;
        Content content;
    } cases[] = {{"text", Content::Text}, {"attachment", Content::Attachment}};
    constexpr qint64 kSize = 60 * kMegabyte;
    for (const auto& c : cases) {
        deliverLarge(kSize, QString::fromLatin1(c.name), c.content);
        const DriverRun run = runDriver(home.path(), scratch);
        ASSERT_TRUE(run.ran) << c.name;
        EXPECT_EQ(run.exitCode, 0) << c.name << run.err.toStdString();
        EXPECT_EQ(run.out.trimmed(), "1") << c.name << run.err.toStdString();
        EXPECT_EQ(servers.count(QStringLiteral("large")), 0) << c.name;
        EXPECT_TRUE(subjectsInHistory(paths).contains(QString::fromLatin1(c.name))) << c.name;
        // The help line followed it to its end: the file has one byte a line
        // less than the server listed (LF for CR LF).
        EXPECT_TRUE(run.err.contains("arrived 59 of 59 MB")) << run.err.toStdString();
        EXPECT_LT(run.peakBytes - idle.peakBytes, 120 * kMegabyte) << c.name << ": " << run.peakBytes / kMegabyte << " MB";
        std::printf("%s of 60 MB: peak %lld MB, idle %lld MB\n", c.name, static_cast<long long>(run.peakBytes / kMegabyte),
                    static_cast<long long>(idle.peakBytes / kMegabyte));
    }
    EXPECT_TRUE(maildirFiles(paths, "tmp").empty());
    const std::map<QString, qint64> kept = maildirFiles(paths, "new");
    ASSERT_EQ(kept.size(), 2u);
    // The wire's CR LF is LF in the Maildir: one byte less a line.
    for (const auto& [name, size] : kept) EXPECT_GT(size, kSize * 72 / 74) << name.toStdString();
    // 76 base64 characters a line are 57 bytes.
    const QFileInfo saved(home.path(QStringLiteral("添付フォルダ/large.bin")));
    EXPECT_EQ(QDir(home.path(QStringLiteral("添付フォルダ"))).entryList(QDir::Files), QStringList{QStringLiteral("large.bin")});
    EXPECT_GT(saved.size(), kSize / 78 * 57 * 99 / 100);
    EXPECT_EQ(saved.size() % 57, 0);
}

// MaxMessageMB is the limit: above it a message stays on the server, with
// the box that names the limit.
TEST_F(LargeMessages, TheLimitIsTheOneTheOptionsFileSets) {
    home.write(QStringLiteral("★MailData/lumopet.ini"), "[Receive]\r\nMaxMessageMB=10\r\n");
    deliverLarge(12 * kMegabyte, QStringLiteral("over ten"), Content::Attachment);
    const DriverRun run = runDriver(home.path(), scratch);
    EXPECT_EQ(run.out.trimmed(), "0") << run.err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(run.err).contains(QStringLiteral("（10.0 MB）"))) << run.err.toStdString();
    EXPECT_EQ(servers.count(QStringLiteral("large")), 1);
}

// Killed while a large message arrives: the message stays on the server and
// nothing of it is in new/; the next check receives it whole and clears
// what the killed one left in tmp/.
TEST_F(LargeMessages, AKillWhileALargeMessageArrivesLeavesItOnTheServerAndNothingHalfInNew) {
    deliverLarge(200 * kMegabyte, QStringLiteral("killed"), Content::Attachment);
    const pid_t pid = startDriver(home.path(), scratch);
    ASSERT_GT(pid, 0);
    bool caught = false;
    for (int wait = 0; wait < 3000 && !caught; ++wait) {
        for (const auto& [name, size] : maildirFiles(paths, "tmp")) caught = caught || size > 10 * kMegabyte;
        if (!caught) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    const DriverRun killed = waitForDriver(pid, scratch);
    ASSERT_TRUE(caught) << "the message never started to arrive";
    ASSERT_TRUE(killed.ran);
    EXPECT_TRUE(maildirFiles(paths, "new").empty());
    EXPECT_FALSE(maildirFiles(paths, "tmp").empty());
    EXPECT_EQ(servers.count(QStringLiteral("large")), 1);
    EXPECT_TRUE(subjectsInHistory(paths).isEmpty());

    const DriverRun again = runDriver(home.path(), scratch);
    EXPECT_EQ(again.out.trimmed(), "1") << again.err.toStdString();
    EXPECT_EQ(servers.count(QStringLiteral("large")), 0);
    EXPECT_EQ(maildirFiles(paths, "new").size(), 1u);
    EXPECT_TRUE(maildirFiles(paths, "tmp").empty());
}

// The first part in one check, the second in the next: one message, whole in the
// Maildir.
TEST_F(LargeMessages, ASplitMessageWhosePartsComeInTwoChecksIsReceivedAsOne) {
    const QByteArray part1 =
        "From: split@example.jp\r\nSubject: part 1\r\nMIME-Version: 1.0\r\n"
        "Content-Type: message/partial; id=\"e2e-split@example.jp\"; number=1\r\n\r\n"
        "Subject: joined\r\nMessage-ID: <joined@example.jp>\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
        "first half\r\n";
    const QByteArray part2 =
        "From: split@example.jp\r\nSubject: part 2\r\nMIME-Version: 1.0\r\n"
        "Content-Type: message/partial; id=\"e2e-split@example.jp\"; number=2; total=2\r\n\r\n"
        "second half\r\n";
    ASSERT_TRUE(servers.deliver(QStringLiteral("large"), part1));
    DriverRun run = runDriver(home.path(), scratch);
    EXPECT_EQ(run.out.trimmed(), "1") << run.err.toStdString();
    EXPECT_EQ(servers.count(QStringLiteral("large")), 0);
    ASSERT_TRUE(servers.deliver(QStringLiteral("large"), part2));
    run = runDriver(home.path(), scratch);
    EXPECT_EQ(run.out.trimmed(), "1") << run.err.toStdString();
    EXPECT_EQ(servers.count(QStringLiteral("large")), 0);

    const auto records = ReadAll(HistoryPath(paths, History::Received));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].Subject.trimmed(), QStringLiteral("joined"));
    EXPECT_EQ(records[1].Column2.trimmed(), QStringLiteral("split@example.jp"));
    EXPECT_EQ(records[1].Body.trimmed(), QStringLiteral("first half\r\nsecond half"));
    QStringList kept;
    const QDir maildir(ReceivedMaildirPath(paths) + QStringLiteral("/new"));
    for (const QString& name : maildir.entryList(QDir::Files)) {
        QFile file(maildir.filePath(name));
        if (file.open(QIODevice::ReadOnly)) kept << QString::fromUtf8(file.readAll());
    }
    ASSERT_EQ(kept.size(), 1);
    EXPECT_TRUE(kept[0].endsWith(QStringLiteral("\n\nfirst half\nsecond half\n"))) << kept[0].toStdString();
}

// A first part large enough to be written to disk as it arrives is still
// kept and joined.
TEST_F(LargeMessages, ASplitMessageWithALargePartIsJoinedFromItsFile) {
    QByteArray part1 =
        "From: split@example.jp\r\nSubject: part 1\r\nMIME-Version: 1.0\r\n"
        "Content-Type: message/partial; id=\"e2e-large-split@example.jp\"; number=1\r\n\r\n"
        "Subject: joined large\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n";
    while (part1.size() < 10 * kMegabyte) part1 += "a line of the first part of the split message\r\n";
    const QByteArray part2 =
        "From: split@example.jp\r\nSubject: part 2\r\nMIME-Version: 1.0\r\n"
        "Content-Type: message/partial; id=\"e2e-large-split@example.jp\"; number=2; total=2\r\n\r\n"
        "the end\r\n";
    ASSERT_TRUE(servers.deliver(QStringLiteral("large"), part1));
    EXPECT_EQ(runDriver(home.path(), scratch).out.trimmed(), "1");
    ASSERT_TRUE(servers.deliver(QStringLiteral("large"), part2));
    const DriverRun run = runDriver(home.path(), scratch);
    EXPECT_EQ(run.out.trimmed(), "1") << run.err.toStdString();
    EXPECT_EQ(servers.count(QStringLiteral("large")), 0);
    EXPECT_TRUE(subjectsInHistory(paths).contains(QStringLiteral("joined large"))) << subjectsInHistory(paths).join(u',').toStdString();
    const std::map<QString, qint64> kept = maildirFiles(paths, "new");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_GT(kept.begin()->second, 9 * kMegabyte);
    EXPECT_TRUE(maildirFiles(paths, "tmp").empty());
}

}  // namespace
}  // namespace lumopet
