// Large and split messages against the real Dovecot, through the same
// windowless check the kill test runs (mail_check_driver), as a child whose
// peak memory the kernel reports when it ends.
//
// A message far over the size limit stays on the server with a box that
// names it while the others are received; a message just under the limit
// is received; in both the program stays under 400 MB. A split message
// whose parts come in two checks is received as one.

#include "core/program_paths.h"
#include "mail/mail_library.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "tests/e2e/local_mail_servers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
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

// Runs the driver on the program folder and waits for it; wait4 gives the
// peak of that one process (the servers' helpers do not count).
DriverRun runDriver(const QString& home, const test::TempFolder& scratch) {
    DriverRun run;
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
    if (spawned != 0) return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.ran = true;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.peakBytes = static_cast<qint64>(usage.ru_maxrss) * 1024;
    run.out = scratch.read(QStringLiteral("driver.out"));
    run.err = scratch.read(QStringLiteral("driver.err"));
    return run;
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

// Just under the limit, in the two shapes large mail takes.
TEST_F(LargeMessages, AMessageJustUnderTheLimitIsReceivedWithinTheMemoryCeiling) {
    const struct {
        const char* name;
        Content content;
    } cases[] = {{"text", Content::Text}, {"attachment", Content::Attachment}};
    for (const auto& c : cases) {
        deliverLarge(kMaxHeldMessageBytes - kMegabyte, QString::fromLatin1(c.name), c.content);
        const DriverRun run = runDriver(home.path(), scratch);
        ASSERT_TRUE(run.ran) << c.name;
        EXPECT_EQ(run.exitCode, 0) << c.name << run.err.toStdString();
        EXPECT_EQ(run.out.trimmed(), "1") << c.name << run.err.toStdString();
        EXPECT_EQ(servers.count(QStringLiteral("large")), 0) << c.name;
        EXPECT_TRUE(subjectsInHistory(paths).contains(QString::fromLatin1(c.name))) << c.name << subjectsInHistory(paths).join(u',').toStdString() << run.err.toStdString();
        EXPECT_LT(run.peakBytes, kMemoryCeiling) << c.name << ": " << run.peakBytes / kMegabyte << " MB";
        std::printf("%s just under the limit: peak %lld MB\n", c.name, static_cast<long long>(run.peakBytes / kMegabyte));
    }
    EXPECT_EQ(QDir(home.path(QStringLiteral("添付フォルダ"))).entryList(QDir::Files), QStringList{QStringLiteral("large.bin")});
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

}  // namespace
}  // namespace lumopet
