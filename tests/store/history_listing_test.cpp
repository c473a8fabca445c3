// The listing kept beside a history: after any change to the history or to
// the listing file, the view lists what the history holds, as reading
// every record would; while nothing changed, the listing is what is read.

#include "store/history_listing.h"

#include "store/stored_uidls.h"

#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

namespace lumopet {

void PrintTo(const HistoryListEntry& e, std::ostream* os) { *os << e.Subject.toStdString(); }
bool operator==(const HistoryListEntry& a, const HistoryListEntry& b) {
    return a.Subject == b.Subject && a.Column2 == b.Column2 && a.Column3 == b.Column3;
}

namespace {

HistoryRecord record(int n, const QString& subject = {}) {
    return {subject.isEmpty() ? QStringLiteral("件名%1").arg(n) : subject, QStringLiteral("s%1@x.jp").arg(n),
            QStringLiteral("2026/12/%1  9:00:00").arg(n % 28 + 1), QStringLiteral("本文%1").arg(n), 1};
}

class HistoryListingTest : public ::testing::Test {
public:
    void SetUp() override { append(history, 1, 5); }
    static void append(const QString& file, int from, int to) {
        for (int n = from; n <= to; ++n) ASSERT_TRUE(AppendRecord(file, record(n), History::Received).ok());
    }
    // Record n's columns written in place, as another program might, and
    // the file's time put back, or moved on by a second.
    void rewriteInPlace(int n, bool keepTime) {
        struct stat before {};
        ASSERT_EQ(::stat(QFile::encodeName(history).constData(), &before), 0);
        QFile file(history);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek((n - 1) * kHistoryRecordSize));
        file.write(EncodeRecord(record(n, QStringLiteral("別の件名")), History::Received));
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

// Each entry's fingerprint is its record's, as RecordFingerprint gives it.
void expectRecordFingerprints(const QString& history, const std::vector<HistoryListEntry>& entries) {
    const std::vector<HistoryRecord> records = ReadAll(history);
    ASSERT_EQ(entries.size(), records.size());
    for (size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(entries[i].Fingerprint, RecordFingerprint(records[i])) << "record " << i + 1;
}

TEST_P(ListingAfterAChange, ListsWhatTheHistoryHolds) {
    ASSERT_EQ(ReadListingThroughCache(history), ReadListing(history));
    GetParam().apply(*this);
    EXPECT_EQ(ReadListingThroughCache(history), ReadListing(history));
    const std::vector<HistoryListEntry> kept = ReadListingThroughCache(history);
    EXPECT_EQ(kept, ReadListing(history)) << "from the listing written just now";
    expectRecordFingerprints(history, kept);
}

using T = HistoryListingTest;
INSTANTIATE_TEST_SUITE_P(
    Changes, ListingAfterAChange,
    ::testing::Values(
        Change{"Nothing", [](T&) {}},
        Change{"Appended", [](T& t) { T::append(t.history, 6, 8); }},  // a mail check: only these are read
        Change{"LastRecordRewrittenTimeKept", [](T& t) { t.rewriteInPlace(5, true); }},
        Change{"MiddleRecordRewrittenTimeMoved", [](T& t) { t.rewriteInPlace(2, false); }},
        Change{"AppendedAfterTheLastWasRewritten", [](T& t) {
                   t.rewriteInPlace(5, true);
                   T::append(t.history, 6, 6);
               }},
        Change{"Compacted", [](T& t) {
                   ASSERT_TRUE(MarkDeleted(t.history, 3, ReadRecord(t.history, 3).value()).ok());
                   ASSERT_TRUE(Compact(t.history, t.folder.path(QStringLiteral("SRNDATA2.TMP"))).ok());
               }},
        Change{"CutShort", [](T& t) { ASSERT_TRUE(QFile::resize(t.history, 2 * kHistoryRecordSize)); }},
        // A Windows folder copied over this one: another file of the same size.
        Change{"ReplacedBySameSize", [](T& t) {
                   T::append(t.folder.path(QStringLiteral("other")), 11, 15);
                   ASSERT_TRUE(::rename(QFile::encodeName(t.folder.path(QStringLiteral("other"))).constData(),
                                        QFile::encodeName(t.history).constData()) == 0);
               }},
        Change{"ListingDamaged", [](T& t) {
                   QFile file(t.listing);
                   ASSERT_TRUE(file.open(QIODevice::ReadWrite) && file.seek(file.size() / 2));
                   file.write("XXXX");
               }},
        Change{"ListingOfAnotherHistory", [](T& t) {
                   const QString other = t.folder.path(QStringLiteral("srndata5.data"));
                   T::append(other, 21, 25);
                   (void)ReadListingThroughCache(other);
                   QFile::remove(t.listing);
                   ASSERT_TRUE(QFile::copy(HistoryListingPath(other), t.listing));
               }},
        Change{"ListingIsAFifo", [](T& t) {
                   QFile::remove(t.listing);
                   ASSERT_EQ(::mkfifo(QFile::encodeName(t.listing).constData(), 0600), 0);
               }}),
    [](const auto& info) { return std::string(info.param.name); });

// A change that keeps the file's size and time, before its last record,
// is not seen: the listing is what is read. (No program writes a history
// so; this shows that the listing is used at all.)
TEST_F(HistoryListingTest, WhileTheFileLooksUnchangedTheListingIsRead) {
    const std::vector<HistoryListEntry> before = ReadListingThroughCache(history);
    rewriteInPlace(2, true);
    EXPECT_EQ(ReadListingThroughCache(history), before);
    EXPECT_NE(ReadListing(history), before);
}

// A link in the listing's place is neither read nor written through, and
// a stopped write's leftover goes.
TEST_F(HistoryListingTest, ALinkIsNotFollowedAndALeftoverGoes) {
    folder.write(QStringLiteral("elsewhere"), "someone else's file");
    ASSERT_TRUE(QFile::link(folder.path(QStringLiteral("elsewhere")), listing));
    const QString leftover = listing + QStringLiteral(".aB3xYz.lumopet-new");
    folder.write(QFileInfo(leftover).fileName(), "half a listing");
    EXPECT_EQ(ReadListingThroughCache(history), ReadListing(history));
    EXPECT_EQ(folder.read(QStringLiteral("elsewhere")), "someone else's file");
    EXPECT_FALSE(QFileInfo::exists(leftover));
}

}  // namespace
}  // namespace lumopet
