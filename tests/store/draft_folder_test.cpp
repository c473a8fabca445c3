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

using namespace Qt::StringLiterals;

QStringList filesIn(const QString& folder) { return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System); }

ComposeDraft typed(const QString& body) {
    ComposeDraft draft;
    draft.to = u"a@example.com"_s;
    draft.body = body;
    return draft;
}

// A name as a draft of id would have it.
QString draftName(const QString& id) { return u"1700000000.1_1.host,U="_s + QString::fromLatin1(id.toUtf8().toHex()); }

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Reads the folder on a thread of its own: a read that waits on a FIFO fails
// the test instead of hanging it (a future of std::async would wait for it).
Result<DraftListing> readWithin(const QString& maildir, std::chrono::seconds limit) {
    auto promise = std::make_shared<std::promise<Result<DraftListing>>>();
    auto future = promise->get_future();
    std::thread([promise, maildir] { promise->set_value(ReadDrafts(maildir)); }).detach();
    if (future.wait_for(limit) != std::future_status::ready) return Failure{u"the listing waited"_s};
    return future.get();
}

TEST(DraftFolder, ReplacingADraftKeepsOneFile) {
    test::TempFolder folder;
    const QString maildir = folder.path(u"Maildir.drafts"_s);
    const QString id = NewDraftId(), other = NewDraftId();
    ASSERT_NE(id, other);
    ASSERT_TRUE(SaveDraft(maildir, other, typed(u"別の窓"_s)));
    for (const QString& body : {u"一"_s, u"一二"_s, u"一二三"_s}) ASSERT_TRUE(SaveDraft(maildir, id, typed(body)));
    EXPECT_EQ(filesIn(maildir + u"/new"_s).size(), 2);
    EXPECT_EQ(filesIn(maildir + u"/tmp"_s), QStringList{});
    const auto listing = ReadDrafts(maildir);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing.value().drafts.size(), 2u);
    // Newest first.
    EXPECT_EQ(listing.value().drafts[0].id, id);
    EXPECT_EQ(listing.value().drafts[0].draft.body, u"一二三"_s);
    EXPECT_EQ(listing.value().drafts[1].draft.body, u"別の窓"_s);

    ASSERT_TRUE(RemoveDraftFile(maildir, id));
    EXPECT_EQ(filesIn(maildir + u"/new"_s).size(), 1);
    EXPECT_EQ(ReadDrafts(maildir).value().drafts.at(0).id, other);
}

// A save cut short between delivering the new copy and removing the old
// one leaves two: the newer is the draft, the next save leaves one.
TEST(DraftFolder, TwoCopiesOfOneDraftReadAsTheNewer) {
    test::TempFolder folder;
    const QString maildir = folder.path(u"Maildir.drafts"_s);
    const QString id = NewDraftId();
    ASSERT_TRUE(SaveDraft(maildir, id, typed(u"新しい"_s)));
    const QString older = maildir + u"/cur/"_s + draftName(id) + u":2,"_s;
    ASSERT_TRUE(writeFile(older, DraftToMessage(typed(u"古い"_s))));
    const timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(older).constData(), past, 0), 0);
    const auto listing = ReadDrafts(maildir);
    ASSERT_TRUE(listing);
    ASSERT_EQ(listing.value().drafts.size(), 1u);
    EXPECT_EQ(listing.value().drafts[0].draft.body, u"新しい"_s);
    ASSERT_TRUE(SaveDraft(maildir, id, typed(u"次"_s)));
    EXPECT_FALSE(QFile::exists(older));
}

TEST(DraftFolder, HostileEntriesAreSkippedWithALineWithoutWaiting) {
    test::TempFolder folder;
    const QString maildir = folder.path(u"Maildir.drafts"_s);
    const QString good = NewDraftId();
    ASSERT_TRUE(SaveDraft(maildir, good, typed(u"本物"_s)));
    // A draft outside the folder, for the link to point at.
    const QString elsewhere = folder.path(u"elsewhere"_s);
    ASSERT_TRUE(writeFile(elsewhere, DraftToMessage(typed(u"外"_s))));

    struct Case {
        QString name;  // the entry in new/
        std::function<bool(const QString& path)> make;
        QString reason;
    };
    const Case cases[] = {
        {draftName(u"link"_s),
         [&](const QString& p) { return ::symlink(QFile::encodeName(elsewhere).constData(), QFile::encodeName(p).constData()) == 0; },
         u"リンク"_s},
        {draftName(u"fifo"_s), [](const QString& p) { return ::mkfifo(QFile::encodeName(p).constData(), 0600) == 0; }, u"FIFO"_s},
        {draftName(u"huge"_s),
         [](const QString& p) {
             QFile file(p);
             return file.open(QIODevice::WriteOnly) && file.resize(kLargestDraftFile + 1);
         },
         u"大きすぎ"_s},
        {draftName(u"folder"_s), [](const QString& p) { return QDir().mkdir(p); }, u"フォルダ"_s},
        {draftName(u"damaged"_s), [](const QString& p) { return writeFile(p, "X-Lumopet-Draft: 1\n\n\xff"); }, u"壊れています"_s},
        {u"1700000000.2_2.host"_s, [](const QString& p) { return writeFile(p, DraftToMessage(typed(u"名無し"_s))); },
         u"名前ではありません"_s},
    };
    for (const Case& c : cases) ASSERT_TRUE(c.make(maildir + u"/new/"_s + c.name)) << c.name.toStdString();

    const auto listing = readWithin(maildir, std::chrono::seconds(10));
    ASSERT_TRUE(listing) << listing.error().toStdString();
    ASSERT_EQ(listing.value().drafts.size(), 1u);
    EXPECT_EQ(listing.value().drafts[0].id, good);
    const QStringList& skipped = listing.value().skipped;
    EXPECT_EQ(skipped.size(), std::size(cases)) << skipped.join(u'\n').toStdString();
    for (const Case& c : cases) {
        const auto line = std::find_if(skipped.begin(), skipped.end(), [&](const QString& l) { return l.contains(c.name); });
        ASSERT_NE(line, skipped.end()) << c.name.toStdString();
        EXPECT_TRUE(line->contains(c.reason)) << line->toStdString();
    }
    // The link was not followed: what it points at is still there.
    EXPECT_TRUE(QFile::exists(elsewhere));
}

TEST(DraftFolder, AMissingFolderHoldsNoDraftsAndALinkedOneIsRefused) {
    test::TempFolder folder;
    const auto missing = ReadDrafts(folder.path(u"none"_s));
    ASSERT_TRUE(missing);
    EXPECT_TRUE(missing.value().drafts.empty());
    ASSERT_TRUE(SaveDraft(folder.path(u"real"_s), NewDraftId(), typed(u"x"_s)));
    ASSERT_EQ(::symlink("real", QFile::encodeName(folder.path(u"linked"_s)).constData()), 0);
    EXPECT_FALSE(ReadDrafts(folder.path(u"linked"_s)));
    EXPECT_FALSE(SaveDraft(folder.path(u"linked"_s), NewDraftId(), typed(u"y"_s)));
}

}  // namespace
}  // namespace lumopet
