// The listing kept beside a history: after any change to the history or to
// the listing file, the view lists what the history holds, record by
// record, as reading every record would; and the listing is what is read
// while nothing changed.

#include "store/history_listing.h"

#include "store/history_file.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {

void PrintTo(const HistoryListEntry& e, std::ostream* os) { *os << e.Subject.toStdString(); }
bool operator==(const HistoryListEntry& a, const HistoryListEntry& b) {
    return a.Subject == b.Subject && a.Column2 == b.Column2 && a.Column3 == b.Column3;
}

namespace {

HistoryRecord record(int n, const QString& subject = {}) {
    return {subject.isEmpty() ? QStringLiteral("件名%1").arg(n) : subject, QStringLiteral("送信者%1 <s%1@x.jp>").arg(n),
            QStringLiteral("2026/12/%1  9:00:00").arg(n % 28 + 1, 2, 10, QChar(u'0')), QStringLiteral("本文%1").arg(n), 1};
}

class HistoryListingTest : public ::testing::Test {
public:
    void SetUp() override {
        for (int n = 1; n <= 5; ++n) ASSERT_TRUE(AppendRecord(history, record(n), History::Received).ok());
    }
    // The columns of record n written in place, as another program might,
    // and the file's time put back, or moved on by a second.
    void rewriteInPlace(int n, const QString& subject, bool keepTime) {
        struct stat before {};
        ASSERT_EQ(::stat(QFile::encodeName(history).constData(), &before), 0);
        QFile file(history);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.seek((n - 1) * kHistoryRecordSize));
        file.write(EncodeRecord(record(n, subject), History::Received));
        file.close();
        timespec times[2] = {before.st_atim, before.st_mtim};
        if (!keepTime) times[1].tv_sec += 1;
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(history).constData(), times, 0), 0);
    }

    test::TempFolder folder;
    QString history = folder.path(QStringLiteral("srndata2.data"));
    QString listing = HistoryListingPath(history);
};

struct Change {
    const char* name;
    std::function<void(HistoryListingTest&)> apply;
};

class ListingAfterAChange : public HistoryListingTest, public ::testing::WithParamInterface<Change> {};

TEST_P(ListingAfterAChange, ListsWhatTheHistoryHolds) {
    ASSERT_EQ(ReadListingThroughCache(history), ReadListing(history));
    ASSERT_TRUE(QFileInfo(listing).isFile());
    GetParam().apply(*this);
    EXPECT_EQ(ReadListingThroughCache(history), ReadListing(history));
    // And again, from the listing written just now.
    EXPECT_EQ(ReadListingThroughCache(history), ReadListing(history));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ListingAfterAChange,
    ::testing::Values(
        Change{"Nothing", [](HistoryListingTest&) {}},
        // What a mail check does: only the new records are read.
        Change{"Appended", [](HistoryListingTest& t) {
                   for (int n = 6; n <= 8; ++n) ASSERT_TRUE(AppendRecord(t.history, record(n), History::Received).ok());
               }},
        Change{"LastRecordRewrittenTimeKept", [](HistoryListingTest& t) { t.rewriteInPlace(5, QStringLiteral("別の件名"), true); }},
        Change{"MiddleRecordRewrittenTimeMoved", [](HistoryListingTest& t) { t.rewriteInPlace(2, QStringLiteral("別の件名"), false); }},
        Change{"AppendedAfterTheLastWasRewritten", [](HistoryListingTest& t) {
                   t.rewriteInPlace(5, QStringLiteral("別の件名"), true);
                   ASSERT_TRUE(AppendRecord(t.history, record(6), History::Received).ok());
               }},
        Change{"Compacted", [](HistoryListingTest& t) {
                   ASSERT_TRUE(MarkDeleted(t.history, 3, ReadRecord(t.history, 3).value()).ok());
                   ASSERT_TRUE(Compact(t.history, t.folder.path(QStringLiteral("SRNDATA2.TMP"))).ok());
               }},
        Change{"CutShort", [](HistoryListingTest& t) { ASSERT_TRUE(QFile::resize(t.history, 2 * kHistoryRecordSize)); }},
        Change{"EmptiedThenRefilled", [](HistoryListingTest& t) {
                   ASSERT_TRUE(QFile::resize(t.history, 0));
                   ASSERT_TRUE(AppendRecord(t.history, record(9), History::Received).ok());
               }},
        // A Windows folder copied over this one: another file of the same size.
        Change{"ReplacedBySameSize", [](HistoryListingTest& t) {
                   const QString other = t.folder.path(QStringLiteral("other"));
                   for (int n = 11; n <= 15; ++n) ASSERT_TRUE(AppendRecord(other, record(n), History::Received).ok());
                   ASSERT_TRUE(::rename(QFile::encodeName(other).constData(), QFile::encodeName(t.history).constData()) == 0);
               }},
        Change{"ListingDamaged", [](HistoryListingTest& t) {
                   QFile file(t.listing);
                   ASSERT_TRUE(file.open(QIODevice::ReadWrite));
                   ASSERT_TRUE(file.seek(file.size() / 2));
                   file.write("XXXX");
               }},
        Change{"ListingCutShort", [](HistoryListingTest& t) { ASSERT_TRUE(QFile::resize(t.listing, 40)); }},
        Change{"ListingEmpty", [](HistoryListingTest& t) { ASSERT_TRUE(QFile::resize(t.listing, 0)); }},
        Change{"ListingOfAnotherHistory", [](HistoryListingTest& t) {
                   const QString other = t.folder.path(QStringLiteral("srndata5.data"));
                   for (int n = 21; n <= 25; ++n) ASSERT_TRUE(AppendRecord(other, record(n), History::Received).ok());
                   (void)ReadListingThroughCache(other);
                   QFile::remove(t.listing);
                   ASSERT_TRUE(QFile::copy(HistoryListingPath(other), t.listing));
               }},
        Change{"ListingIsAFifo", [](HistoryListingTest& t) {
                   QFile::remove(t.listing);
                   ASSERT_EQ(::mkfifo(QFile::encodeName(t.listing).constData(), 0600), 0);
               }},
        Change{"ListingIsAFolder", [](HistoryListingTest& t) {
                   QFile::remove(t.listing);
                   ASSERT_TRUE(QDir().mkdir(t.listing));
                   ASSERT_TRUE(AppendRecord(t.history, record(6), History::Received).ok());
               }}),
    [](const auto& info) { return std::string(info.param.name); });

// The listing is what is read while the file is as it was: a change that
// keeps the file's size and time, in a record before the last, is not
// seen. (No program writes a history so; this shows the listing is used.)
TEST_F(HistoryListingTest, WhileTheFileLooksUnchangedTheListingIsRead) {
    const std::vector<HistoryListEntry> before = ReadListingThroughCache(history);
    rewriteInPlace(2, QStringLiteral("見えない変更"), true);
    EXPECT_EQ(ReadListingThroughCache(history), before);
    EXPECT_NE(ReadListing(history), before);
}

// A link in the listing's place is neither read nor written through.
TEST_F(HistoryListingTest, ALinkInItsPlaceIsLeftAndItsTargetUntouched) {
    const QString elsewhere = folder.path(QStringLiteral("elsewhere"));
    folder.write(QStringLiteral("elsewhere"), "someone else's file");
    ASSERT_TRUE(QFile::link(elsewhere, listing));
    EXPECT_EQ(ReadListingThroughCache(history), ReadListing(history));
    EXPECT_EQ(folder.read(QStringLiteral("elsewhere")), "someone else's file");
}

// A program stopped while it wrote the listing left its new file beside
// it; the next listing written takes it away.
TEST_F(HistoryListingTest, TheLeftoverOfAStoppedWriteGoes) {
    const QString leftover = listing + QStringLiteral(".aB3xYz.lumopet-new");
    folder.write(QFileInfo(leftover).fileName(), "half a listing");
    ASSERT_TRUE(AppendRecord(history, record(6), History::Received).ok());
    EXPECT_EQ(ReadListingThroughCache(history), ReadListing(history));
    EXPECT_FALSE(QFileInfo::exists(leftover));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2) << "the history and its listing";
}

TEST_F(HistoryListingTest, AMissingHistoryListsNothingAndMakesNoListing) {
    const QString missing = folder.path(QStringLiteral("none.data"));
    EXPECT_TRUE(ReadListingThroughCache(missing).empty());
    EXPECT_FALSE(QFileInfo::exists(HistoryListingPath(missing)));
}

}  // namespace
}  // namespace lumopet
