// Records paired with their whole messages in the Maildir, through the file
// kept beside the history: decoded once, refreshed for what changed, made
// again when it cannot be believed, and no pairing where there is doubt.
#include "mail/message_sources.h"

#include "core/clock_text.h"
#include "core/program_paths.h"
#include "core/unique_fd.h"
#include "mail/mail_export.h"
#include "mail/mail_library.h"
#include "mail/message_builder.h"
#include "mail/send_mail.h"
#include "store/history_file.h"
#include "store/mail_files.h"
#include "store/maildir.h"
#include "store/stored_uidls.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet::mail {
namespace {

using test::TempFolder;

QByteArray wire(const QString& subject, const QByteArray& body, const QByteArray& id) {
    return "From: =?UTF-8?B?" + QStringLiteral("山田 太郎").toUtf8().toBase64() + "?= <taro@example.jp>\r\n"
           "To: hanako@example.jp\r\n"
           "Subject: =?UTF-8?B?" + subject.toUtf8().toBase64() + "?=\r\n"
           "Date: Mon, 07 Dec 2026 09:05:03 +0900\r\n"
           "Message-ID: <" + id + "@example.jp>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\n"
           "Content-Transfer-Encoding: 8bit\r\n"
           "\r\n" + body;
}

struct Received {
    TempFolder folder;
    ProgramPaths paths{folder.path()};
    Received() { QDir().mkpath(paths.path(QStringLiteral("\\★MailData"))); }
    QString history() const { return HistoryPath(paths, History::Received); }
    QString maildir() const { return ReceivedMaildirPath(paths); }
    QString kept() const { return MessageSourcesPath(history()); }
    // The mail check's two steps: the source into the Maildir, the record
    // into the history. The Maildir file's path.
    QString receive(const QByteArray& message) const {
        const auto delivered = DeliverToMaildir(maildir(), MaildirLocalForm(message));
        EXPECT_TRUE(delivered);
        EXPECT_TRUE(AppendRecord(history(), ReceivedRecordOf(message), History::Received));
        return delivered ? delivered.value() : QString();
    }
    MessageSources load() const {
        auto loaded = MessageSources::Load(History::Received, history(), maildir());
        EXPECT_TRUE(loaded) << loaded.error().toStdString();
        return loaded ? std::move(loaded.value()) : MessageSources{};
    }
    std::optional<PairedCopy> copyOf(int n) const { return load().copyOf(ReadRecord(history(), n).value()); }
};

void setModified(const QString& path, qint64 seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

// --- the kept file ---------------------------------------------------------------

struct KeptCase {
    const char* name;
    // Done between the first load and the second; returns nothing.
    std::function<void(Received&, const QStringList& files)> change;
    int decodedAgain;
    // Of the three messages, which are paired after the change.
    std::array<bool, 3> paired;
};

class KeptFile : public testing::TestWithParam<KeptCase> {};

TEST_P(KeptFile, DecodesOnlyWhatItCannotBelieve) {
    const KeptCase& c = GetParam();
    Received program;
    QStringList files;
    for (int i = 1; i <= 3; ++i)
        files << program.receive(wire(QStringLiteral("件名%1").arg(i), "本文\r\n", QByteArray::number(i)));
    EXPECT_EQ(program.load().decoded(), 3);
    EXPECT_EQ(program.load().decoded(), 0) << "the second load believes the kept file";

    c.change(program, files);
    const MessageSources again = program.load();
    EXPECT_EQ(again.decoded(), c.decodedAgain);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(again.copyOf(ReadRecord(program.history(), n).value()).has_value(), c.paired[n - 1]) << n;
    // Whatever was there, a regular file holds the pairing now.
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(program.kept()).constData(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(program.load().decoded(), 0) << "written back";
}

INSTANTIATE_TEST_SUITE_P(
    Changes, KeptFile,
    testing::Values(
        KeptCase{"Unchanged", [](Received&, const QStringList&) {}, 0, {true, true, true}},
        KeptCase{"FileAdded",
                 [](Received& p, const QStringList&) { p.receive(wire(QStringLiteral("件名4"), "新しい\r\n", "4")); },
                 1, {true, true, true}},
        KeptCase{"FileRemoved", [](Received&, const QStringList& f) { ASSERT_TRUE(QFile::remove(f[1])); }, 0,
                 {true, false, true}},
        // The same name and size, other bytes: the second message's record
        // no longer matches it, and the file is decoded again.
        KeptCase{"RewrittenUnderTheSameName",
                 [](Received&, const QStringList& f) {
                     QByteArray other = MaildirLocalForm(wire(QStringLiteral("件名9"), "本文\r\n", "2"));
                     QFile file(f[1]);
                     ASSERT_EQ(file.size(), other.size());
                     ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
                     file.write(other);
                     file.close();
                     setModified(f[1], 1'000'000'000);
                 },
                 1, {true, false, true}},
        // Read by another program: moved into cur/ with flags.
        KeptCase{"MovedIntoCurWithFlags",
                 [](Received& p, const QStringList& f) {
                     const QString moved = p.maildir() + QStringLiteral("/cur/") + QFileInfo(f[0]).fileName() +
                                           QStringLiteral(":2,S");
                     ASSERT_TRUE(QFile::rename(f[0], moved));
                 },
                 0, {true, true, true}},
        KeptCase{"Damaged",
                 [](Received& p, const QStringList&) {
                     QFile file(p.kept());
                     ASSERT_TRUE(file.open(QIODevice::ReadWrite));
                     QByteArray bytes = file.readAll();
                     bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x20);
                     file.seek(0);
                     file.write(bytes);
                 },
                 3, {true, true, true}},
        KeptCase{"Truncated", [](Received& p, const QStringList&) { ASSERT_TRUE(QFile::resize(p.kept(), 40)); }, 3,
                 {true, true, true}},
        // A link to a good kept file elsewhere: not believed, and replaced
        // rather than written through.
        KeptCase{"LinkInItsPlace",
                 [](Received& p, const QStringList&) {
                     const QString elsewhere = p.folder.path(QStringLiteral("elsewhere"));
                     ASSERT_TRUE(QFile::rename(p.kept(), elsewhere));
                     ASSERT_EQ(::symlink(QFile::encodeName(elsewhere).constData(), QFile::encodeName(p.kept()).constData()), 0);
                 },
                 3, {true, true, true}},
        KeptCase{"FifoInItsPlace",
                 [](Received& p, const QStringList&) {
                     ASSERT_TRUE(QFile::remove(p.kept()));
                     ASSERT_EQ(::mkfifo(QFile::encodeName(p.kept()).constData(), 0600), 0);
                 },
                 3, {true, true, true}},
        // The same file names under another folder: the kept file is of
        // the Maildir it was made for.
        KeptCase{"OfAnotherMaildir",
                 [](Received& p, const QStringList&) {
                     Received other;
                     const QByteArray copy = QStringLiteral("cp -a '%1' '%2'").arg(p.maildir(), other.maildir()).toUtf8();
                     ASSERT_EQ(std::system(copy.constData()), 0);
                     ASSERT_EQ(other.load().decoded(), 3);
                     ASSERT_TRUE(QFile::remove(p.kept()));
                     ASSERT_TRUE(QFile::copy(other.kept(), p.kept()));
                 },
                 3, {true, true, true}}),
    [](const testing::TestParamInfo<KeptCase>& info) { return std::string(info.param.name); });

TEST(KeptFileLink, TheLinkedFileIsLeftAsItWas) {
    Received program;
    program.receive(wire(QStringLiteral("件名"), "本文\r\n", "1"));
    const QString outside = program.folder.path(QStringLiteral("outside"));
    program.folder.write(QStringLiteral("outside"), "not ours\n");
    ASSERT_EQ(::symlink(QFile::encodeName(outside).constData(), QFile::encodeName(program.kept()).constData()), 0);
    EXPECT_EQ(program.load().decoded(), 1);
    EXPECT_EQ(program.folder.read(QStringLiteral("outside")), QByteArray("not ours\n"));
    EXPECT_FALSE(QFileInfo(program.kept()).isSymLink());
}

// --- pairing -------------------------------------------------------------------------

TEST(Pairing, TwoDifferentFilesMakingTheSameRecordPairNothing) {
    Received program;
    // Only the Message-ID differs: both make the very same record.
    program.receive(wire(QStringLiteral("同じ"), "同じ本文\r\n", "one"));
    program.receive(wire(QStringLiteral("同じ"), "同じ本文\r\n", "two"));
    program.receive(wire(QStringLiteral("別"), "別の本文\r\n", "three"));
    EXPECT_FALSE(program.copyOf(1));
    EXPECT_FALSE(program.copyOf(2));
    ASSERT_TRUE(program.copyOf(3));
    EXPECT_TRUE(QFile(program.copyOf(3)->path).open(QIODevice::ReadOnly));
}

TEST(Pairing, IdenticalCopiesCountAsOne) {
    Received program;
    const QByteArray message = wire(QStringLiteral("二度届いた"), "本文\r\n", "twice");
    const QString first = program.receive(message);
    ASSERT_TRUE(DeliverToMaildir(program.maildir(), MaildirLocalForm(message)));
    const auto copy = program.copyOf(1);
    ASSERT_TRUE(copy);
    EXPECT_EQ(QFile(copy->path).size(), QFile(first).size());
}

// The record's CP932 fields lose what CP932 has no room for; the copy's
// texts keep it, and the list finds them by the record's fingerprint.
TEST(Pairing, WholeTextsOfTheCopyByTheRecordsFingerprint) {
    Received program;
    const QString subject = QStringLiteral("𠮷野家で🍣を");
    program.receive(wire(subject, "本文\r\n", "whole"));
    const HistoryRecord record = ReadRecord(program.history(), 1).value();
    ASSERT_NE(record.Subject, subject);
    const auto copy = program.load().copyOfFingerprint(RecordFingerprint(record));
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->subject, subject);
    EXPECT_EQ(copy->from, QStringLiteral("山田 太郎 <taro@example.jp>"));
    EXPECT_EQ(copy->date, record.Column3);  // the record's form, in local time
    EXPECT_FALSE(program.load().copyOfFingerprint("0123456789abcdef"));
}

// Over what the program holds in memory, a message is decoded from its
// file, as the check decoded it: the same record, the same pairing.
TEST(Pairing, AMessageTooLargeToHoldIsPairedFromItsFile) {
    Received program;
    QByteArray message = "From: taro@example.jp\r\nSubject: big\r\nDate: Mon, 07 Dec 2026 09:05:03 +0900\r\n"
                         "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
                         "--b\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n大きな添付\r\n"
                         "--b\r\nContent-Type: application/octet-stream; name=big.bin\r\n"
                         "Content-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray line = QByteArray(76, 'A') + "\r\n";
    while (message.size() <= kMaxHeldMessageBytes) message += line;
    message += "--b--\r\n";
    const QString path = program.receive(message);
    const auto copy = program.copyOf(1);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->path, path);
    EXPECT_EQ(copy->subject, QStringLiteral("big"));
}

// Over 8 MB the check decodes a message from the file it spooled, where a
// text over the held size keeps only its start and end; the record holds
// less than that start, so the copy decoded whole makes the same record.
// Minified HTML, one line of megabytes, is the case that once lost it.
TEST(Pairing, AMessageTheCheckSpooledPairsWithTheRecordItMadeFromItsFile) {
    Received program;
    QByteArray message = "From: taro@example.jp\r\nSubject: spooled\r\nDate: Mon, 07 Dec 2026 09:05:03 +0900\r\n"
                         "MIME-Version: 1.0\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n";
    while (message.size() <= kSpooledFromBytes + 1024) message += "<p>one long line of minified HTML</p>";
    message += "\r\n";
    const auto delivered = DeliverToMaildir(program.maildir(), MaildirLocalForm(message));
    ASSERT_TRUE(delivered);
    const UniqueFd fd(::open(QFile::encodeName(delivered.value()).constData(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(AppendRecord(program.history(), ReceivedRecordOf(DecodeMessageFile(fd.get())), History::Received));
    const auto copy = program.copyOf(1);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->path, delivered.value());
}

TEST(Pairing, AMissingMaildirPairsNothingAndKeepsNoFile) {
    Received program;
    ASSERT_TRUE(AppendRecord(program.history(), HistoryRecord{QStringLiteral("件"), {}, {}, {}}, History::Received));
    EXPECT_FALSE(program.copyOf(1));
    EXPECT_FALSE(QFileInfo::exists(program.kept()));
}

// Sent mail is paired by subject, recipient, body and the clock: the
// message's Date between its record's time and the next record's.
struct SentCase {
    const char* name;
    int messageSecondsAfter;
    std::optional<int> nextRecordSecondsAfter;  // nullopt: the last record
    bool recordTimeKnown;
    bool paired;
};

class SentPairing : public testing::TestWithParam<SentCase> {};

TEST_P(SentPairing, ByTheNeighboursTimes) {
    const SentCase& c = GetParam();
    TempFolder folder;
    const ProgramPaths paths(folder.path());
    QDir().mkpath(paths.path(QStringLiteral("\\★MailData")));
    const QString history = HistoryPath(paths, History::Sent);
    const QDateTime clock(QDate(2026, 12, 7), QTime(9, 5, 3));
    const QString typed = QStringLiteral("こんにちは。\r\n明日の件です。");
    const HistoryRecord record{QStringLiteral("明日の件"), ClockText(clock), QStringLiteral("taro@example.jp"), typed};
    ASSERT_TRUE(AppendRecord(history, record, History::Sent));
    const auto built = BuildMessage(OutgoingMessage{QStringLiteral("hanako@example.jp"), QStringLiteral("taro@example.jp"),
                                                    QStringLiteral("明日の件"), OutgoingBody(typed, 3, 1), {},
                                                    clock.addSecs(c.messageSecondsAfter)});
    ASSERT_TRUE(built);
    ASSERT_TRUE(DeliverToMaildir(SentMaildirPath(paths), MaildirLocalForm(built.value())));

    const auto sources = MessageSources::Load(History::Sent, history, SentMaildirPath(paths));
    ASSERT_TRUE(sources);
    const std::optional<QDateTime> next =
        c.nextRecordSecondsAfter ? std::optional(clock.addSecs(*c.nextRecordSecondsAfter)) : std::nullopt;
    const auto copy = sources.value().copyOf(ReadRecord(history, 1).value(),
                                             c.recordTimeKnown ? std::optional(clock) : std::nullopt, next);
    EXPECT_EQ(copy.has_value(), c.paired);
    if (copy) EXPECT_EQ(copy->subject, QStringLiteral("明日の件"));
    // Kept and believed: the keys read back pair the same way.
    const auto again = MessageSources::Load(History::Sent, history, SentMaildirPath(paths));
    ASSERT_TRUE(again);
    EXPECT_EQ(again.value().decoded(), 0);
    EXPECT_EQ(again.value().copyOf(ReadRecord(history, 1).value(), c.recordTimeKnown ? std::optional(clock) : std::nullopt,
                                   next)
                  .has_value(),
              c.paired);
}

INSTANTIATE_TEST_SUITE_P(
    Times, SentPairing,
    testing::Values(SentCase{"LastRecord", 1, std::nullopt, true, true},
                    SentCase{"BeforeTheNextRecord", 1, 60, true, true},
                    SentCase{"AfterTheNextRecord", 120, 60, true, false},
                    SentCase{"BeforeItsRecord", -60, std::nullopt, true, false},
                    SentCase{"RecordTimeUnknown", 1, std::nullopt, false, false}),
    [](const testing::TestParamInfo<SentCase>& info) { return std::string(info.param.name); });

// The header names a Japanese domain in ACE; the record keeps it as typed,
// and several addresses: the first one pairs them.
TEST(SentPairing, ARecipientWithAJapaneseDomainPairsWithItsCopy) {
    TempFolder folder;
    const ProgramPaths paths(folder.path());
    QDir().mkpath(paths.path(QStringLiteral("\\★MailData")));
    const QString history = HistoryPath(paths, History::Sent);
    const QDateTime clock(QDate(2026, 12, 7), QTime(9, 5, 3));
    const QString to = QStringLiteral("太郎 <taro@例え.jp>、hanako@example.jp");
    ASSERT_TRUE(AppendRecord(history, HistoryRecord{QStringLiteral("件"), ClockText(clock), to, QStringLiteral("本文")},
                             History::Sent));
    const auto built = BuildMessage(OutgoingMessage{QStringLiteral("me@example.jp"), to, QStringLiteral("件"),
                                                    QStringLiteral("本文"), {}, clock.addSecs(1)});
    ASSERT_TRUE(built);
    ASSERT_TRUE(built.value().contains("taro@xn--r8jz45g.jp"));
    ASSERT_TRUE(DeliverToMaildir(SentMaildirPath(paths), MaildirLocalForm(built.value())));
    const auto sources = MessageSources::Load(History::Sent, history, SentMaildirPath(paths));
    ASSERT_TRUE(sources);
    EXPECT_TRUE(sources.value().copyOf(ReadRecord(history, 1).value(), clock, std::nullopt).has_value());
}

// --- the export ----------------------------------------------------------------------

TEST(ExportThroughSources, ASecondExportDecodesNothing) {
    Received program;
    program.receive(wire(QStringLiteral("一通目"), "本文\r\n", "1"));
    program.receive(wire(QStringLiteral("二通目"), "本文\r\n", "2"));
    MailExportRequest request;
    request.historyFile = program.history();
    request.maildir = program.maildir();
    request.records = {1, 2};
    request.target = program.folder.path(QStringLiteral("out.mbox"));
    const MailExportResult first = ExportMail(request);
    ASSERT_TRUE(first.ok()) << first.error.toStdString();
    EXPECT_EQ(first.fromSource, 2);
    EXPECT_EQ(program.load().decoded(), 0) << "the export kept what it decoded";

    request.replaceExisting = true;
    const MailExportResult second = ExportMail(request);
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.fromSource, 2);
}

// Not run by ctest: what the kept file saves an export of a large Maildir.
//   mail_export_tests --gtest_also_run_disabled_tests --gtest_filter='*ExportTiming*'
TEST(ExportThroughSources, DISABLED_ExportTiming) {
    Received program;
    constexpr int kMessages = 2000;
    const QByteArray body = QStringLiteral("こんにちは。明日の会議の件です。\r\n").toUtf8().repeated(60);
    for (int i = 0; i < kMessages; ++i)
        program.receive(wire(QStringLiteral("会議の件 %1").arg(i), body, QByteArray::number(i)));
    MailExportRequest request;
    request.historyFile = program.history();
    request.maildir = program.maildir();
    for (int n = 1; n <= kMessages; ++n) request.records.push_back(n);
    request.target = program.folder.path(QStringLiteral("out.mbox"));
    request.replaceExisting = true;
    QElapsedTimer timer;
    for (const char* which : {"first export (every file decoded)", "second export (kept file)"}) {
        timer.start();
        const MailExportResult result = ExportMail(request);
        const qint64 ms = timer.elapsed();
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.fromSource, kMessages);
        std::printf("%s: %lld ms for %d messages\n", which, static_cast<long long>(ms), kMessages);
    }
    timer.start();
    const MessageSources sources = program.load();
    std::printf("MessageSources::Load with the kept file: %lld ms, %d decoded\n",
                static_cast<long long>(timer.elapsed()), sources.decoded());
    EXPECT_EQ(sources.decoded(), 0);
}

}  // namespace
}  // namespace lumopet::mail
