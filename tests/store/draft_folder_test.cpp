// The drafts folder: a draft replaced stays one file, and a folder someone
// prepared (links, FIFOs, huge or damaged files, folders) is read without
// following, waiting or crashing, each odd entry named in a line.

#include "mail/draft_message.h"
#include "store/draft_folder.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace lumopet {
namespace {

QStringList filesIn(const QString& folder) { return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System); }

ComposeDraft typed(const QString& body) {
    ComposeDraft draft;
    draft.to = QStringLiteral("a@example.com");
    draft.body = body;
    return draft;
}

// A name as a draft of id would have it.
QString draftName(const QString& id) { return QStringLiteral("1700000000.1_1.host,U=") + QString::fromLatin1(id.toUtf8().toHex()); }

// Reads the folder on a thread of its own: a read that waits on a FIFO fails
// the test instead of hanging it.
Result<DraftListing> readWithin(const QString& maildir, std::chrono::seconds limit) {
    auto promise = std::make_shared<std::promise<Result<DraftListing>>>();
    auto future = promise->get_future();
    std::thread([promise, maildir] { promise->set_value(ReadDrafts(maildir)); }).detach();
    if (future.wait_for(limit) != std::future_status::ready) return Failure{QStringLiteral("the listing waited")};
    return future.get();
}

TEST(DraftFolder, ReplacingADraftKeepsOneFile) {
    test::TempFolder folder;
    const QString maildir = folder.path(QStringLiteral("Maildir.drafts"));
    const QString id = NewDraftId();
    const QString other = NewDraftId();
    ASSERT_NE(id, other);
    ASSERT_TRUE(SaveDraft(maildir, other, typed(QStringLiteral("別の窓"))));
    for (const QString& body : {QStringLiteral("一"), QStringLiteral("一二"), QStringLiteral("一二三")})
        ASSERT_TRUE(SaveDraft(maildir, id, typed(body)));
    EXPECT_EQ(filesIn(maildir + QStringLiteral("/new")).size(), 2);
    EXPECT_EQ(filesIn(maildir + QStringLiteral("/tmp")), QStringList{});
    const auto listing = ReadDrafts(maildir);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing.value().drafts.size(), 2u);
    EXPECT_EQ(listing.value().skipped, QStringList{});
    // Newest first.
    EXPECT_EQ(listing.value().drafts[0].id, id);
    EXPECT_EQ(listing.value().drafts[0].draft.body, QStringLiteral("一二三"));
    EXPECT_EQ(listing.value().drafts[1].draft.body, QStringLiteral("別の窓"));

    ASSERT_TRUE(RemoveDraftFile(maildir, id));
    const auto after = ReadDrafts(maildir);
    ASSERT_TRUE(after);
    ASSERT_EQ(after.value().drafts.size(), 1u);
    EXPECT_EQ(after.value().drafts[0].id, other);
}

// A save cut short between delivering the new copy and removing the old
// one leaves two: the newer is the draft, the next save leaves one.
TEST(DraftFolder, TwoCopiesOfOneDraftReadAsTheNewer) {
    test::TempFolder folder;
    const QString maildir = folder.path(QStringLiteral("Maildir.drafts"));
    const QString id = NewDraftId();
    ASSERT_TRUE(SaveDraft(maildir, id, typed(QStringLiteral("新しい"))));
    const QString older = maildir + QStringLiteral("/cur/") + draftName(id) + QStringLiteral(":2,");
    folder.write(QStringLiteral("Maildir.drafts/cur/") + draftName(id) + QStringLiteral(":2,"), DraftToMessage(typed(QStringLiteral("古い"))));
    const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(older).constData(), past, 0), 0);
    const auto listing = ReadDrafts(maildir);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing.value().drafts.size(), 1u);
    EXPECT_EQ(listing.value().drafts[0].draft.body, QStringLiteral("新しい"));
    ASSERT_TRUE(SaveDraft(maildir, id, typed(QStringLiteral("次"))));
    EXPECT_FALSE(QFile::exists(older));
}

TEST(DraftFolder, HostileEntriesAreSkippedWithALine) {
    test::TempFolder folder;
    const QString maildir = folder.path(QStringLiteral("Maildir.drafts"));
    const QString good = NewDraftId();
    ASSERT_TRUE(SaveDraft(maildir, good, typed(QStringLiteral("本物"))));
    const QString newFolder = maildir + QStringLiteral("/new/");
    const auto at = [&](const char* id) { return QFile::encodeName(newFolder + draftName(QString::fromLatin1(id))); };
    // A draft outside the folder, for the link to point at.
    folder.write(QStringLiteral("elsewhere"), DraftToMessage(typed(QStringLiteral("外"))));

    struct Case {
        const char* name;
        const char* id;
        std::function<bool()> make;
        const char* reason;
    };
    const Case cases[] = {
        {"a link to a draft elsewhere", "link",
         [&] { return ::symlink(QFile::encodeName(folder.path(QStringLiteral("elsewhere"))).constData(), at("link").constData()) == 0; },
         "リンク"},
        {"a FIFO nobody writes to", "fifo", [&] { return ::mkfifo(at("fifo").constData(), 0600) == 0; }, "FIFO"},
        {"a file larger than the cap", "huge",
         [&] {
             QFile file(QFile::decodeName(at("huge")));
             return file.open(QIODevice::WriteOnly) && file.resize(kLargestDraftFile + 1);
         },
         "大きすぎ"},
        {"a folder", "folder", [&] { return ::mkdir(at("folder").constData(), 0700) == 0; }, "フォルダ"},
        {"a damaged file", "damaged",
         [&] {
             QFile file(QFile::decodeName(at("damaged")));
             return file.open(QIODevice::WriteOnly) && file.write("X-Lumopet-Draft: 1\n\n\xff") > 0;
         },
         "壊れています"},
        {"a file not named as a draft", nullptr,
         [&] {
             QFile file(newFolder + QStringLiteral("1700000000.2_2.host"));
             return file.open(QIODevice::WriteOnly) && file.write(DraftToMessage(typed(QStringLiteral("名無し")))) > 0;
         },
         "名前ではありません"},
    };
    for (const Case& c : cases) ASSERT_TRUE(c.make()) << c.name;

    const auto listing = readWithin(maildir, std::chrono::seconds(10));
    ASSERT_TRUE(listing) << listing.error().toStdString();
    ASSERT_EQ(listing.value().drafts.size(), 1u);
    EXPECT_EQ(listing.value().drafts[0].id, good);
    EXPECT_EQ(listing.value().skipped.size(), std::size(cases)) << listing.value().skipped.join(u'\n').toStdString();
    for (const Case& c : cases) {
        const QString name = c.id ? draftName(QString::fromLatin1(c.id)) : QStringLiteral("1700000000.2_2.host");
        const auto line = std::find_if(listing.value().skipped.begin(), listing.value().skipped.end(),
                                       [&](const QString& l) { return l.contains(name); });
        ASSERT_NE(line, listing.value().skipped.end()) << c.name;
        EXPECT_TRUE(line->contains(QString::fromUtf8(c.reason))) << c.name << ": " << line->toStdString();
    }
    // The link was not followed: the file it points at is still there, and
    // what it held is no draft of the listing.
    EXPECT_TRUE(QFile::exists(folder.path(QStringLiteral("elsewhere"))));
}

TEST(DraftFolder, AMissingFolderHoldsNoDraftsAndALinkedOneIsRefused) {
    test::TempFolder folder;
    const auto missing = ReadDrafts(folder.path(QStringLiteral("none")));
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing.value().drafts.empty());
    ASSERT_TRUE(SaveDraft(folder.path(QStringLiteral("real")), NewDraftId(), typed(QStringLiteral("x"))));
    ASSERT_EQ(::symlink(QFile::encodeName(folder.path(QStringLiteral("real"))).constData(),
                        QFile::encodeName(folder.path(QStringLiteral("linked"))).constData()),
              0);
    EXPECT_FALSE(ReadDrafts(folder.path(QStringLiteral("linked"))));
    EXPECT_FALSE(SaveDraft(folder.path(QStringLiteral("linked")), NewDraftId(), typed(QStringLiteral("y"))));
}

}  // namespace
}  // namespace lumopet
