// The mail check over a scripted server: what it does with messages an
// earlier, interrupted check already stored, and the whole sources it keeps
// in the received Maildir.

#include "core/cp932.h"
#include "core/program.h"
#include "mail/account_values.h"
#include "mail/mail_library.h"
#include "mail/receive_mail.h"
#include "store/history_file.h"
#include "store/maildir.h"
#include "store/partial_messages.h"
#include "store/stored_uidls.h"
#include "tests/mail/scripted_transport.h"
#include "tests/support/qt_printers.h"
#include "tests/support/recording_check_host.h"
#include "tests/support/silent_server.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include <poll.h>

#include <sys/resource.h>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

using mail::test::ScriptedMailbox;
using mail::test::ScriptedTransport;

using QuietHost = test::RecordingCheckHost;

// A program folder with an account, ready for a check.
struct ProgramFolder {
    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramFolder() {
        EXPECT_TRUE(program.paths.createFolders());
        folder.write(QStringLiteral("★MailData/iniIdPass.ini"), "[EXEINI]\r\nNAME=user\r\nNAME2=pw\r\n");
        program.values.Pop3Server = QStringLiteral("pop.example.jp");
    }
    // One check against a server holding these messages.
    MailCheckResult check(const std::shared_ptr<ScriptedMailbox>& box, QuietHost& host) {
        SetMailTransport(std::make_unique<ScriptedTransport>(box));
        const MailCheckResult result = ReceiveMail(program, host, PasswordCredentials(program));
        SetMailTransport(nullptr);
        return result;
    }
    std::vector<HistoryRecord> records() const { return ReadAll(HistoryPath(program.paths, History::Received)); }
    QStringList attachments() const {
        return QDir(folder.path(QStringLiteral("添付フォルダ"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }
};

QSet<QString> uidlsOf(const StoredUidls& stored) {
    const QList<QString> keys = stored.keys();
    return QSet<QString>(keys.begin(), keys.end());
}

QByteArray message(int n) { return QStringLiteral("Subject: msg %1\r\n\r\nbody %1\r\n").arg(n).toUtf8(); }

// Every file the Maildir holds (new/ and cur/), its content.
QList<QByteArray> maildirFiles(const QString& maildir) {
    QList<QByteArray> files;
    for (const QString& sub : {QStringLiteral("new"), QStringLiteral("cur")}) {
        const QDir dir(maildir + u'/' + sub);
        for (const QString& name : dir.entryList(QDir::Files)) {
            QFile file(dir.filePath(name));
            if (file.open(QIODevice::ReadOnly)) files << file.readAll();
        }
    }
    return files;
}

struct StoredCase {
    const char* name;
    std::vector<QString> serverUidls;  // empty: no UIDL command
    QByteArray fileBefore;             // the UIDL file as the last check left it
    QStringList stored;                // subjects this check stores
    QStringList log;                   // retrievals and deletions, in order
    QSet<QString> fileAfter;
    // The message (by number) the check that died delivered to the Maildir.
    int inMaildirBefore = 0;
    // How much of msg 1's record the check that died wrote to the history.
    qsizetype partRecordBefore = 0;
};

class ReceiveStored : public ::testing::TestWithParam<StoredCase> {
protected:
    void SetUp() override { SetMailTransport(std::make_unique<ScriptedTransport>(box)); }
    void TearDown() override { SetMailTransport(nullptr); }

    std::shared_ptr<ScriptedMailbox> box = std::make_shared<ScriptedMailbox>();
    ProgramFolder home;
    test::TempFolder& folder = home.folder;
    Program& program = home.program;
};

TEST_P(ReceiveStored, DeletesWhatIsStoredAndStoresTheRest) {
    const StoredCase& c = GetParam();
    box->messages = {message(1), message(2), message(3)};
    box->uidls = c.serverUidls;
    const QString uidlFile = StoredUidlsPath(program.paths);
    if (!c.fileBefore.isNull()) {
        QFile file(uidlFile);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.fileBefore);
    }
    const QString maildir = ReceivedMaildirPath(program.paths);
    if (c.inMaildirBefore > 0) {
        const int n = c.inMaildirBefore;
        ASSERT_TRUE(DeliverToMaildir(maildir, message(n), c.serverUidls.at(n - 1)));
    }
    if (c.partRecordBefore > 0) {
        const HistoryRecord part{QStringLiteral("msg 1"), {}, {}, QStringLiteral("body 1")};
        folder.write(QStringLiteral("★MailData/srndata2.data"),
                     EncodeLiveRecord(part, History::Received).first(c.partRecordBefore));
    }

    QuietHost host;
    const MailCheckResult result = ReceiveMail(program, host, PasswordCredentials(program));

    EXPECT_TRUE(host.messages.isEmpty()) << host.messages.join(u'\n').toStdString();
    EXPECT_EQ(result.MailCount, c.stored.size());
    QStringList subjects;
    for (const HistoryRecord& record : ReadAll(HistoryPath(program.paths, History::Received))) subjects << record.Subject;
    EXPECT_EQ(subjects, c.stored);
    QStringList log = box->log.filter(QRegularExpression(QStringLiteral("^(retr|dele)")));
    EXPECT_EQ(log, c.log);
    EXPECT_EQ(box->deleted, (std::set<int>{1, 2, 3}));
    const auto after = ReadStoredUidls(uidlFile, HistoryPath(program.paths, History::Received), program.today());
    ASSERT_TRUE(after);
    EXPECT_EQ(uidlsOf(after.value()), c.fileAfter);
    // Every message the server deletes has its source in the Maildir, once.
    const QList<QByteArray> kept = maildirFiles(maildir);
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(kept.count(MaildirLocalForm(message(n))), 1) << "msg " << n;
}

const QStringList kAll = {QStringLiteral("msg 1"), QStringLiteral("msg 2"), QStringLiteral("msg 3")};
const QStringList kAllFetched = {QStringLiteral("retr 1"), QStringLiteral("dele 1"), QStringLiteral("retr 2"),
                                 QStringLiteral("dele 2"), QStringLiteral("retr 3"), QStringLiteral("dele 3")};
const std::vector<QString> kUidls = {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")};

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceiveStored,
    ::testing::Values(
        StoredCase{"first_check_stores_all_and_notes_them", kUidls, QByteArray(), kAll, kAllFetched,
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")}},
        StoredCase{"stored_one_is_deleted_unfetched",
                   kUidls,
                   "u2\n",
                   {QStringLiteral("msg 1"), QStringLiteral("msg 3")},
                   {QStringLiteral("retr 1"), QStringLiteral("dele 1"), QStringLiteral("dele 2"), QStringLiteral("retr 3"),
                    QStringLiteral("dele 3")},
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")},
                   2},
        // Its record made it to the disk and its source did not (a power
        // cut before that check's flush): fetched for the Maildir only.
        StoredCase{"stored_one_without_its_source_is_fetched_for_the_maildir_only",
                   kUidls,
                   "u2\n",
                   {QStringLiteral("msg 1"), QStringLiteral("msg 3")},
                   kAllFetched,
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")}},
        StoredCase{"uidls_the_server_no_longer_lists_are_forgotten", kUidls, "gone\nu1\n",
                   {QStringLiteral("msg 2"), QStringLiteral("msg 3")},
                   {QStringLiteral("dele 1"), QStringLiteral("retr 2"), QStringLiteral("dele 2"), QStringLiteral("retr 3"),
                    QStringLiteral("dele 3")},
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")},
                   1},
        StoredCase{"a_noted_line_whose_record_never_came_is_fetched_again", kUidls, "u1 0\n", kAll, kAllFetched,
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")}},
        StoredCase{"killed_after_the_maildir_before_the_record_keeps_one_copy", kUidls, "u1 0\n", kAll, kAllFetched,
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")}, 1},
        // Two of its three pages written: past the half, that part would
        // count as a record once another followed it.
        StoredCase{"killed_in_the_middle_of_a_record_lists_it_once", kUidls, "u1 0\n", kAll, kAllFetched,
                   {QStringLiteral("u1"), QStringLiteral("u2"), QStringLiteral("u3")}, 1, 8192},
        // A second copy rather than a lost message; the file is left as it was.
        StoredCase{"no_uidl_command_stores_everything", {}, "u2\n", kAll, kAllFetched, {QStringLiteral("u2")}}),
    [](const auto& info) { return std::string(info.param.name); });

// A text far longer than a record (about 12,000 bytes of CP932): 1,000
// lines of 40 bytes each.
QByteArray longShiftJisMessage() {
    QByteArray text;
    for (int line = 1; line <= 1000; ++line)
        text += cp932::encode(QStringLiteral("%1行目：あいうえおかきくけこさしすせ").arg(line, 4, 10, QChar(u'0'))) + "\r\n";
    return "Subject: long\r\nContent-Type: text/plain; charset=Shift_JIS\r\n"
           "Content-Transfer-Encoding: 8bit\r\n\r\n" +
           text;
}

TEST(ReceiveMaildir, KeepsTheWholeSourceOrLeavesTheMessageOnTheServer) {
    enum class Blocked { No, FileInTheWay, LinkInTheWay };
    struct Case {
        const char* name;
        QByteArray source;
        Blocked blocked;
    };
    const QByteArray longMessage = longShiftJisMessage();
    ASSERT_GT(longMessage.size(), 40000);
    const Case cases[] = {
        {"a 40 KB text is kept whole while the record holds the cut body", longMessage, Blocked::No},
        {"a short message is kept whole too", message(1), Blocked::No},
        {"a file where the Maildir should be: nothing is deleted", longMessage, Blocked::FileInTheWay},
        {"a link where the Maildir should be: nothing is deleted", message(1), Blocked::LinkInTheWay},
    };
    for (const Case& c : cases) {
        auto box = std::make_shared<ScriptedMailbox>();
        box->messages = {c.source, message(2)};
        box->uidls = {QStringLiteral("a"), QStringLiteral("b")};
        SetMailTransport(std::make_unique<ScriptedTransport>(box));
        ProgramFolder home;
        test::TempFolder& folder = home.folder;
        Program& program = home.program;
        const QString maildir = ReceivedMaildirPath(program.paths);
        if (c.blocked == Blocked::FileInTheWay) folder.write(QStringLiteral("★MailData/Maildir"), "not a folder");
        if (c.blocked == Blocked::LinkInTheWay) {
            ASSERT_TRUE(QDir().mkpath(folder.path(QStringLiteral("elsewhere"))));
            ASSERT_TRUE(QFile::link(folder.path(QStringLiteral("elsewhere")), maildir));
        }

        QuietHost host;
        const MailCheckResult result = ReceiveMail(program, host, PasswordCredentials(program));
        SetMailTransport(nullptr);
        const auto records = ReadAll(HistoryPath(program.paths, History::Received));

        if (c.blocked != Blocked::No) {
            EXPECT_EQ(result.MailCount, 0) << c.name;
            EXPECT_EQ(box->deleted, std::set<int>{}) << c.name;
            EXPECT_TRUE(records.empty()) << c.name;
            EXPECT_EQ(host.messages.size(), 1) << c.name;
            EXPECT_EQ(QDir(folder.path(QStringLiteral("elsewhere"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                      QStringList{})
                << c.name << ": nothing through the link";
            continue;
        }
        EXPECT_TRUE(host.messages.isEmpty()) << c.name << ": " << host.messages.join(u'|').toStdString();
        EXPECT_EQ(result.MailCount, 2) << c.name;
        EXPECT_EQ(box->deleted, (std::set<int>{1, 2})) << c.name;
        const QList<QByteArray> kept = maildirFiles(maildir);
        EXPECT_EQ(kept.size(), 2) << c.name;
        EXPECT_EQ(kept.count(MaildirLocalForm(c.source)), 1) << c.name;
        ASSERT_EQ(records.size(), 2u) << c.name;
        // The record keeps the layout it always had: a long text is cut
        // there, and only there.
        const QString text = cp932::decode(c.source.mid(c.source.indexOf("\r\n\r\n") + 4));
        const QString recorded = records[0].Body;
        EXPECT_TRUE(text.startsWith(recorded.left(recorded.size() - 2))) << c.name;
        if (c.source.size() > 20000) {
            EXPECT_LT(recorded.size(), text.size() / 2) << c.name;
        }
    }
}

// A copy that fails on its way to the disk, after the check went on to the
// next message (here the file size limit cuts message 2's), is found before
// anything is deleted: message 1 goes, 2 and 3 stay. The next check keeps
// their sources and deletes them, and no message is stored twice. With the
// junk filter on, the records wait for the copies' flush: the same holds.
TEST(ReceiveMaildir, ACopyThatFailsLateLeavesItsMessageAndTheLaterOnesOnTheServer) {
    const QByteArray big = longShiftJisMessage();
    constexpr rlim_t kLimit = 38000;
    ASSERT_GT(static_cast<rlim_t>(MaildirLocalForm(big).size()), kLimit);
    ASSERT_LT(static_cast<rlim_t>(3 * kHistoryRecordSize), kLimit) << "the history itself fits";
    for (const bool filter : {false, true}) {
        ProgramFolder home;
        home.program.receive.JunkFilter = filter;
        auto box = std::make_shared<ScriptedMailbox>();
        box->messages = {message(1), big, message(3)};
        box->uidls = {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
        QuietHost host;
        rlimit before{};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const rlimit limited{kLimit, before.rlim_max};
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        home.check(box, host);
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(box->deleted, std::set<int>{1}) << filter;
        ASSERT_EQ(host.messages.size(), 1) << filter << host.messages.join(u'|').toStdString();
        EXPECT_TRUE(host.messages[0].contains(QStringLiteral("このメールと、これより後のメールはサーバーに残しました")));

        // The next check, with room on the disk, against what the server kept.
        auto kept = std::make_shared<ScriptedMailbox>();
        kept->messages = {big, message(3)};
        kept->uidls = {QStringLiteral("b"), QStringLiteral("c")};
        QuietHost again;
        home.check(kept, again);
        EXPECT_TRUE(again.messages.isEmpty()) << filter << again.messages.join(u'|').toStdString();
        EXPECT_EQ(kept->deleted, (std::set<int>{1, 2})) << filter;
        QStringList subjects;
        for (const HistoryRecord& record : home.records()) subjects << record.Subject.trimmed();
        subjects.sort();
        EXPECT_EQ(subjects, (QStringList{QStringLiteral("long"), QStringLiteral("msg 1"), QStringLiteral("msg 3")})) << filter;
        const QList<QByteArray> files = maildirFiles(ReceivedMaildirPath(home.program.paths));
        EXPECT_EQ(files.size(), 3) << filter;
        for (const QByteArray& source : {message(1), big, message(3)})
            EXPECT_EQ(files.count(MaildirLocalForm(source)), 1) << filter;
    }
}

// The attachment folder is where a work file "0.txt" used to be written;
// the user (or someone else) may have put one there, or a link. A check
// writes no work file, leaves what is there alone, and nothing of its own.
TEST(ReceiveWorkFile, WhatIsAtItsNameIsLeftAloneAndNothingOfOursStays) {
    enum class Planted { Nothing, UsersFile, LinkToAnotherFile };
    struct Case {
        const char* name;
        Planted planted;
    };
    const Case cases[] = {
        {"nothing there", Planted::Nothing},
        {"the user's own 0.txt", Planted::UsersFile},
        {"a link to a file elsewhere", Planted::LinkToAnotherFile},
    };
    for (const Case& c : cases) {
        auto box = std::make_shared<ScriptedMailbox>();
        box->messages = {QByteArray("Subject: msg 1\r\n\r\nsender's body\r\n")};
        SetMailTransport(std::make_unique<ScriptedTransport>(box));
        ProgramFolder home;
        test::TempFolder& folder = home.folder;
        Program& program = home.program;
        folder.write(QStringLiteral("victim"), "untouched");
        const QString workName = folder.path(QStringLiteral("添付フォルダ/0.txt"));
        if (c.planted == Planted::UsersFile) folder.write(QStringLiteral("添付フォルダ/0.txt"), "mine");
        if (c.planted == Planted::LinkToAnotherFile) {
            ASSERT_TRUE(QFile::link(folder.path(QStringLiteral("victim")), workName));
        }

        QuietHost host;
        const MailCheckResult result = ReceiveMail(program, host, PasswordCredentials(program));
        SetMailTransport(nullptr);

        EXPECT_EQ(result.MailCount, 1) << c.name << ": " << host.messages.join(u'|').toStdString();
        EXPECT_EQ(folder.read(QStringLiteral("victim")), "untouched") << c.name;
        const QStringList left = QDir(folder.path(QStringLiteral("添付フォルダ")))
                                     .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System | QDir::Hidden);
        if (c.planted == Planted::Nothing) {
            EXPECT_EQ(left, QStringList{}) << c.name << ": the work file is removed";
        } else {
            EXPECT_EQ(left, QStringList{QStringLiteral("0.txt")}) << c.name << ": only what was there before";
            EXPECT_EQ(QFileInfo(workName).isSymLink(), c.planted == Planted::LinkToAnotherFile) << c.name;
            if (c.planted == Planted::UsersFile) {
                EXPECT_EQ(folder.read(QStringLiteral("添付フォルダ/0.txt")), "mine") << c.name;
            }
        }
    }
}

// A message whose attachment cannot be written is not stored: its record
// would claim the file was saved, and the server's copy would be gone. The
// check stops there, and once the folder is fixed the next one stores the
// rest, each message once.
TEST(ReceiveAttachments, AFolderThatCannotTakeTheAttachmentLeavesTheMessageOnTheServer) {
    enum class Blocked { FileInTheWay, DanglingLink, LinkToAFile };
    struct Case {
        const char* name;
        Blocked blocked;
    };
    // Each fails for root too: no permission bits are involved.
    const Case cases[] = {
        {"a file where the attachment folder should be", Blocked::FileInTheWay},
        {"a link to nowhere where the attachment folder should be", Blocked::DanglingLink},
        {"a link to a file where the attachment folder should be", Blocked::LinkToAFile},
    };
    const QString attachmentName = QStringLiteral("見積書.pdf");
    const QByteArray withAttachment =
        "Subject: msg 2\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nbody 2\r\n"
        "--b\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename*=UTF-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8.pdf\r\n\r\n"
        "JVBERi0xLjQK\r\n--b--\r\n";
    const QList<QByteArray> sources = {message(1), withAttachment, message(3)};

    for (const Case& c : cases) {
        ProgramFolder home;
        test::TempFolder& folder = home.folder;
        Program& program = home.program;
        const QString attachments = folder.path(QStringLiteral("添付フォルダ"));
        ASSERT_TRUE(QDir(attachments).removeRecursively());
        folder.write(QStringLiteral("a file"), "not a folder");
        if (c.blocked == Blocked::FileInTheWay) folder.write(QStringLiteral("添付フォルダ"), "not a folder");
        if (c.blocked == Blocked::DanglingLink) {
            ASSERT_TRUE(QFile::link(folder.path(QStringLiteral("nowhere")), attachments));
        }
        if (c.blocked == Blocked::LinkToAFile) {
            ASSERT_TRUE(QFile::link(folder.path(QStringLiteral("a file")), attachments));
        }
        const QString history = HistoryPath(program.paths, History::Received);
        const QString maildir = ReceivedMaildirPath(program.paths);

        auto box = std::make_shared<ScriptedMailbox>();
        box->messages = {sources[0], sources[1], sources[2]};
        box->uidls = kUidls;
        SetMailTransport(std::make_unique<ScriptedTransport>(box));
        QuietHost host;
        const MailCheckResult result = ReceiveMail(program, host, PasswordCredentials(program));
        SetMailTransport(nullptr);

        EXPECT_EQ(host.titles, QStringList{QStringLiteral("エラー")}) << c.name;
        ASSERT_EQ(host.messages.size(), 1) << c.name;
        EXPECT_TRUE(host.messages[0].contains(attachmentName)) << c.name << ": " << host.messages[0].toStdString();
        EXPECT_EQ(result.MailCount, 1) << c.name;
        QStringList subjects;
        for (const HistoryRecord& record : ReadAll(history)) subjects << record.Subject;
        EXPECT_EQ(subjects, QStringList{QStringLiteral("msg 1")}) << c.name;
        EXPECT_EQ(box->deleted, std::set<int>{1}) << c.name;
        EXPECT_EQ(box->log.filter(QStringLiteral("retr 3")), QStringList{}) << c.name << ": the check stops there";
        const auto noted = ReadStoredUidls(StoredUidlsPath(program.paths), history, program.today());
        ASSERT_TRUE(noted) << c.name;
        EXPECT_EQ(uidlsOf(noted.value()), QSet<QString>{QStringLiteral("u1")}) << c.name;

        // The user fixes the folder; the server still holds 2 and 3.
        ASSERT_TRUE(QFile::remove(attachments)) << c.name;
        ASSERT_TRUE(QDir().mkdir(attachments)) << c.name;
        auto again = std::make_shared<ScriptedMailbox>();
        again->messages = {sources[1], sources[2]};
        again->uidls = {kUidls[1], kUidls[2]};
        SetMailTransport(std::make_unique<ScriptedTransport>(again));
        QuietHost secondHost;
        const MailCheckResult second = ReceiveMail(program, secondHost, PasswordCredentials(program));
        SetMailTransport(nullptr);

        EXPECT_EQ(secondHost.messages, QStringList{}) << c.name;
        EXPECT_EQ(second.MailCount, 2) << c.name;
        EXPECT_EQ(again->deleted, (std::set<int>{1, 2})) << c.name;
        subjects.clear();
        for (const HistoryRecord& record : ReadAll(history)) subjects << record.Subject;
        EXPECT_EQ(subjects, kAll) << c.name << ": each message stored once";
        const QList<QByteArray> kept = maildirFiles(maildir);
        EXPECT_EQ(kept.size(), 3) << c.name;
        for (const QByteArray& source : sources) EXPECT_EQ(kept.count(MaildirLocalForm(source)), 1) << c.name;
        EXPECT_EQ(QDir(attachments).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{attachmentName})
            << c.name;
        EXPECT_EQ(folder.read(QStringLiteral("添付フォルダ/") + attachmentName), "%PDF-1.4\n") << c.name;
    }
}


std::shared_ptr<ScriptedMailbox> mailbox(std::vector<QByteArray> messages) {
    auto box = std::make_shared<ScriptedMailbox>();
    box->messages = std::move(messages);
    return box;
}

// A message over the size limit is not fetched: it stays on the server, the
// box names it, and the others are received. Nothing of it is held in
// memory: the scripted server only claims the size.
TEST(ReceiveLimit, AMessageOverTheLimitStaysOnTheServerAndTheOthersAreReceived) {
    struct Case {
        const char* name;
        bool offersTop;
        QStringList shown;  // what the box must say besides the size
    };
    const Case cases[] = {
        {"with TOP: subject and sender", true, {QStringLiteral("件名: msg 2"), QStringLiteral("差出人: big@example.jp")}},
        {"without TOP: number and size only", false, {}},
    };
    for (const Case& c : cases) {
        ProgramFolder setup;
        auto box = mailbox({message(1), "From: big@example.jp\r\n" + message(2), message(3)});
        box->listedSizes = {{2, 300LL * 1024 * 1024}};
        box->offersTop = c.offersTop;
        QuietHost host;
        const MailCheckResult result = setup.check(box, host);

        EXPECT_EQ(result.MailCount, 2) << c.name;
        EXPECT_EQ(box->deleted, (std::set<int>{1, 3})) << c.name;
        EXPECT_EQ(box->log.filter(QStringLiteral("retr 2")), QStringList{}) << c.name << ": never fetched";
        QStringList subjects;
        for (const HistoryRecord& record : setup.records()) subjects << record.Subject;
        EXPECT_EQ(subjects, (QStringList{QStringLiteral("msg 1"), QStringLiteral("msg 3")})) << c.name;
        ASSERT_EQ(host.titles, QStringList{QStringLiteral("エラー")}) << c.name;
        const QString& text = host.messages[0];
        for (const QString& part : QStringList{QStringLiteral("メッセージ 2 "), QStringLiteral("300.0 MB"),
                                               QStringLiteral("サーバーに残しました")} +
                                       c.shown)
            EXPECT_TRUE(text.contains(part)) << c.name << ": " << part.toStdString() << " in " << text.toStdString();
        EXPECT_EQ(text.contains(QStringLiteral("件名")), c.offersTop) << c.name;
    }
}

// The user's setup: the received history cannot be written (a folder where
// the file should be). The check saves the attachment, fails to store the
// record and leaves the message on the server; once repaired, the next
// check stores it, and the attachment is in the folder once.
TEST(ReceiveAttachments, AnAttachmentSavedBeforeAFailedRecordIsNotSavedAgain) {
    ProgramFolder setup;
    const QByteArray withAttachment =
        "Subject: with file\r\nMIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
        "--b\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nsee the file\r\n"
        "--b\r\nContent-Type: text/plain; name=\"memo.txt\"\r\nContent-Disposition: attachment; filename=\"memo.txt\"\r\n\r\n"
        "memo\r\n--b--\r\n";
    const QString history = HistoryPath(setup.program.paths, History::Received);
    ASSERT_TRUE(QDir().mkpath(history));

    auto first = mailbox({withAttachment});
    first->uidls = {QStringLiteral("u1")};
    QuietHost failed;
    setup.check(first, failed);
    EXPECT_EQ(failed.titles.count(QStringLiteral("エラー")), failed.titles.size());
    EXPECT_FALSE(failed.messages.isEmpty());
    EXPECT_EQ(first->deleted, std::set<int>{});
    EXPECT_EQ(setup.attachments(), QStringList{QStringLiteral("memo.txt")});

    ASSERT_TRUE(QDir(history).removeRecursively());
    auto second = mailbox({withAttachment});
    second->uidls = {QStringLiteral("u1")};
    QuietHost repaired;
    const MailCheckResult result = setup.check(second, repaired);
    EXPECT_EQ(repaired.messages, QStringList{});
    EXPECT_EQ(result.MailCount, 1);
    EXPECT_EQ(second->deleted, std::set<int>{1});
    EXPECT_EQ(setup.attachments(), QStringList{QStringLiteral("memo.txt")});
    EXPECT_EQ(setup.folder.read(QStringLiteral("添付フォルダ/memo.txt")), "memo");
}

// ---------------------------------------------------------------------------
// Split messages

// The message the sender's program split in two: text with a character
// tag, and an attachment.
const QByteArray kWholeMessage =
    "Subject: =?UTF-8?B?5YiG5Ymy44OG44K544OI?=\r\n"  // 分割テスト
    "Message-ID: <inner@example.jp>\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
    "\r\n"
    "--b1\r\n"
    "Content-Type: text/plain; charset=UTF-8\r\n"
    "Content-Transfer-Encoding: 8bit\r\n"
    "\r\n"
    "前半の本文です。\r\n"
    "後半の本文です。Lumopet（⑤の選択）\r\n"
    "--b1\r\n"
    "Content-Type: text/plain; name=\"memo.txt\"\r\n"
    "Content-Disposition: attachment; filename=\"memo.txt\"\r\n"
    "\r\n"
    "memo content\r\n"
    "--b1--\r\n";

// The part `number` of `total`, carrying the lines [from, to) of kWholeMessage.
QByteArray splitPart(const QByteArray& id, int number, int total, int from, int to) {
    const QList<QByteArray> lines = kWholeMessage.split('\n');
    QByteArray body;
    for (int i = from; i < std::min<int>(to, lines.size() - 1); ++i) body += lines[i] + '\n';
    return "From: sender@example.jp\r\n"
           "Subject: split " + QByteArray::number(number) + "\r\n"
           "Message-ID: <part" + QByteArray::number(number) + "@example.jp>\r\n"
           "MIME-Version: 1.0\r\n"
           "Content-Type: message/partial; id=\"" + id + "\"; number=" + QByteArray::number(number) +
           (total > 0 ? "; total=" + QByteArray::number(total) : QByteArray()) + "\r\n\r\n" + body;
}

const QByteArray kId = "split-1@example.jp";
const QByteArray kPart1 = splitPart(kId, 1, 0, 0, 11);
const QByteArray kPart2 = splitPart(kId, 2, 2, 11, 100);

// The subjects of the history's records; a waiting part's is marked "…".
QStringList storedAs(const std::vector<HistoryRecord>& records) {
    QStringList list;
    for (const HistoryRecord& record : records)
        list << (record.Body.startsWith(QStringLiteral("分割されたメールが全て揃っていません")) ? record.Subject + u'…'
                                                                                   : record.Subject);
    return list;
}

TEST(ReceiveSplit, ThePartsAreKeptUntilAllAreHereAndThenReceivedAsOneMessage) {
    struct Case {
        const char* name;
        std::vector<std::vector<QByteArray>> checks;  // the server's messages at each check
        QStringList stored;                           // storedAs() after the last check
    };
    const QString whole = QStringLiteral("分割テスト");
    const Case cases[] = {
        // The first part shows the subject of the message it starts; the others
        // their own.
        {"both parts in one check", {{kPart1, kPart2}}, {whole + u'…', whole}},
        {"the last part first", {{kPart2, kPart1}}, {QStringLiteral("split 2…"), whole}},
        {"one part in each of two checks", {{kPart1}, {kPart2}}, {whole + u'…', whole}},
        {"a part twice before the last", {{kPart1}, {kPart1, kPart2}}, {whole + u'…', whole + u'…', whole}},
        {"an empty check between", {{kPart1}, {}, {kPart2}}, {whole + u'…', whole}},
    };
    for (const Case& c : cases) {
        ProgramFolder setup;
        MailCheckResult result;
        QStringList boxes;
        for (const auto& messages : c.checks) {
            auto box = mailbox(messages);
            QuietHost host;
            result = setup.check(box, host);
            boxes += host.messages;
            std::set<int> all;
            for (int n = 1; n <= static_cast<int>(messages.size()); ++n) all.insert(n);
            EXPECT_EQ(box->deleted, all) << c.name << ": each part is stored, so it goes from the server";
        }
        const auto records = setup.records();
        EXPECT_EQ(storedAs(records), c.stored) << c.name;
        EXPECT_EQ(boxes.count(QStringLiteral("分割されたメールが全て揃っていません")), boxes.size()) << c.name;
        EXPECT_FALSE(boxes.isEmpty()) << c.name;
        ASSERT_FALSE(records.empty()) << c.name;
        const HistoryRecord& joined = records.back();
        EXPECT_EQ(joined.Column2, QStringLiteral("sender@example.jp")) << c.name << ": the sender of part 1";
        EXPECT_TRUE(joined.Body.contains(QStringLiteral("前半の本文です。"))) << c.name;
        EXPECT_TRUE(joined.Body.contains(QStringLiteral("後半の本文です。"))) << c.name;
        EXPECT_EQ(result.MoodTag, 5) << c.name;
        EXPECT_EQ(setup.attachments(), QStringList{QStringLiteral("memo.txt")}) << c.name;
        EXPECT_EQ(setup.folder.read(QStringLiteral("添付フォルダ/memo.txt")), "memo content") << c.name;
        // The Maildir holds the whole, once; the parts are gone once it is
        // stored.
        const QList<QByteArray> kept = maildirFiles(ReceivedMaildirPath(setup.program.paths));
        ASSERT_EQ(kept.size(), 1) << c.name;
        EXPECT_TRUE(kept[0].startsWith("From: sender@example.jp\n")) << c.name << kept[0].toStdString();
        EXPECT_TRUE(kept[0].contains("Message-ID: <inner@example.jp>\n")) << c.name;
        EXPECT_TRUE(kept[0].endsWith(MaildirLocalForm(kWholeMessage.sliced(kWholeMessage.indexOf("\r\n\r\n")))))
            << c.name;
        EXPECT_EQ(QDir(PartialMessagesPath(setup.program.paths)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList{})
            << c.name;
    }
}

// A part still waiting names no character: the message before it picks the
// one that walks, with the junk filter on as off.
TEST(ReceiveSplit, AWaitingPartLeavesTheCharacterToTheMessageBefore) {
    const QByteArray tagged = "Subject: tagged\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n"
                              "本文です。Lumopet（③の選択）\r\n";
    for (const bool filter : {false, true}) {
        ProgramFolder setup;
        setup.program.receive.JunkFilter = filter;
        QuietHost host;
        const MailCheckResult result = setup.check(mailbox({tagged, kPart1}), host);
        EXPECT_EQ(result.MailCount, 2) << filter;
        EXPECT_EQ(result.MoodTag, 3) << filter;
    }
}

// The id and numbers are the sender's: none of them may make us write
// outside the parts' folder, hold a part we cannot place, or drop a mail.
TEST(ReceiveSplit, HostileIdsAndNumbersAreHandledSafely) {
    struct Case {
        const char* name;
        QByteArray source;
        bool held;  // kept as a waiting part; else stored as a message of its own
    };
    const Case cases[] = {
        {"an id that is a path", splitPart("../../../escape", 1, 2, 0, 11), true},
        {"an id with a slash and NUL-like bytes", splitPart("a/b\\\\c%00/..", 1, 2, 0, 11), true},
        {"a very long id", splitPart(QByteArray(5000, 'x'), 1, 2, 0, 11), true},
        {"a total over the limit", splitPart(kId, 1, 5000, 0, 11), false},
        {"a number past the total", splitPart(kId, 3, 2, 0, 11), false},
        {"a number too large for any integer", splitPart(kId, 1, 2, 0, 11).replace("number=1", "number=99999999999999"),
         false},
        {"number zero", splitPart(kId, 1, 2, 0, 11).replace("number=1", "number=0"), false},
        {"no id", splitPart(kId, 1, 2, 0, 11).replace("id=\"split-1@example.jp\"; ", ""), false},
    };
    for (const Case& c : cases) {
        ProgramFolder setup;
        auto box = mailbox({c.source, message(2)});
        QuietHost host;
        const MailCheckResult result = setup.check(box, host);
        EXPECT_EQ(result.MailCount, 2) << c.name;
        EXPECT_EQ(box->deleted, (std::set<int>{1, 2})) << c.name;
        const QString root = PartialMessagesPath(setup.program.paths);
        const QStringList folders = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        EXPECT_EQ(folders.size(), c.held ? 1 : 0) << c.name;
        if (c.held) {
            EXPECT_EQ(QDir(root + u'/' + folders[0]).entryList(QDir::Files), (QStringList{QStringLiteral("1"), QStringLiteral("total")}))
                << c.name;
            EXPECT_EQ(setup.folder.read(QStringLiteral("★MailData/partial/") + folders[0] + QStringLiteral("/1")), c.source)
                << c.name;
        }
        // Nothing anywhere but where the program keeps its files.
        EXPECT_EQ(QDir(setup.folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  (QStringList{QStringLiteral("★MailData"), QStringLiteral("添付フォルダ")}))
            << c.name;
        EXPECT_EQ(maildirFiles(ReceivedMaildirPath(setup.program.paths)).size(), c.held ? 1 : 2) << c.name;
    }
}

// A place for the parts that cannot be used stops the check before the
// part could be lost.
TEST(ReceiveSplit, APartThatCannotBeKeptStaysOnTheServer) {
    ProgramFolder setup;
    setup.folder.write(QStringLiteral("★MailData/partial"), "not a folder");
    auto box = mailbox({message(1), kPart1, message(3)});
    QuietHost host;
    const MailCheckResult result = setup.check(box, host);
    EXPECT_EQ(result.MailCount, 1);
    EXPECT_EQ(box->deleted, std::set<int>{1});
    EXPECT_EQ(host.titles, QStringList{QStringLiteral("エラー")});
    EXPECT_EQ(box->log.filter(QStringLiteral("retr 3")), QStringList{});
}


// ---------------------------------------------------------------------------
// Deletions the server refuses at the end of the check

// The server keeps some messages although the check asked it to delete
// them (a locked message, a mailbox the account may only read). The user
// is told, in one box at the end, which ones stay; the next check sees
// them again and, knowing their UIDLs, stores none of them twice.
TEST(ReceiveDeletion, ARefusedDeleteIsToldAndTheNextCheckStoresNothingTwice) {
    struct Case {
        const char* name;
        std::vector<QString> uidls;  // empty: the server has no UIDL command
        std::set<int> refused;
        QStringList named;            // the subjects the box lists
        QStringList storedAfterNext;  // the history after the next check
    };
    const QStringList firstThree{QStringLiteral("msg 1"), QStringLiteral("msg 2"), QStringLiteral("msg 3")};
    const Case cases[] = {
        {"the second of three", {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, {2},
         {QStringLiteral("msg 2")}, firstThree},
        {"all three", {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")}, {1, 2, 3}, firstThree,
         firstThree},
        // Without UIDLs nothing tells the next check it has the message:
        // the box says so, and the message comes again.
        {"the second, on a server without UIDL", {}, {2}, {QStringLiteral("msg 2")},
         firstThree + QStringList{QStringLiteral("msg 2")}},
    };
    for (const Case& c : cases) {
        ProgramFolder setup;
        auto box = mailbox({message(1), message(2), message(3)});
        box->uidls = c.uidls;
        box->refusedDeletes = c.refused;
        QuietHost host;
        const MailCheckResult result = setup.check(box, host);
        EXPECT_EQ(result.MailCount, 3) << c.name;

        ASSERT_EQ(host.messages.size(), 1) << c.name << ": " << host.messages.join(u'\n').toStdString();
        const QString& text = host.messages[0];
        EXPECT_TRUE(text.startsWith(QStringLiteral("次のメールはサーバーから削除できませんでした。サーバーに残っています：")))
            << c.name << ": " << text.toStdString();
        for (const QString& subject : firstThree)
            EXPECT_EQ(text.contains(QStringLiteral("・") + subject), c.named.contains(subject)) << c.name << ": " << text.toStdString();
        EXPECT_TRUE(text.contains(box->deleteRefusal)) << c.name;
        EXPECT_EQ(text.contains(QStringLiteral("保存し直さず")), !c.uidls.empty()) << c.name << ": " << text.toStdString();

        // The next check: the server holds what it kept, under the same
        // UIDLs, renumbered from 1.
        auto next = std::make_shared<ScriptedMailbox>();
        for (const int n : c.refused) {
            next->messages.push_back(message(n));
            if (!c.uidls.empty()) next->uidls.push_back(c.uidls[static_cast<size_t>(n - 1)]);
        }
        QuietHost again;
        setup.check(next, again);
        EXPECT_EQ(again.messages, QStringList{}) << c.name;
        QStringList subjects;
        for (const HistoryRecord& record : setup.records()) subjects << record.Subject;
        EXPECT_EQ(subjects, c.storedAfterNext) << c.name;
        EXPECT_EQ(next->deleted.size(), c.refused.size()) << c.name << ": deleted now";
    }
}

// ---------------------------------------------------------------------------
// A real server on loopback that stops answering in the middle of a check

// Logs anyone in and holds one message; after the command named quietAfter
// it says nothing more, or, trickling, "+OK" and then trickle bytes every
// 200 ms for ever.
class TricklingPop3Server {
public:
    TricklingPop3Server(QByteArray quietAfter, int trickle)
        : quietAfter_(std::move(quietAfter)), trickle_(trickle) {
        thread_ = std::thread([this] {
            for (;;) {
                const int client = ::accept(listener_.fd(), nullptr, nullptr);
                if (client < 0) return;
                talk(client);
                ::close(client);
            }
        });
    }
    ~TricklingPop3Server() {
        stop_ = true;
        ::shutdown(listener_.fd(), SHUT_RDWR);
        thread_.join();
    }
    QString hostAndPort() const { return listener_.hostAndPort(); }

private:
    static bool say(int fd, const QByteArray& text) { return ::send(fd, text.constData(), text.size(), MSG_NOSIGNAL) >= 0; }

    void talk(int client) {
        say(client, "+OK ready\r\n");
        QByteArray line;
        char c;
        while (!stop_) {
            pollfd waiting{client, POLLIN, 0};
            if (::poll(&waiting, 1, 100) <= 0) continue;
            if (::recv(client, &c, 1, 0) != 1) return;
            if (c != '\n') {
                line += c;
                continue;
            }
            const QByteArray command = line.trimmed().split(' ').front();
            line.clear();
            if (command == quietAfter_) {
                if (trickle_ > 0) say(client, "+OK\r\n");
                while (!stop_ && (trickle_ == 0 || say(client, QByteArray(trickle_, 'x'))))
                    std::this_thread::sleep_for(std::chrono::milliseconds(200));
                return;
            }
            if (command == "CAPA") say(client, "+OK\r\nUSER\r\nUIDL\r\n.\r\n");
            else if (command == "LIST") say(client, "+OK\r\n1 40\r\n.\r\n");
            else if (command == "UIDL") say(client, "+OK\r\n1 t1\r\n.\r\n");
            else if (command == "RETR") say(client, "+OK\r\nSubject: slow\r\n\r\nbody\r\n.\r\n");
            else say(client, "+OK\r\n");
            if (command == "QUIT") return;
        }
    }

    test::SilentServer listener_;
    const QByteArray quietAfter_;
    const int trickle_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// However the check meets the silence, the user reads one box that names
// the server and says it stopped answering in time.
TEST(ReceiveTimeOut, AServerThatStopsAnsweringIsNamedWithTheTimeOut) {
    struct Case {
        const char* name;
        QByteArray quietAfter;
        int trickle;
        QString detail;
        int stored;
    };
    const Case cases[] = {
        {"trickling after RETR", "RETR", 5, QStringLiteral("バイトしか届きませんでした"), 0},
        {"silent after RETR", "RETR", 0, QStringLiteral("何も届きませんでした"), 0},
        {"silent after UIDL", "UIDL", 0, QStringLiteral("何も届きませんでした"), 0},
        // The message is stored; its deletion never takes effect.
        {"silent after DELE", "DELE", 0, QStringLiteral("何も届きませんでした"), 1},
    };
    for (const Case& c : cases) {
        TricklingPop3Server server(c.quietAfter, c.trickle);
        ProgramFolder setup;
        setup.program.values.Pop3Server = server.hostAndPort();
        SetMailTransport(mail::MakeCurlTransport({10, 1}));
        QuietHost host;
        QElapsedTimer clock;
        clock.start();
        const MailCheckResult result = ReceiveMail(setup.program, host, PasswordCredentials(setup.program));
        SetMailTransport(nullptr);

        EXPECT_LT(clock.elapsed(), 12000) << c.name;
        EXPECT_EQ(result.MailCount, c.stored) << c.name;
        ASSERT_EQ(host.messages.size(), 1) << c.name << ": " << host.messages.join(u'\n').toStdString();
        const QString& text = host.messages[0];
        for (const QString& part : {QStringLiteral("サーバー %1 から応答がありません（時間切れ）。").arg(server.hostAndPort()),
                                    QStringLiteral("1 秒のあいだ"), c.detail})
            EXPECT_TRUE(text.contains(part)) << c.name << ": " << part.toStdString() << " in " << text.toStdString();
        EXPECT_EQ(text.contains(QStringLiteral("・slow")), c.stored == 1) << c.name << ": " << text.toStdString();
    }
}

// ---------------------------------------------------------------------------
// Mail left on the server, where the real server cannot make the case

// The UIDLs a server gives decide whether a message can be left there.
TEST(ReceiveLeftOnServer, WhatCannotBeLeftSafelyIsDeletedOrNotReceived) {
    struct Case {
        const char* name;
        std::vector<QString> uidls;  // empty: no UIDL command
        bool uidlFileIsAFolder;
        std::set<int> deleted;
        int mailCount;
        QStringList told;  // what the one box must say; empty: no box
    };
    const Case cases[] = {
        {"a server without UIDL: said, and deleted as before", {}, false, {1, 2, 3}, 3,
         {QStringLiteral("UIDL"), QStringLiteral("サーバーに残すことができません"), QStringLiteral("Unknown command")}},
        // A UIDL nobody could note cannot keep its message from coming again.
        {"a UIDL that cannot be noted: that one is deleted",
         {QStringLiteral("u1"), QStringLiteral("with blank"), QString(71, u'x')}, false, {2, 3}, 3, {}},
        {"a UIDL file that cannot be used: nothing received, nothing deleted", kUidls, true, {}, -1,
         {QStringLiteral("受信済みメールの一覧"), QStringLiteral("今回は受信せず、メールはすべてサーバーに残しました")}},
    };
    for (const Case& c : cases) {
        ProgramFolder home;
        home.program.receive.LeaveOnServer = true;
        if (c.uidlFileIsAFolder) ASSERT_TRUE(QDir().mkpath(StoredUidlsPath(home.program.paths))) << c.name;
        auto box = mailbox({message(1), message(2), message(3)});
        box->uidls = c.uidls;
        QuietHost host;
        const MailCheckResult result = home.check(box, host);

        EXPECT_EQ(result.MailCount, c.mailCount) << c.name;
        EXPECT_EQ(box->deleted, c.deleted) << c.name;
        EXPECT_EQ(home.records().size(), static_cast<size_t>(std::max(c.mailCount, 0))) << c.name;
        if (c.mailCount < 0) {
            EXPECT_EQ(box->log.filter(QStringLiteral("retr")), QStringList{}) << c.name << ": nothing fetched";
        }
        ASSERT_EQ(host.messages.size(), c.told.isEmpty() ? 0 : 1) << c.name << ": " << host.messages.join(u'|').toStdString();
        for (const QString& part : c.told)
            EXPECT_TRUE(host.messages[0].contains(part)) << c.name << ": " << part.toStdString() << " in "
                                                         << host.messages[0].toStdString();

        // The same run checks again: the refusal is not said twice, and
        // the check does as the first did.
        auto again = mailbox({message(4)});
        again->uidls = c.uidls.empty() ? std::vector<QString>{} : std::vector<QString>{QStringLiteral("u4")};
        QuietHost second;
        home.check(again, second);
        if (c.uidls.empty()) {
            EXPECT_EQ(second.messages, QStringList{}) << c.name;
            EXPECT_EQ(again->deleted, std::set<int>{1}) << c.name;
        }
    }
}

// A message left on the server whose record is stored and whose source
// never reached the Maildir (the check that stored it died first): fetched
// for the Maildir only, and still left there; with its source there
// already, not fetched at all.
TEST(ReceiveLeftOnServer, AStoredMessageLeftThereGetsItsSourceIntoTheMaildirOnce) {
    for (const bool inMaildir : {false, true}) {
        const std::string name = inMaildir ? "source in the Maildir" : "source missing";
        ProgramFolder home;
        home.program.receive.LeaveOnServer = true;
        const QString history = HistoryPath(home.program.paths, History::Received);
        ASSERT_TRUE(AppendRecord(history, HistoryRecord{QStringLiteral("msg 1"), {}, {}, QStringLiteral("body 1")},
                                 History::Received));
        ASSERT_TRUE(WriteStoredUidls(StoredUidlsPath(home.program.paths),
                                     {{QStringLiteral("u1"), StoredUidl{QDate(2026, 1, 1), {}, false}}}));
        const QString maildir = ReceivedMaildirPath(home.program.paths);
        if (inMaildir) ASSERT_TRUE(DeliverToMaildir(maildir, message(1), QStringLiteral("u1")));
        auto box = mailbox({message(1), message(2)});
        box->uidls = {QStringLiteral("u1"), QStringLiteral("u2")};
        QuietHost host;
        const MailCheckResult result = home.check(box, host);

        EXPECT_EQ(host.messages, QStringList{}) << name;
        EXPECT_EQ(result.MailCount, 1) << name;
        EXPECT_EQ(box->log.filter(QStringLiteral("retr 1")).size(), inMaildir ? 0 : 1) << name;
        EXPECT_EQ(box->deleted, std::set<int>{}) << name;
        QStringList subjects;
        for (const HistoryRecord& record : home.records()) subjects << record.Subject;
        EXPECT_EQ(subjects, (QStringList{QStringLiteral("msg 1"), QStringLiteral("msg 2")})) << name;
        const QList<QByteArray> kept = maildirFiles(maildir);
        EXPECT_EQ(kept.size(), 2) << name;
        for (int n = 1; n <= 2; ++n) EXPECT_EQ(kept.count(MaildirLocalForm(message(n))), 1) << name << ": msg " << n;
    }
}

// The sender and subject of the first few messages stored, for a
// notification: without their blanks, and never more than it shows.
TEST(ReceiveNewMailLines, TheFirstMessagesStoredAreNamed) {
    struct Case {
        const char* name;
        int messages;
        size_t named;
    };
    const Case cases[] = {{"none", 0, 0}, {"two", 2, 2}, {"more than are shown", 5, 3}};
    for (const Case& c : cases) {
        ProgramFolder home;
        std::vector<QByteArray> sources;
        for (int n = 1; n <= c.messages; ++n)
            sources.push_back(QStringLiteral("From:  sender%1@example.jp \r\nSubject:  件名 %1 \r\n\r\nbody\r\n").arg(n).toUtf8());
        auto box = mailbox(sources);
        QuietHost host;
        const MailCheckResult result = home.check(box, host);
        ASSERT_EQ(result.FirstNewMail.size(), c.named) << c.name;
        for (size_t i = 0; i < c.named; ++i) {
            EXPECT_EQ(result.FirstNewMail[i].From, QStringLiteral("sender%1@example.jp").arg(i + 1)) << c.name;
            EXPECT_EQ(result.FirstNewMail[i].Subject, QStringLiteral("件名 %1").arg(i + 1)) << c.name;
        }
    }
}

}  // namespace
}  // namespace lumopet
