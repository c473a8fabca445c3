// Mail taken in from other programs' files: mbox of both quotings,
// Takeout, .eml with both line ends, a Maildir with flags; the records and
// Maildir copies made, the same as a mail check makes of the same mail;
// duplicates, the history's limit, cancelling, failures, and sources that
// are not what they claim to be.

#include "core/cp932.h"
#include "core/program.h"
#include "mail/account_values.h"
#include "mail/mail_import.h"
#include "mail/mail_library.h"
#include "mail/receive_mail.h"
#include "store/history_file.h"
#include "store/mail_files.h"
#include "store/maildir.h"
#include "store/stored_uidls.h"
#include "tests/mail/scripted_transport.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_check_host.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

constexpr qint64 S = kHistoryRecordSize;

QString storeSample(const char* name) { return QStringLiteral(LUMOPET_STORE_SAMPLES "/") + QString::fromUtf8(name); }
QString mailSample(const char* name) { return QStringLiteral(LUMOPET_MAIL_SAMPLES "/") + QString::fromUtf8(name); }

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A program folder with its data and attachment folders, as at start.
struct ProgramFolder {
    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramFolder() { EXPECT_TRUE(program.paths.createFolders()); }

    QString history() const { return HistoryPath(program.paths, History::Received); }
    std::vector<HistoryRecord> records() const { return ReadAll(history()); }
    QStringList subjects() const {
        QStringList list;
        for (const HistoryRecord& record : records()) list << record.Subject;
        return list;
    }
    // The contents of the received Maildir's files, in delivery order.
    QList<QByteArray> maildirFiles() const {
        QList<QByteArray> files;
        const auto entries = ListMaildir(ReceivedMaildirPath(program.paths));
        if (!entries) return files;
        for (const MaildirEntry& entry : entries.value()) files << readAll(entry.path);
        return files;
    }
    QStringList attachments() const {
        return QDir(program.paths.path(files::AttachmentFolder))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
    }
    MailImportResult import(MailSourceKind kind, const QStringList& paths, bool attachments = false,
                            const MailImportProgressCallback& progress = {},
                            const std::atomic<bool>* cancel = nullptr) const {
        MailImportRequest request;
        request.kind = kind;
        request.paths = paths;
        request.extractAttachments = attachments;
        return ImportMail(program.paths, request, progress, cancel);
    }
};

// An mbox of count small messages, each with a Message-ID of its own and a
// Japanese subject in ISO-2022-JP.
QByteArray smallMbox(int count, int first = 1) {
    QByteArray mbox;
    for (int n = first; n < first + count; ++n) {
        const QByteArray subject = "=?ISO-2022-JP?B?" +
                                   QByteArray("\x1b$B%a!<%k\x1b(B ") .append(QByteArray::number(n)).toBase64() + "?=";
        mbox += "From sender@example.jp Wed Dec  9 08:00:00 2020\n"
                "Message-ID: <n" + QByteArray::number(n) + "@example.jp>\n"
                "From: sender@example.jp\nSubject: " + subject + "\n\nbody " + QByteArray::number(n) + "\n\n";
    }
    return mbox;
}

QString expectedSubject(int n) { return QStringLiteral("メール %1").arg(n); }

// ---------------------------------------------------------------------------
// The shapes of the wild: what each source becomes, and a second import of
// it adds nothing.

struct SourceCase {
    const char* name;
    MailSourceKind kind;
    QStringList paths;
    QStringList subjects;  // of the records, in order
    int skipped;           // in the first import
    int record;            // whose body holds the text below (from 0)
    QString bodyHolds;
    QString senderHolds{};  // of record 0
};

class ImportSources : public ::testing::TestWithParam<SourceCase> {};

TEST_P(ImportSources, StoresEachMessageOnceWithItsSource) {
    const SourceCase& c = GetParam();
    ProgramFolder home;
    const MailImportResult first = home.import(c.kind, c.paths);
    EXPECT_EQ(first.error, QString());
    EXPECT_EQ(first.taken, c.subjects.size());
    EXPECT_EQ(first.skipped, c.skipped);
    EXPECT_EQ(home.subjects(), c.subjects);
    const std::vector<HistoryRecord> records = home.records();
    ASSERT_GT(static_cast<int>(records.size()), c.record);
    EXPECT_TRUE(records[c.record].Body.contains(c.bodyHolds)) << records[c.record].Body.toStdString();
    EXPECT_TRUE(records[0].Column2.contains(c.senderHolds)) << records[0].Column2.toStdString();

    // One Maildir copy per record, each a message of the source, in LF.
    const QList<QByteArray> copies = home.maildirFiles();
    ASSERT_EQ(copies.size(), c.subjects.size());
    for (const QByteArray& copy : copies) EXPECT_FALSE(copy.contains("\r\n"));

    const MailImportResult again = home.import(c.kind, c.paths);
    EXPECT_EQ(again.error, QString());
    EXPECT_EQ(again.taken, 0);
    EXPECT_EQ(again.skipped, first.taken + first.skipped);
    EXPECT_EQ(home.records().size(), records.size());
    EXPECT_EQ(home.maildirFiles().size(), copies.size());
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ImportSources,
    ::testing::Values(
        // The body's "From " lines: ">From" gives "From", ">>From" gives ">From".
        SourceCase{"ThunderbirdMboxo", MailSourceKind::Mbox, {storeSample("thunderbird_mboxo.mbox")},
                   {QStringLiteral("今日の予定"), QStringLiteral("Re: plans"), QStringLiteral("no message id")}, 0, 0,
                   QStringLiteral("\r\nFrom the minutes of the last meeting:\r\n From here it is only indented.\r\n"
                                  ">From this line on, two quotes stay one."),
                   QStringLiteral("hanako@example.jp")},
        SourceCase{"MboxrdWithCrLf", MailSourceKind::Mbox, {storeSample("mboxrd_crlf.mbox")},
                   {QStringLiteral("mboxrd quoting"), QStringLiteral("second")}, 0, 0,
                   QStringLiteral("From the body, once quoted.\r\n>From the body, quoted twice"),
                   QStringLiteral("author@example.org")},
        SourceCase{"TakeoutWithGmailLabels", MailSourceKind::Mbox, {storeSample("takeout.mbox")},
                   {QStringLiteral("takeout one"), QStringLiteral("Re: takeout one")}, 0, 0,
                   QStringLiteral("Takeout body one.\r\nFrom a quoted line."), QStringLiteral("friend@gmail.com")},
        // Two Message-IDs, but the same subject, sender, date and body: the
        // second record would be the first one again.
        SourceCase{"EmlCrLfThenLfSameRecord", MailSourceKind::MessageFiles,
                   {storeSample("saved_crlf.eml"), storeSample("saved_lf.eml")},
                   {QStringLiteral("saved from a mail program")}, 1, 0,
                   QStringLiteral("From the first line of the body, not quoted in an .eml.")},
        // No Message-ID: the hash of the source, the same for both line ends.
        SourceCase{"EmlWithoutIdBothLineEnds", MailSourceKind::MessageFiles,
                   {storeSample("no_id_lf.eml"), storeSample("no_id_crlf.eml")}, {QStringLiteral("no id")}, 1, 0,
                   QStringLiteral("Same text, two line endings.")},
        // cur/ with ":2," and "!2," flags and new/, by delivery time; tmp/
        // and the dot file left alone.
        SourceCase{"MaildirCurWithFlags", MailSourceKind::Maildir, {storeSample("maildir")},
                   {QStringLiteral("maildir a"), QStringLiteral("maildir b0"), QStringLiteral("maildir b"),
                    QStringLiteral("maildir c")},
                   0, 3, QStringLiteral("body c")},
        // ISO-2022-JP with the circled digits of Windows, in the subject,
        // the sender and the body.
        SourceCase{"Iso2022JpFromWindows", MailSourceKind::MessageFiles, {mailSample("windows_iso2022jp.eml")},
                   {QStringLiteral("Lumopet（①の選択）")}, 0, 0, QStringLiteral("Lumopet（②の選択）"),
                   QStringLiteral("山田")}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The same message, imported and received by a mail check, is stored alike:
// the record, the Maildir copy and the attachment files.

struct SameAsReceivedCase {
    const char* name;
    const char* sample;  // in tests/mail/samples, CR LF as a server sends it
};

class ImportedAsReceived : public ::testing::TestWithParam<SameAsReceivedCase> {};

TEST_P(ImportedAsReceived, RecordCopyAndAttachmentsMatchAMailCheck) {
    const QString sample = mailSample(GetParam().sample);
    ProgramFolder imported;
    const MailImportResult result = imported.import(MailSourceKind::MessageFiles, {sample}, true);
    ASSERT_EQ(result.error, QString());
    ASSERT_EQ(result.taken, 1);

    ProgramFolder received;
    received.folder.write(QStringLiteral("★MailData/iniIdPass.ini"), "[EXEINI]\r\nNAME=user\r\nNAME2=pw\r\n");
    received.program.values.Pop3Server = QStringLiteral("pop.example.jp");
    auto box = std::make_shared<mail::test::ScriptedMailbox>();
    box->messages = {readAll(sample)};
    SetMailTransport(std::make_unique<mail::test::ScriptedTransport>(box));
    test::RecordingCheckHost host;
    const MailCheckResult checked = ReceiveMail(received.program, host, PasswordCredentials(received.program));
    SetMailTransport(nullptr);
    ASSERT_EQ(checked.MailCount, 1);

    const auto a = imported.records();
    const auto b = received.records();
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(a[0].Subject, b[0].Subject);
    EXPECT_EQ(a[0].Column2, b[0].Column2);
    EXPECT_EQ(a[0].Column3, b[0].Column3);
    EXPECT_EQ(a[0].Body, b[0].Body);
    EXPECT_EQ(imported.maildirFiles(), received.maildirFiles());
    EXPECT_EQ(imported.attachments(), received.attachments());
}

INSTANTIATE_TEST_SUITE_P(Samples, ImportedAsReceived,
                         ::testing::Values(SameAsReceivedCase{"Iso2022Jp", "windows_iso2022jp.eml"},
                                           SameAsReceivedCase{"SjisWithAttachments", "windows_sjis_attachments.eml"},
                                           SameAsReceivedCase{"EucJp", "eucjp.eml"},
                                           SameAsReceivedCase{"HtmlOnly", "html_only.eml"},
                                           SameAsReceivedCase{"PhoneSjisBase64", "phone_sjis_base64.eml"},
                                           SameAsReceivedCase{"Undeclared8bitCp932", "no_content_type_cp932.eml"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Attachments go into the attachment folder only when the user asks, and
// only then does the record say they are there.

struct AttachmentCase {
    const char* name;
    bool extract;
    int files;
    bool recordSaysSo;
};

class ImportAttachments : public ::testing::TestWithParam<AttachmentCase> {};

TEST_P(ImportAttachments, OnlyWhenTicked) {
    const AttachmentCase& c = GetParam();
    ProgramFolder home;
    const MailImportResult result =
        home.import(MailSourceKind::MessageFiles, {mailSample("windows_sjis_attachments.eml")}, c.extract);
    ASSERT_EQ(result.taken, 1);
    EXPECT_EQ(home.attachments().size(), c.files) << home.attachments().join(u' ').toStdString();
    const HistoryRecord record = home.records().at(0);
    EXPECT_EQ(record.Subject, QStringLiteral("資料の送付"));
    EXPECT_EQ(record.Body.endsWith(kAttachmentMailText), c.recordSaysSo);
    EXPECT_TRUE(record.Body.startsWith(QStringLiteral("Lumopet（③の選択）"))) << record.Body.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Tick, ImportAttachments,
                         ::testing::Values(AttachmentCase{"Ticked", true, 3, true},
                                           AttachmentCase{"NotTicked", false, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The history's limit: the import stops at 32,766 records and counts the
// rest; nothing half-written.

struct LimitCase {
    const char* name;
    qint64 historyBytes;  // before the import
    int taken;
    int notTaken;
    int skipped;
};

class ImportLimit : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ImportLimit, StopsAtTheLastNumberAndCountsTheRest) {
    const LimitCase& c = GetParam();
    ProgramFolder home;
    // Records of NULs: a sparse file of the size, quick to make.
    {
        QFile history(home.history());
        ASSERT_TRUE(history.open(QIODevice::WriteOnly));
        ASSERT_TRUE(history.resize(c.historyBytes));
    }
    const QString mbox = home.folder.path(QStringLiteral("five.mbox"));
    // Message 3 twice: skipped, not counted as left behind.
    home.folder.write(QStringLiteral("five.mbox"), smallMbox(5) + smallMbox(1, 3));
    const MailImportResult result = home.import(MailSourceKind::Mbox, {mbox});
    EXPECT_EQ(result.error, QString());
    EXPECT_EQ(result.taken, c.taken);
    EXPECT_EQ(result.notTaken, c.notTaken);
    EXPECT_EQ(result.skipped, c.skipped);
    EXPECT_EQ(QFileInfo(home.history()).size(), kImportHistoryLimit * S);
    EXPECT_EQ(home.maildirFiles().size(), c.taken);
    if (c.taken > 0) {
        const auto last = ReadRecord(home.history(), kImportHistoryLimit);
        ASSERT_TRUE(last);
        EXPECT_EQ(last.value().Subject, expectedSubject(c.taken));
    }
    if (c.notTaken > 0) {
        EXPECT_TRUE(MailImportSentence(result).contains(QStringLiteral("残りの %1 通は取り込めませんでした").arg(c.notTaken)))
            << MailImportSentence(result).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Counts, ImportLimit,
    ::testing::Values(LimitCase{"TwoPlacesLeft", 32764 * S, 2, 3, 1},
                      LimitCase{"Full", 32766 * S, 0, 5, 1},
                      // A length between two records counts as the nearer
                      // one, as the appends place records.
                      LimitCase{"OnePlaceLeftRoundedDown", 32765 * S + S / 3, 1, 4, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Cancelled or stopped by a failure: what was stored stays, whole, each
// record with its copy; a second import takes the rest.

struct StopCase {
    const char* name;
    int messages;
    int cancelAfter;          // taken when the flag is set; 0 for none
    bool attachmentFolderIsFile;  // the attachment step fails
    int taken;
};

class ImportStopped : public ::testing::TestWithParam<StopCase> {};

TEST_P(ImportStopped, KeepsWhatItStoredAndTheRestComesNextTime) {
    const StopCase& c = GetParam();
    ProgramFolder home;
    // Messages with an attachment each, so that the attachment step can fail.
    QByteArray mbox;
    for (int n = 1; n <= c.messages; ++n) {
        mbox += "From - Thu Dec 10 09:00:00 2020\nMessage-ID: <a" + QByteArray::number(n) +
                "@example.jp>\nSubject: m " + QByteArray::number(n) +
                "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\n"
                "text " + QByteArray::number(n) +
                "\n--b\nContent-Type: application/octet-stream\nContent-Disposition: attachment; filename=\"f" +
                QByteArray::number(n) + ".bin\"\nContent-Transfer-Encoding: base64\n\nAAEC\n--b--\n\n";
    }
    home.folder.write(QStringLiteral("m.mbox"), mbox);
    std::atomic<bool> cancel{false};
    auto progress = [&](const MailImportProgress& p) {
        if (c.cancelAfter > 0 && p.taken >= c.cancelAfter) cancel = true;
        if (c.attachmentFolderIsFile && p.taken == 2) {
            QDir(home.program.paths.path(files::AttachmentFolder)).removeRecursively();
            home.folder.write(files::AttachmentFolder, "not a folder");
        }
    };
    const MailImportResult result =
        home.import(MailSourceKind::Mbox, {home.folder.path(QStringLiteral("m.mbox"))}, true, progress, &cancel);
    EXPECT_EQ(result.taken, c.taken);
    EXPECT_EQ(result.cancelled, c.cancelAfter > 0);
    EXPECT_EQ(result.error.isEmpty(), !c.attachmentFolderIsFile) << result.error.toStdString();
    EXPECT_EQ(QFileInfo(home.history()).size(), c.taken * S);
    EXPECT_EQ(home.maildirFiles().size(), c.taken);
    for (int n = 1; n <= c.taken; ++n) EXPECT_EQ(home.subjects().value(n - 1), QStringLiteral("m %1").arg(n));
    EXPECT_TRUE(MailImportSentence(result).contains(QStringLiteral("それまでの %1 通を取り込みました").arg(c.taken)));

    if (c.attachmentFolderIsFile) {
        QFile::remove(home.program.paths.path(files::AttachmentFolder));
        ASSERT_TRUE(home.program.paths.createFolders());
    }
    const MailImportResult rest = home.import(MailSourceKind::Mbox, {home.folder.path(QStringLiteral("m.mbox"))}, true);
    EXPECT_EQ(rest.error, QString());
    EXPECT_EQ(rest.taken, c.messages - c.taken);
    EXPECT_EQ(rest.skipped, c.taken);
    EXPECT_EQ(home.records().size(), static_cast<size_t>(c.messages));
    EXPECT_EQ(home.maildirFiles().size(), c.messages);
}

INSTANTIATE_TEST_SUITE_P(Stops, ImportStopped,
                         ::testing::Values(StopCase{"CancelledAfterOne", 4, 1, false, 1},
                                           // Past a flush of the Maildir and the history.
                                           StopCase{"CancelledAfterAFlush", kImportFlushEvery + 3,
                                                    kImportFlushEvery + 1, false, kImportFlushEvery + 1},
                                           StopCase{"AttachmentFolderFails", 4, 0, true, 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A source that is not what it claims to be is refused, at once.

enum class Shape { Fifo, LinkToFile, LinkToFolder, FolderAsFile, Missing, FileAsMaildir };

struct RefusedCase {
    const char* name;
    MailSourceKind kind;
    Shape shape;
};

class ImportRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ImportRefused, WithoutWaitingOrFollowing) {
    const RefusedCase& c = GetParam();
    ProgramFolder home;
    const QString path = home.folder.path(QStringLiteral("source"));
    const QString mbox = home.folder.path(QStringLiteral("real.mbox"));
    home.folder.write(QStringLiteral("real.mbox"), smallMbox(2));
    switch (c.shape) {
    case Shape::Fifo: ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); break;
    case Shape::LinkToFile: ASSERT_TRUE(QFile::link(mbox, path)); break;
    case Shape::LinkToFolder: ASSERT_TRUE(QFile::link(storeSample("maildir"), path)); break;
    case Shape::FolderAsFile: ASSERT_TRUE(QDir().mkpath(path)); break;
    case Shape::Missing: break;
    case Shape::FileAsMaildir: home.folder.write(QStringLiteral("source"), smallMbox(1)); break;
    }
    // On a thread of its own: a FIFO opened for reading would wait for a
    // writer forever, and the test must say so rather than hang.
    auto done = std::make_shared<std::promise<MailImportResult>>();
    std::future<MailImportResult> answer = done->get_future();
    std::thread([done, &home, c, path] { done->set_value(home.import(c.kind, {path})); }).detach();
    ASSERT_EQ(answer.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "the import waits on the source";
    const MailImportResult result = answer.get();
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_EQ(result.taken, 0);
    EXPECT_TRUE(home.records().empty());
    EXPECT_TRUE(MailImportSentence(result).contains(result.error));
}

INSTANTIATE_TEST_SUITE_P(Shapes, ImportRefused,
                         ::testing::Values(RefusedCase{"FifoAsMbox", MailSourceKind::Mbox, Shape::Fifo},
                                           RefusedCase{"FifoAsEml", MailSourceKind::MessageFiles, Shape::Fifo},
                                           RefusedCase{"LinkAsMbox", MailSourceKind::Mbox, Shape::LinkToFile},
                                           RefusedCase{"LinkAsEml", MailSourceKind::MessageFiles, Shape::LinkToFile},
                                           RefusedCase{"LinkAsMaildir", MailSourceKind::Maildir, Shape::LinkToFolder},
                                           RefusedCase{"FolderAsMbox", MailSourceKind::Mbox, Shape::FolderAsFile},
                                           RefusedCase{"MissingMbox", MailSourceKind::Mbox, Shape::Missing},
                                           RefusedCase{"FileAsMaildir", MailSourceKind::Maildir, Shape::FileAsMaildir},
                                           RefusedCase{"FolderNotAMaildir", MailSourceKind::Maildir,
                                                       Shape::FolderAsFile}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// What is already in the program counts as there: mail a check kept in the
// Maildir, and records from before the Maildir existed.

TEST(ImportDuplicates, MailAlreadyReceivedOrRecordedIsSkipped) {
    ProgramFolder home;
    const QByteArray mbox = smallMbox(3);
    home.folder.write(QStringLiteral("three.mbox"), mbox);
    // Message 1 came by a check (its source in the Maildir, no record here);
    // message 2 has a record from the Windows version and no copy: the
    // record another program folder made of it.
    ASSERT_TRUE(DeliverToMaildir(ReceivedMaildirPath(home.program.paths),
                                 "Message-ID: <n1@example.jp>\nSubject: other text\n\nx\n"));
    {
        ProgramFolder other;
        other.folder.write(QStringLiteral("two.mbox"), smallMbox(1, 2));
        ASSERT_EQ(other.import(MailSourceKind::Mbox, {other.folder.path(QStringLiteral("two.mbox"))}).taken, 1);
        home.folder.write(QStringLiteral("★MailData/srndata2.data"), readAll(other.history()));
    }
    const MailImportResult result = home.import(MailSourceKind::Mbox, {home.folder.path(QStringLiteral("three.mbox"))});
    EXPECT_EQ(result.taken, 1);
    EXPECT_EQ(result.skipped, 2);
    EXPECT_EQ(home.subjects(), QStringList({expectedSubject(2), expectedSubject(3)}));
}

// A check that died after noting a UIDL and before its record left a line
// naming the next record's place; records taken in must not make it look
// stored, or the next check would delete that message unstored.
TEST(ImportStoredUidls, AStaleNoteIsSettledBeforeRecordsAreAdded) {
    ProgramFolder home;
    ASSERT_TRUE(AppendRecord(home.history(), HistoryRecord{QStringLiteral("old"), {}, {}, {}}, History::Received));
    const QString uidls = StoredUidlsPath(home.program.paths);
    home.folder.write(QStringLiteral("★MailData/") + QFileInfo(uidls).fileName(),
                      "kept stored=2020-12-01 record=0123456789abcdef\nlost " + QByteArray::number(S) +
                          " stored=2020-12-09 record=0123456789abcdef\n");
    home.folder.write(QStringLiteral("two.mbox"), smallMbox(2));
    ASSERT_EQ(home.import(MailSourceKind::Mbox, {home.folder.path(QStringLiteral("two.mbox"))}).taken, 2);
    const auto read = ReadStoredUidls(uidls, home.history(), QDate(2020, 12, 10));
    ASSERT_TRUE(read);
    EXPECT_TRUE(read.value().contains(QStringLiteral("kept")));
    EXPECT_FALSE(read.value().contains(QStringLiteral("lost")));
}

// The progress goes up message by message, to the whole file.
TEST(ImportProgress, CountsAndBytesToTheEnd) {
    ProgramFolder home;
    const QByteArray mbox = smallMbox(30);
    home.folder.write(QStringLiteral("m.mbox"), mbox);
    std::vector<MailImportProgress> seen;
    home.import(MailSourceKind::Mbox, {home.folder.path(QStringLiteral("m.mbox"))}, false,
                [&](const MailImportProgress& p) { seen.push_back(p); });
    ASSERT_FALSE(seen.empty());
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GE(seen[i].taken, seen[i - 1].taken);
        EXPECT_GE(seen[i].bytesRead, seen[i - 1].bytesRead);
    }
    EXPECT_EQ(seen.back().taken, 30);
    EXPECT_EQ(seen.back().bytesRead, mbox.size());
    EXPECT_EQ(seen.back().bytesTotal, mbox.size());
}

// A large mbox is read as a stream: the import's peak memory stays far
// below the file's size. Measured in a child process, whose peak is its own.
TEST(ImportMemory, DoesNotGrowWithTheFile) {
    ProgramFolder home;
    const QString path = home.folder.path(QStringLiteral("large.mbox"));
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        const QByteArray filler = QByteArray("ぼでぃのぎょう。").repeated(1200) + '\n';  // about 29 KB
        for (int n = 1; n <= 3000; ++n)
            out.write("From - Thu Dec 10 09:00:00 2020\nMessage-ID: <big" + QByteArray::number(n) +
                      "@example.jp>\nSubject: big\nContent-Type: text/plain; charset=UTF-8\n\n" + QByteArray::number(n) +
                      filler + "\n");
    }
    const qint64 size = QFileInfo(path).size();
    ASSERT_GT(size, 80 << 20);
    // The child starts with the parent's pages: its peak is measured
    // against them.
    qint64 parentKb = 0;
    for (const QByteArray& line : readAll(QStringLiteral("/proc/self/status")).split('\n'))
        if (line.startsWith("VmRSS:")) parentKb = line.sliced(6).trimmed().split(' ').value(0).toLongLong();
    ASSERT_GT(parentKb, 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const MailImportResult result = home.import(MailSourceKind::Mbox, {path});
        ::_exit(result.taken == 3000 && result.error.isEmpty() ? 0 : 1);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const qint64 grownKb = usage.ru_maxrss - parentKb;
    EXPECT_LT(grownKb * 1024, size / 4) << "peak " << usage.ru_maxrss << " KB, the parent's " << parentKb << " KB";
}

// ---------------------------------------------------------------------------
// The sentence at the end names every count there is.

struct SentenceCase {
    const char* name;
    MailImportResult result;
    QStringList holds;
};

class ImportSentence : public ::testing::TestWithParam<SentenceCase> {};

TEST_P(ImportSentence, SaysWhatHappened) {
    const QString text = MailImportSentence(GetParam().result);
    for (const QString& part : GetParam().holds) EXPECT_TRUE(text.contains(part)) << text.toStdString();
}

MailImportResult resultOf(int taken, int skipped, int notTaken, bool cancelled, const char* error) {
    MailImportResult r;
    r.taken = taken;
    r.skipped = skipped;
    r.notTaken = notTaken;
    r.cancelled = cancelled;
    r.error = QString::fromUtf8(error);
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Results, ImportSentence,
    ::testing::Values(SentenceCase{"AllTaken", resultOf(12, 0, 0, false, ""), {QStringLiteral("12 通のメールを取り込みました")}},
                      SentenceCase{"SomeSkipped",
                                   resultOf(3, 4, 0, false, ""),
                                   {QStringLiteral("3 通のメール"), QStringLiteral("既にある 4 通")}},
                      SentenceCase{"HistoryFull",
                                   resultOf(2, 0, 7, false, ""),
                                   {QStringLiteral("2 通"), QStringLiteral("32766 件"), QStringLiteral("残りの 7 通")}},
                      SentenceCase{"Cancelled", resultOf(5, 1, 0, true, ""), {QStringLiteral("中止"), QStringLiteral("5 通")}},
                      SentenceCase{"Failed",
                                   resultOf(9, 0, 0, false, "ディスクがいっぱいです"),
                                   {QStringLiteral("止まりました"), QStringLiteral("9 通"),
                                    QStringLiteral("ディスクがいっぱいです")}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace lumopet
