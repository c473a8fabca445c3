#include "store/history_file.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <sys/stat.h>

namespace lumopet {

// Found by GoogleTest through the record's namespace.
bool operator==(const HistoryRecord& a, const HistoryRecord& b) {
    return a.Subject == b.Subject && a.Column2 == b.Column2 && a.Column3 == b.Column3 && a.Body == b.Body &&
           a.Live == b.Live;
}

void PrintTo(const HistoryRecord& r, std::ostream* out) {
    *out << "{" << r.Subject.toStdString() << " | " << r.Column2.toStdString() << " | " << r.Column3.toStdString()
         << " | live " << r.Live << "}";
}

namespace {

constexpr qsizetype S = 12284;
const QByteArray kLiveEnd("\r\n\x01\x00", 4);
const QByteArray kMarkedEnd("\r\n\x00\x00", 4);

// A record as the Windows version wrote it, put together byte by byte at the
// offsets it used: blanks everywhere, then the fields, then the end.
QByteArray windowsRecord(const QByteArray& subject, const QByteArray& column2, const QByteArray& column3,
                         const QByteArray& body, const QByteArray& end = kLiveEnd) {
    QByteArray bytes(S, ' ');
    bytes.replace(0, subject.size(), subject);
    bytes.replace(100, column2.size(), column2);
    bytes.replace(190, column3.size(), column3);
    bytes.replace(280, body.size(), body);
    bytes.replace(12280, 4, end);
    return bytes;
}

HistoryRecord fields(const QString& subject, const QString& column2 = {}, const QString& column3 = {},
                     const QString& body = {}) {
    return HistoryRecord{subject, column2, column3, body, 1};
}

HistoryRecord record(const char* subject, std::int16_t live = 1) {
    return HistoryRecord{QString::fromUtf8(subject), QStringLiteral("from@example.jp"), QStringLiteral("2026/12/07"),
                         QStringLiteral("本文\r\n二行目"), live};
}

QStringList subjects(const QString& file) {
    QStringList result;
    for (const HistoryRecord& r : ReadAll(file)) result << r.Subject;
    return result;
}

TEST(HistoryRecord, WindowsBytesReadAndWriteBackExactly) {
    struct Case {
        const char* fault;
        History history;
        QByteArray bytes;
        HistoryRecord decoded;
    };
    const Case cases[] = {
        {"JapaneseOrCrLfGarbled",
         History::Received,
         windowsRecord("\x8c\x8f\x96\xbc\x83\x65\x83\x58\x83\x67", "\x8e\x52\x93\x63 <yamada@example.jp>",
                       "2026/12/07 12:34", "\x88\xea\x8d\x73\x96\xda\r\n\r\n\x93\xf1\x8d\x73\x96\xda"),
         {QStringLiteral("件名テスト"), QStringLiteral("山田 <yamada@example.jp>"), QStringLiteral("2026/12/07 12:34"),
          QStringLiteral("一行目\r\n\r\n二行目"), 1}},
        {"BlankFieldsNotBlank", History::Received, windowsRecord("", "", "", ""), {{}, {}, {}, {}, 1}},
        {"PaddingAfterAFullSubject",
         History::Sent,
         windowsRecord(QByteArray(100, 'a'), "2026/12/07  9:05:03", "to@example.jp", "x"),
         {QString(100, u'a'), QStringLiteral("2026/12/07  9:05:03"), QStringLiteral("to@example.jp"),
          QStringLiteral("x"), 1}},
        {"FullWidthBlankLost",
         History::Received,
         windowsRecord("\x81\x40\x8c\x8f\x96\xbc\x81\x40", "", "", "\xc3\xbd\xc4"),
         {QStringLiteral("　件名　"), {}, {}, QStringLiteral("ﾃｽﾄ"), 1}},
        {"MarkedRecordReadLive",
         History::Received,
         windowsRecord("gone", "", "", "", kMarkedEnd),
         {QStringLiteral("gone"), {}, {}, {}, 0}},
        {"LiveReadUnsigned",
         History::Received,
         windowsRecord("odd", "", "", "", QByteArray("\r\n\xff\xff", 4)),
         {QStringLiteral("odd"), {}, {}, {}, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(DecodeRecord(c.bytes), c.decoded);
        EXPECT_EQ(EncodeRecord(c.decoded, c.history), c.bytes);
    }
}

TEST(HistoryRecord, WritingTrimsCutsAndPads) {
    struct Case {
        const char* fault;
        History history;
        HistoryRecord record;
        qsizetype offset;
        QByteArray stored;  // the whole field
    };
    const QString fifty = QString(50, u'あ');
    const Case cases[] = {
        {"SubjectOverflowsIntoColumn2", History::Received, fields(QString(101, u'b'), QStringLiteral("c2")), 0,
         QByteArray(100, 'b')},
        {"CutThroughADoubleByteCharacter", History::Received, fields(QStringLiteral("a") + fifty), 0,
         "a" + QByteArray("\x82\xa0").repeated(49) + " "},
        {"TrailingBlanksKept", History::Received, fields(QStringLiteral("  件名  ")), 0,
         "\x8c\x8f\x96\xbc" + QByteArray(96, ' ')},
        {"SentDateBlanksStripped", History::Sent, fields({}, QStringLiteral(" 2027/01/02  9:05:03 ")), 100,
         " 2027/01/02  9:05:03 " + QByteArray(69, ' ')},
        {"ReceivedSenderBlanksKept", History::Received, fields({}, QStringLiteral(" a@b ")), 100,
         "a@b" + QByteArray(87, ' ')},
        {"BareLineFeedsInBody", History::Received, fields({}, {}, {}, QStringLiteral("a\nb\rc\r\n")), 280,
         "a\r\nb\r\nc\r\n" + QByteArray(11991, ' ')},
        {"BodyOverflowsIntoLineEnd", History::Received, fields({}, {}, {}, QString(12001, u'x')), 280,
         QByteArray(12000, 'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const QByteArray bytes = EncodeRecord(c.record, c.history);
        ASSERT_EQ(bytes.size(), S);
        EXPECT_EQ(bytes.sliced(c.offset, c.stored.size()), c.stored);
        EXPECT_EQ(bytes.sliced(12280), kLiveEnd);
    }
}

TEST(HistoryRecord, ReadingStopsAtNul) {
    const QByteArray bytes = windowsRecord(QByteArray("abc\0xyz", 7), QByteArray("\0\0\0", 3), "", "");
    EXPECT_EQ(DecodeRecord(bytes).Subject, QStringLiteral("abc"));
    EXPECT_EQ(DecodeRecord(bytes).Column2, QString());
}

class HistoryFileTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    QString file = folder.path(QStringLiteral("srndata2.data"));
    QString copy = folder.path(QStringLiteral("SRNDATA2.TMP"));

    QByteArray records(std::initializer_list<HistoryRecord> list) {
        QByteArray bytes;
        for (const HistoryRecord& r : list) bytes += EncodeRecord(r, History::Received);
        return bytes;
    }
    void expectEveryRecordEndsLive(const QByteArray& bytes) {
        ASSERT_EQ(bytes.size() % S, 0);
        for (qsizetype at = 0; at < bytes.size(); at += S)
            EXPECT_EQ(bytes.sliced(at + S - 4, 4), kLiveEnd) << at / S + 1;
    }
};

TEST_F(HistoryFileTest, TheProgramsOwnFileNames) {
    const ProgramPaths paths(QStringLiteral("/p"));
    EXPECT_EQ(HistoryPath(paths, History::Received), QStringLiteral("/p/★MailData/srndata2.data"));
    EXPECT_EQ(HistoryPath(paths, History::Sent), QStringLiteral("/p/★MailData/srndata5.data"));
    EXPECT_EQ(RewriteCopyPath(paths, History::Received), QStringLiteral("/p/★MailData/SRNDATA2.TMP"));
    EXPECT_EQ(RewriteCopyPath(paths, History::Sent), QStringLiteral("/p/★MailData/SRNDATA5.TMP"));
}

TEST_F(HistoryFileTest, AppendGoesWhereTheRoundedLengthSays) {
    struct Case {
        const char* fault;
        std::optional<qsizetype> length;  // nothing: no file
        int n;
    };
    const Case cases[] = {
        {"MissingFile", std::nullopt, 1},        {"EmptyFile", 0, 1},
        {"OneAndFourTenths", S * 14 / 10, 2},    {"OneAndSixTenths", S * 16 / 10, 3},
        {"HalfRoundsToEvenZero", S / 2, 1},      {"OneAndAHalfRoundsUp", S * 3 / 2, 3},
        {"TwoAndAHalfRoundsDown", S * 5 / 2, 3}, {"OneByteShort", 2 * S - 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        QFile::remove(file);
        const QByteArray old = QByteArray(S, 'o').repeated(3).left(c.length.value_or(0));
        if (c.length) folder.write(QStringLiteral("srndata2.data"), old);
        const Result<int> n = AppendRecord(file, record("new", 0), History::Received);
        ASSERT_TRUE(n.ok()) << n.error().toStdString();
        EXPECT_EQ(n.value(), c.n);
        const QByteArray bytes = folder.read(QStringLiteral("srndata2.data"));
        EXPECT_EQ(bytes.size(), std::max<qsizetype>(old.size(), c.n * S));
        EXPECT_EQ(bytes.left((c.n - 1) * S), old.left((c.n - 1) * S).leftJustified((c.n - 1) * S, '\0'));
        EXPECT_EQ(bytes.sliced((c.n - 1) * S, S), EncodeRecord(record("new"), History::Received)) << "always live";
    }
}

// The mail check appends through one open file and flushes it before the
// server may delete anything: a history replaced meanwhile must not count as
// flushed, since the records went to a file nobody will read.
TEST_F(HistoryFileTest, AnOpenHistoryIsFlushedOnlyWhileItsNameStillLeadsToIt) {
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "replaced" : "kept");
        QFile::remove(file);
        auto history = OpenHistoryForAppending(file);
        ASSERT_TRUE(history) << history.error().toStdString();
        ASSERT_EQ(AppendRecord(history.value(), record("one"), History::Received).value(), 1);
        ASSERT_EQ(AppendRecord(history.value(), record("two"), History::Received).value(), 2);
        if (replaced) {
            folder.write(QStringLiteral("other"), QByteArray());
            ASSERT_TRUE(QFile::remove(file));
            ASSERT_TRUE(QFile::rename(folder.path(QStringLiteral("other")), file));
        }
        const Status synced = history.value().sync();
        EXPECT_EQ(synced.ok(), !replaced);
        if (!replaced) {
            EXPECT_EQ(ReadAll(file).size(), 2u);
        }
    }
}

TEST_F(HistoryFileTest, DeletingTheMiddleRecordRenumbersTheOthers) {
    ASSERT_EQ(AppendRecord(file, record("1"), History::Received).value(), 1);
    ASSERT_EQ(AppendRecord(file, record("2"), History::Received).value(), 2);
    ASSERT_EQ(AppendRecord(file, record("3"), History::Received).value(), 3);
    // Group bits that the umask would take from a new file.
    const mode_t umask = ::umask(022);
    const QFile::Permissions mode = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::WriteGroup;
    ASSERT_TRUE(QFile::setPermissions(file, mode));
    const QByteArray before = folder.read(QStringLiteral("srndata2.data"));

    EXPECT_FALSE(MarkDeleted(file, 2, record("3")).ok()) << "not the record the window lists";
    EXPECT_FALSE(MarkDeleted(file, 4, record("3")).ok());
    EXPECT_FALSE(MarkDeleted(file, 0, record("1")).ok());
    ASSERT_TRUE(MarkDeleted(file, 2, ReadRecord(file, 2).value()).ok());
    QByteArray marked = before;
    marked[S + 12282] = 0;
    EXPECT_EQ(folder.read(QStringLiteral("srndata2.data")), marked) << "only the Live field changes";

    ASSERT_TRUE(Compact(file, copy).ok());
    ::umask(umask);
    const QByteArray after = folder.read(QStringLiteral("srndata2.data"));
    EXPECT_EQ(after, before.left(S) + before.sliced(2 * S)) << "the others are copied byte for byte";
    EXPECT_EQ(subjects(file), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
    expectEveryRecordEndsLive(after);
    EXPECT_FALSE(QFileInfo::exists(copy));
    EXPECT_EQ(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser), mode);
}

// A compaction copies the records before the first marked one by the
// kernel and the rest through a buffer, in blocks of 85 records: the marks
// lie at both ends, inside a block, across a block's edge and everywhere.
// Each record's bytes tell it apart, so a record out of place or a few bytes
// off shows.
struct CompactionCase {
    const char* name;
    std::vector<int> marked;  // record numbers from 1
    bool partialTail = false;
};

class CompactionTest : public HistoryFileTest, public ::testing::WithParamInterface<CompactionCase> {};

TEST_P(CompactionTest, LeavesTheLiveRecordsInOrderByteForByte) {
    constexpr int kCount = 200;
    const CompactionCase& c = GetParam();
    QByteArray original;
    QByteArray expected;
    for (int n = 1; n <= kCount; ++n) {
        const bool marked = std::find(c.marked.begin(), c.marked.end(), n) != c.marked.end();
        HistoryRecord r = record(QByteArray::number(n).constData(), marked ? 0 : 1);
        r.Body = QStringLiteral("本文 %1\r\n").arg(n).repeated(n % 50 + 1);
        const QByteArray bytes = EncodeRecord(r, History::Received);
        original += bytes;
        if (!marked) expected += bytes;
    }
    if (c.partialTail) original += QByteArray(S / 2, 'x');
    for (const RangeCopy way : {RangeCopy::Auto, RangeCopy::ReadWrite}) {
        SCOPED_TRACE(way == RangeCopy::Auto ? "Auto" : "ReadWrite");
        folder.write(QStringLiteral("srndata2.data"), original);
        ASSERT_TRUE(Compact(file, copy, way).ok());
        const QByteArray after = folder.read(QStringLiteral("srndata2.data"));
        EXPECT_EQ(after.size(), expected.size());
        EXPECT_TRUE(after == expected) << "first difference at byte "
                                       << std::mismatch(after.begin(), after.end(), expected.begin(), expected.end()).first - after.begin();
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("srndata2.data")});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Marks, CompactionTest,
    ::testing::Values(CompactionCase{"First", {1}}, CompactionCase{"Middle", {100}}, CompactionCase{"Last", {200}},
                      CompactionCase{"AdjacentRuns", {3, 4, 5, 86, 87, 88, 150}},
                      CompactionCase{"AtABlockEdgeWithAPartialTail", {2, 87}, true},
                      CompactionCase{"EveryOther", [] {
                                         std::vector<int> odd;
                                         for (int n = 1; n <= 200; n += 2) odd.push_back(n);
                                         return odd;
                                     }()},
                      CompactionCase{"AllDead", [] {
                                         std::vector<int> all;
                                         for (int n = 1; n <= 200; ++n) all.push_back(n);
                                         return all;
                                     }()}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistoryFileTest, OnlyLiveZeroIsRemovedAndRemovingAllLeavesAnEmptyFile) {
    const QByteArray unmarked = records({record("1"), record("odd", -1)}) + "tail";
    folder.write(QStringLiteral("srndata2.data"), unmarked);
    ASSERT_TRUE(Compact(file, copy).ok());
    EXPECT_EQ(folder.read(QStringLiteral("srndata2.data")), unmarked) << "nothing marked, nothing rewritten";
    for (const QStringList& left : {QStringList{QStringLiteral("odd")}, QStringList{}}) {
        ASSERT_TRUE(MarkDeleted(file, 1, ReadRecord(file, 1).value()).ok());
        ASSERT_TRUE(Compact(file, copy).ok());
        EXPECT_EQ(subjects(file), left);
    }
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_EQ(QFileInfo(file).size(), 0);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("srndata2.data")});
}

TEST_F(HistoryFileTest, CrashDuringARewriteNeverLosesALiveRecord) {
    const QByteArray full = records({record("1"), record("2", 0), record("3")});
    const QByteArray compacted = records({record("1"), record("3")});
    struct Case {
        const char* fault;
        std::optional<QByteArray> history;
        const char* copyName;
        QByteArray copy;
        Recovery expected;
        QByteArray historyAfter;
    };
    const Case cases[] = {
        // The Windows version copied the history, deleted it, rebuilt it.
        {"OnlyCopyInTempFile", std::nullopt, "SRNDATA2.TMP", full, Recovery::RestoredFromCopy, full},
        {"CrashedAfterTheCopyStep", full, "SRNDATA2.TMP", full, Recovery::RemovedStaleCopy, full},
        {"CrashedWhileRebuilding", compacted.left(S + 100), "SRNDATA2.TMP", full, Recovery::RestoredFromCopy, full},
        // Ours builds the copy beside the history under a fresh name and
        // renames it: what it leaves is never more than a spare.
        {"CrashedWhileBuilding", full, "srndata2.data.Q7xk2P.lumopet-new", compacted.left(S + 7), Recovery::Nothing, full},
        {"CrashedBeforeTheRename", full, "srndata2.data.a0B9zz.lumopet-new", compacted, Recovery::Nothing, full},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        QDir(folder.path()).removeRecursively();
        QDir().mkpath(folder.path());
        if (c.history) folder.write(QStringLiteral("srndata2.data"), *c.history);
        folder.write(QString::fromLatin1(c.copyName), c.copy);
        const Result<Recovery> recovery = RecoverRewriteCopy(file, copy);
        ASSERT_TRUE(recovery.ok()) << recovery.error().toStdString();
        EXPECT_EQ(recovery.value(), c.expected);
        EXPECT_EQ(folder.read(QStringLiteral("srndata2.data")), c.historyAfter);
        EXPECT_FALSE(QFileInfo::exists(folder.path(QString::fromLatin1(c.copyName))));
        if (c.history && c.expected == Recovery::RestoredFromCopy) {
            EXPECT_EQ(folder.read(QStringLiteral("srndata2.data.replaced")), *c.history) << "kept beside, not dropped";
        }
        EXPECT_EQ(RecoverRewriteCopy(file, copy).value(), Recovery::Nothing);
        ASSERT_TRUE(Compact(file, copy).ok());
        EXPECT_EQ(subjects(file), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
    }
}

// Someone who can write in the data folder plants a link at every name a
// compaction could be expected to use. The file the links point to must
// come through untouched, and the history must still lose nothing.
TEST_F(HistoryFileTest, PlantedLinksNeverRedirectACompaction) {
    folder.write(QStringLiteral("srndata2.data"), records({record("1"), record("2", 0), record("3")}));
    folder.write(QStringLiteral("elsewhere"), "precious");
    const QString outside = folder.path(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QFile::link(outside, file + QStringLiteral(".XXXXXX.lumopet-new")));
    ASSERT_TRUE(QFile::link(outside, file + QStringLiteral(".tmp")));
    ASSERT_TRUE(Compact(file, copy).ok());
    EXPECT_EQ(subjects(file), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
    EXPECT_EQ(folder.read(QStringLiteral("elsewhere")), QByteArray("precious"));
    // At the name the Windows version used, a link is refused outright.
    ASSERT_TRUE(QFile::link(outside, copy));
    EXPECT_FALSE(Compact(file, copy).ok());
    EXPECT_EQ(folder.read(QStringLiteral("elsewhere")), QByteArray("precious"));
    EXPECT_EQ(subjects(file), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
}

TEST_F(HistoryFileTest, CompactSettlesALeftoverCopyFirst) {
    folder.write(QStringLiteral("SRNDATA2.TMP"), records({record("1"), record("2", 0)}));
    ASSERT_TRUE(Compact(file, copy).ok());
    EXPECT_EQ(subjects(file), QStringList{QStringLiteral("1")});
    EXPECT_FALSE(QFileInfo::exists(copy));
}

TEST_F(HistoryFileTest, ListingHasTheColumnsOfEveryCompleteRecord) {
    EXPECT_TRUE(ReadListing(file).empty());
    EXPECT_TRUE(ReadAll(file).empty());
    const HistoryRecord japanese{
        QStringLiteral("件名　①"), QStringLiteral("山田"), QStringLiteral("2026/12/07"), {}, 1};
    folder.write(QStringLiteral("srndata2.data"),
                 records({japanese, record("2", 0), record("3")}) + QByteArray(S - 1, 'x'));
    const std::vector<HistoryRecord> all = ReadAll(file);
    const std::vector<HistoryListEntry> listing = ReadListing(file);
    ASSERT_EQ(all.size(), 3u);
    ASSERT_EQ(listing.size(), all.size());
    EXPECT_EQ(all[0], japanese);
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(listing[i].Subject, all[i].Subject);
        EXPECT_EQ(listing[i].Column2, all[i].Column2);
        EXPECT_EQ(listing[i].Column3, all[i].Column3);
    }
}

TEST_F(HistoryFileTest, NothingHappensToAnIncompleteRecord) {
    EXPECT_FALSE(ReadRecord(file, 1).ok());
    const QByteArray bytes = records({record("1")}) + EncodeRecord(record("2"), History::Received).left(300);
    folder.write(QStringLiteral("srndata2.data"), bytes);
    for (int n : {-1, 0, 2, 3}) EXPECT_FALSE(ReadRecord(file, n).ok()) << n;
    EXPECT_EQ(ReadRecord(file, 1).value(), record("1"));
    EXPECT_FALSE(MarkDeleted(file, 2, record("2")).ok());
    EXPECT_EQ(folder.read(QStringLiteral("srndata2.data")), bytes);
    EXPECT_FALSE(SyncHistory(folder.path(QStringLiteral("missing"))).ok());
    EXPECT_TRUE(SyncHistory(file).ok());
}

TEST_F(HistoryFileTest, RecordNumberWrapsAt32767) {
    // 32,770 real records, numbered in their subjects, written in blocks.
    constexpr int kCount = 32770;
    const QByteArray model = EncodeRecord(record(""), History::Received);
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        QByteArray block;
        for (int n = 1; n <= kCount; ++n) {
            QByteArray one = model;
            const QByteArray number = QByteArray::number(n);
            std::memcpy(one.data(), number.constData(), static_cast<size_t>(number.size()));
            block += one;
            if (block.size() >= 1024 * S || n == kCount) {
                ASSERT_EQ(out.write(block), block.size());
                block.clear();
            }
        }
    }
    const Result<int> n = AppendRecord(file, record("new"), History::Received);
    ASSERT_TRUE(n.ok());
    EXPECT_EQ(n.value(), 32771);
    EXPECT_EQ(ReadRecord(file, 32771).value(), record("new"));
    EXPECT_EQ(ReadRecord(file, 32768).value().Subject, QStringLiteral("32768"));
    const std::vector<HistoryListEntry> listing = ReadListing(file);
    ASSERT_EQ(listing.size(), 32771u);
    EXPECT_EQ(listing[32767].Subject, QStringLiteral("32768"));
    EXPECT_EQ(listing.back().Subject, QStringLiteral("new"));
}

}  // namespace
}  // namespace lumopet
