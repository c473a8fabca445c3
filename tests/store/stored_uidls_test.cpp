// The list of stored messages' UIDLs: what a crash may leave in it, and
// which of its lines may let a message be deleted from the server.

#include "store/history_file.h"
#include "store/stored_uidls.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

constexpr qint64 S = 12284;
const QDate kToday(2026, 12, 9);

QSet<QString> uidlsOf(const StoredUidls& stored) {
    const QList<QString> keys = stored.keys();
    return QSet<QString>(keys.begin(), keys.end());
}

// Lines as a check writes them for these UIDLs, stored today.
StoredUidls storedToday(const QStringList& uidls) {
    StoredUidls stored;
    for (const QString& uidl : uidls) stored.insert(uidl, StoredUidl{kToday, {}, false});
    return stored;
}

class StoredUidlsTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    QString file = folder.path(QStringLiteral("srndata2.uidl"));
    QString history = folder.path(QStringLiteral("srndata2.data"));
    // Lines noted for the junk history are judged by its length: two
    // records, whatever the received history holds.
    QString junkHistory = folder.path(QStringLiteral("srndata2.junk.data"));

    void historyOfLength(qint64 length) {
        folder.write(QStringLiteral("srndata2.data"), QByteArray(length, ' '));
        folder.write(QStringLiteral("srndata2.junk.data"), QByteArray(2 * S, ' '));
    }
    StoredUidls readEntries(QDate today = kToday) {
        const auto uidls = ReadStoredUidls(file, history, today, junkHistory);
        EXPECT_TRUE(uidls) << uidls.error().toStdString();
        return uidls ? uidls.value() : StoredUidls();
    }
    QSet<QString> read() { return uidlsOf(readEntries()); }
};

// One line of the file against a history of the given length.
struct LineCase {
    const char* name;
    QByteArray line;
    qint64 historyLength;
    bool listed;
};

class StoredUidlLine : public StoredUidlsTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(StoredUidlLine, CountsOnlyWhenTheRecordIsWhole) {
    historyOfLength(GetParam().historyLength);
    folder.write(QStringLiteral("srndata2.uidl"), GetParam().line + "\n");
    EXPECT_EQ(read().contains(QStringLiteral("abc")), GetParam().listed);
}

const QByteArray k2S = QByteArray::number(2 * S);
const QByteArray kHalf = QByteArray::number(S + S / 2);        // 1.5 records: rounds up to 2
const QByteArray kTwoHalves = QByteArray::number(2 * S + S / 2);  // 2.5 records: rounds down to 2

INSTANTIATE_TEST_SUITE_P(
    Lines, StoredUidlLine,
    ::testing::Values(LineCase{"settled", "abc", 0, true},
                      LineCase{"settled_with_cr", "abc\r", 0, true},
                      LineCase{"noted_and_appended", "abc " + k2S, 3 * S, true},
                      LineCase{"noted_never_appended", "abc " + k2S, 2 * S, false},
                      LineCase{"noted_record_cut_short", "abc " + k2S, 3 * S - 1, false},
                      LineCase{"noted_on_empty_history_appended", "abc 0", S, true},
                      LineCase{"half_rounds_up_not_there_yet", "abc " + kHalf, 2 * S + S / 2, false},
                      LineCase{"half_rounds_up_appended", "abc " + kHalf, 3 * S, true},
                      LineCase{"half_rounds_down_appended", "abc " + kTwoHalves, 3 * S, true},
                      LineCase{"negative_length", "abc -5", 3 * S, false},
                      LineCase{"length_not_a_number", "abc x", 3 * S, false},
                      LineCase{"three_fields", "abc 1 2", 3 * S, false},
                      LineCase{"length_past_any_history", "abc 9223372036854775000", 3 * S, false},
                      LineCase{"control_character", "ab\x01" "c", 0, false},
                      LineCase{"noted_in_junk_appended_there", "abc " + QByteArray::number(S) + " junk", 0, true},
                      LineCase{"noted_in_junk_not_judged_by_received", "abc " + k2S + " junk", 5 * S, false},
                      LineCase{"junk_word_without_length", "abc junk", 3 * S, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoredUidlsTest, ANotedLineWithoutAHistoryIsNotStored) {
    folder.write(QStringLiteral("srndata2.uidl"), "abc 0\nsettled\n");
    EXPECT_EQ(read(), QSet<QString>{QStringLiteral("settled")});
}

TEST_F(StoredUidlsTest, NoteAppendAndRewriteAsTheCheckDoes) {
    ASSERT_TRUE(WriteStoredUidls(file, storedToday({QStringLiteral("old")})));
    auto notes = UidlNotes::Open(file);
    auto records = OpenHistoryForAppending(history);
    ASSERT_TRUE(notes && records);
    const auto noteThenStore = [&](const QString& uidl, bool stored) {
        ASSERT_TRUE(notes.value().note(uidl, records.value().length().value(), StoredUidl{kToday, {}, false}));
        if (stored) {
            ASSERT_TRUE(AppendRecord(records.value(), HistoryRecord{uidl, {}, {}, QStringLiteral("b")}, History::Received));
        }
    };
    noteThenStore(QStringLiteral("first"), true);
    // Killed here, before the second record went in.
    noteThenStore(QStringLiteral("second"), false);
    EXPECT_EQ(read(), (QSet<QString>{QStringLiteral("old"), QStringLiteral("first")}));

    // The next check settles the file before it notes anything; the line
    // for "second" must not come true when that check's records arrive.
    ASSERT_TRUE(WriteStoredUidls(file, readEntries()));
    notes = UidlNotes::Open(file);
    ASSERT_TRUE(notes);
    noteThenStore(QStringLiteral("third"), true);
    EXPECT_EQ(read(), (QSet<QString>{QStringLiteral("old"), QStringLiteral("first"), QStringLiteral("third")}));
}

TEST_F(StoredUidlsTest, AMissingFileListsNoneAndAnUnreadableOneIsAFailureLeftAlone) {
    EXPECT_TRUE(read().isEmpty());
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("srndata2.uidl")));
    EXPECT_FALSE(ReadStoredUidls(file, history, kToday));
    EXPECT_FALSE(WriteStoredUidls(file, storedToday({QStringLiteral("a")})));
    EXPECT_TRUE(QFileInfo(file).isDir()) << "never replaced";
}

TEST_F(StoredUidlsTest, ALinkIsNeitherFollowedNorReplaced) {
    folder.write(QStringLiteral("elsewhere"), "secret\n");
    ASSERT_TRUE(QFile::link(folder.path(QStringLiteral("elsewhere")), file));
    EXPECT_FALSE(ReadStoredUidls(file, history, kToday));
    EXPECT_FALSE(UidlNotes::Open(file));
    EXPECT_FALSE(WriteStoredUidls(file, storedToday({QStringLiteral("a")})));
    EXPECT_EQ(folder.read(QStringLiteral("elsewhere")), QByteArray("secret\n"));
}


// ---------------------------------------------------------------------------
// The lines with a day and a record

void PrintTo(const StoredUidl& entry, std::ostream* out) {
    *out << entry.stored.toString(Qt::ISODate).toStdString() << " record=" << entry.record.toStdString()
         << (entry.recordDeleted ? " deleted" : "");
}

const QByteArray kRec = "0123456789abcdef";
const QDate kDay(2026, 1, 2);

struct DayLineCase {
    const char* name;
    QByteArray line;
    qint64 historyLength;
    std::optional<StoredUidl> read;  // none: the line is left out
};

class StoredUidlDayLine : public StoredUidlsTest, public ::testing::WithParamInterface<DayLineCase> {};

TEST_P(StoredUidlDayLine, ReadsWhatTheLineSays) {
    historyOfLength(GetParam().historyLength);
    folder.write(QStringLiteral("srndata2.uidl"), "other\n" + GetParam().line + "\nlast stored=2020-02-29\n");
    const StoredUidls read = readEntries();
    EXPECT_EQ(read.contains(QStringLiteral("abc")), GetParam().read.has_value());
    if (GetParam().read) {
        EXPECT_EQ(read.value(QStringLiteral("abc")), *GetParam().read);
    }
    // A line that makes no sense costs no other line.
    EXPECT_EQ(read.value(QStringLiteral("other")), (StoredUidl{kToday, {}, false}));
    EXPECT_EQ(read.value(QStringLiteral("last")), (StoredUidl{QDate(2020, 2, 29), {}, false}));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StoredUidlDayLine,
    ::testing::Values(
        DayLineCase{"settled", "abc stored=2026-01-02 record=" + kRec, 0, StoredUidl{kDay, kRec, false}},
        DayLineCase{"settled_deleted", "abc stored=2026-01-02 record=" + kRec + " deleted", 0, StoredUidl{kDay, kRec, true}},
        DayLineCase{"words_in_any_order", "abc deleted record=" + kRec + " stored=2026-01-02\r", 0,
                    StoredUidl{kDay, kRec, true}},
        DayLineCase{"capital_hex_digits", "abc stored=2026-01-02 record=0123456789ABCDEF", 0, StoredUidl{kDay, kRec, false}},
        DayLineCase{"old_settled_takes_today", "abc", 0, StoredUidl{kToday, {}, false}},
        DayLineCase{"old_deleted_without_a_day", "abc deleted", 0, StoredUidl{kToday, {}, true}},
        DayLineCase{"noted_and_appended", "abc 0 stored=2026-01-02 record=" + kRec, S, StoredUidl{kDay, kRec, false}},
        DayLineCase{"noted_never_appended", "abc " + k2S + " stored=2026-01-02 record=" + kRec, 2 * S, std::nullopt},
        DayLineCase{"old_noted_takes_today", "abc 0", S, StoredUidl{kToday, {}, false}},
        DayLineCase{"no_such_day", "abc stored=2026-02-30 record=" + kRec, 0, std::nullopt},
        DayLineCase{"day_without_its_zeros", "abc stored=2026-1-2", 0, std::nullopt},
        DayLineCase{"short_record", "abc stored=2026-01-02 record=0123", 0, std::nullopt},
        DayLineCase{"record_not_hex", "abc stored=2026-01-02 record=0123456789abcdeg", 0, std::nullopt},
        DayLineCase{"day_twice", "abc stored=2026-01-02 stored=2026-01-03", 0, std::nullopt},
        DayLineCase{"deleted_twice", "abc stored=2026-01-02 deleted deleted", 0, std::nullopt},
        DayLineCase{"an_unknown_word", "abc stored=2026-01-02 keep", 0, std::nullopt},
        DayLineCase{"length_after_the_words", "abc stored=2026-01-02 0", S, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoredUidlsTest, WritesSettledLinesInUidlOrderAndReadsThemBack) {
    StoredUidls stored;
    stored.insert(QStringLiteral("b2"), StoredUidl{kDay, kRec, true});
    stored.insert(QStringLiteral("a1"), StoredUidl{kToday, "fedcba9876543210", false});
    stored.insert(QStringLiteral("c3"), StoredUidl{kDay, {}, false});  // from an old line
    stored.insert(QStringLiteral("bad uidl"), StoredUidl{kDay, kRec, false});
    ASSERT_TRUE(WriteStoredUidls(file, stored));
    EXPECT_EQ(folder.read(QStringLiteral("srndata2.uidl")),
              QByteArray("a1 stored=2026-12-09 record=fedcba9876543210\n"
                         "b2 stored=2026-01-02 record=0123456789abcdef deleted\n"
                         "c3 stored=2026-01-02\n"));
    stored.remove(QStringLiteral("bad uidl"));
    EXPECT_EQ(readEntries(QDate(2030, 1, 1)), stored) << "every day is in the file";
}

TEST_F(StoredUidlsTest, ANotedLineCarriesTheDayAndTheRecordAndSettlesWithThem) {
    auto notes = UidlNotes::Open(file);
    auto records = OpenHistoryForAppending(history);
    ASSERT_TRUE(notes && records);
    const HistoryRecord record{QStringLiteral("件名"), QStringLiteral("from@example.jp"), QStringLiteral("date"),
                               QStringLiteral("本文")};
    const QByteArray fingerprint = RecordFingerprint(record);
    // A noted line never says deleted, whatever it is handed.
    ASSERT_TRUE(notes.value().note(QStringLiteral("u1"), 0, StoredUidl{kDay, fingerprint, true}));
    EXPECT_EQ(folder.read(QStringLiteral("srndata2.uidl")), "u1 0 stored=2026-01-02 record=" + fingerprint + "\n");
    EXPECT_EQ(readEntries(), StoredUidls{}) << "its record is not there yet";
    ASSERT_TRUE(AppendRecord(records.value(), record, History::Received));
    EXPECT_EQ(readEntries(), (StoredUidls{{QStringLiteral("u1"), StoredUidl{kDay, fingerprint, false}}}));
}

// ---------------------------------------------------------------------------
// Fingerprints

struct FingerprintCase {
    const char* name;
    HistoryRecord record;
};

QString longBody(const QString& line, int lines) {
    QString body;
    for (int i = 0; i < lines; ++i) body += line + QStringLiteral("\r\n");
    return body;
}

class RecordFingerprintRoundTrip : public StoredUidlsTest, public ::testing::WithParamInterface<FingerprintCase> {};

TEST_P(RecordFingerprintRoundTrip, TheRecordReadBackGivesTheSameDigits) {
    const HistoryRecord& record = GetParam().record;
    const QByteArray stored = RecordFingerprint(record);
    ASSERT_EQ(stored.size(), 16);
    EXPECT_TRUE(QByteArray::fromHex(stored).toHex() == stored) << "hex digits, lower case";
    // The digits earlier versions wrote, through Qt's SHA-1: a UIDL file of
    // theirs must still name its records.
    const QByteArray encoded = EncodeRecord(record, History::Received);
    EXPECT_EQ(stored, QCryptographicHash::hash(QByteArrayView(encoded).first(record_layout::Live.offset),
                                               QCryptographicHash::Sha1)
                          .toHex()
                          .first(16));
    ASSERT_TRUE(AppendRecord(history, HistoryRecord{QStringLiteral("before"), {}, {}, QStringLiteral("x")}, History::Received));
    ASSERT_TRUE(AppendRecord(history, record, History::Received));
    const auto read = ReadRecord(history, 2);
    ASSERT_TRUE(read) << read.error().toStdString();
    EXPECT_EQ(RecordFingerprint(read.value()), stored);
    // The live mark is no part of it: the viewer's copy has it cleared.
    HistoryRecord marked = read.value();
    marked.Live = 0;
    EXPECT_EQ(RecordFingerprint(marked), stored);
}

// A body whose CR LF falls across the end of its field: the CR is kept and
// the LF cut.
QString bodyWithCrLfAtTheCut() { return QString(11999, u'a') + QStringLiteral("\r\nrest"); }

INSTANTIATE_TEST_SUITE_P(
    Records, RecordFingerprintRoundTrip,
    ::testing::Values(
        FingerprintCase{"japanese", {QStringLiteral("お知らせ（第２号）"), QStringLiteral("山田 <yamada@example.jp>"),
                                     QStringLiteral("Wed, 09 Dec 2026 12:00:00 +0900"),
                                     QStringLiteral("こんにちは。\r\n～①Ⅱ㈱\r\n")}},
        FingerprintCase{"blanks_around_and_full_width_blanks", {QStringLiteral("  subject  "), QStringLiteral(" a@b "),
                                                                QStringLiteral("\u3000date\u3000"),
                                                                QStringLiteral("  body  \r\n  ")}},
        FingerprintCase{"lone_line_ends", {QStringLiteral("s"), QStringLiteral("f"), QStringLiteral("d"),
                                           QStringLiteral("one\ntwo\rthree\r\n")}},
        FingerprintCase{"empty_fields", {}},
        FingerprintCase{"fields_cut_to_width", {QString(60, u'件'), QString(100, u'x'), QString(46, u'日'),
                                                longBody(QStringLiteral("長い本文の一行です。"), 1000)}},
        FingerprintCase{"cut_before_a_double_byte_character",
                        {QStringLiteral("a") + QString(60, u'あ'), {}, {}, QStringLiteral("b") + longBody(QStringLiteral("あ"), 5000)}},
        FingerprintCase{"crlf_across_the_cut", {QStringLiteral("s"), {}, {}, bodyWithCrLfAtTheCut()}},
        FingerprintCase{"characters_cp932_has_not", {QStringLiteral("😀 smile"), QStringLiteral("Ω"), {},
                                                     QStringLiteral("한국어 😀\r\n")}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordFingerprint, TellsRecordsApartByEveryField) {
    const HistoryRecord base{QStringLiteral("s"), QStringLiteral("f"), QStringLiteral("d"), QStringLiteral("body")};
    const QByteArray fingerprint = RecordFingerprint(base);
    for (const HistoryRecord& other :
         {HistoryRecord{QStringLiteral("s2"), QStringLiteral("f"), QStringLiteral("d"), QStringLiteral("body")},
          HistoryRecord{QStringLiteral("s"), QStringLiteral("f2"), QStringLiteral("d"), QStringLiteral("body")},
          HistoryRecord{QStringLiteral("s"), QStringLiteral("f"), QStringLiteral("d2"), QStringLiteral("body")},
          HistoryRecord{QStringLiteral("s"), QStringLiteral("f"), QStringLiteral("d"), QStringLiteral("body.")}})
        EXPECT_NE(RecordFingerprint(other), fingerprint) << other.Subject.toStdString() << other.Body.toStdString();
}

// ---------------------------------------------------------------------------
// The viewer's deletions

const QByteArray kA = "aaaaaaaaaaaaaaaa";
const QByteArray kB = "bbbbbbbbbbbbbbbb";

struct MarkCase {
    const char* name;
    QByteArray before;
    QList<QByteArray> deleted;  // fingerprints; the word "all" for every record
    QByteArray after;
};

class StoredUidlMarks : public StoredUidlsTest, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(StoredUidlMarks, MarkOnlyTheLinesOfTheDeletedRecords) {
    const MarkCase& c = GetParam();
    folder.write(QStringLiteral("srndata2.uidl"), c.before);
    const bool all = c.deleted == QList<QByteArray>{"all"};
    const Status noted = all ? NoteAllRecordsDeleted(file) : NoteRecordsDeleted(file, c.deleted);
    ASSERT_TRUE(noted) << noted.error().toStdString();
    EXPECT_EQ(folder.read(QStringLiteral("srndata2.uidl")), c.after);
}

const QByteArray kOldAndOdd = "old\nodd line here\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, StoredUidlMarks,
    ::testing::Values(
        MarkCase{"one_record", "u1 stored=2026-01-02 record=" + kA + "\nu2 stored=2026-01-02 record=" + kB + "\n" + kOldAndOdd,
                 {kB},
                 "u1 stored=2026-01-02 record=" + kA + "\nu2 stored=2026-01-02 record=" + kB + " deleted\n" + kOldAndOdd},
        MarkCase{"two_alike_one_deleted", "u1 stored=2026-01-02 record=" + kA + "\nu2 stored=2026-01-03 record=" + kA + "\n",
                 {kA},
                 "u1 stored=2026-01-02 record=" + kA + " deleted\nu2 stored=2026-01-03 record=" + kA + "\n"},
        MarkCase{"the_next_alike_once_the_first_is_marked",
                 "u1 stored=2026-01-02 record=" + kA + " deleted\nu2 stored=2026-01-03 record=" + kA + "\n",
                 {kA},
                 "u1 stored=2026-01-02 record=" + kA + " deleted\nu2 stored=2026-01-03 record=" + kA + " deleted\n"},
        MarkCase{"two_alike_both_deleted", "u1 stored=2026-01-02 record=" + kA + "\nu2 stored=2026-01-03 record=" + kA + "\n",
                 {kA, kA.toUpper()},
                 "u1 stored=2026-01-02 record=" + kA + " deleted\nu2 stored=2026-01-03 record=" + kA + " deleted\n"},
        MarkCase{"a_noted_line_is_settled_by_its_deleted_record", "u1 " + k2S + " stored=2026-01-02 record=" + kA + "\n",
                 {kA}, "u1 stored=2026-01-02 record=" + kA + " deleted\n"},
        MarkCase{"a_record_no_line_names", "u1 stored=2026-01-02 record=" + kA + "\n" + kOldAndOdd, {kB},
                 "u1 stored=2026-01-02 record=" + kA + "\n" + kOldAndOdd},
        MarkCase{"all", "u1 stored=2026-01-02 record=" + kA + "\nu2 stored=2026-01-02 record=" + kB + " deleted\n" +
                            kOldAndOdd + "u3 0 stored=2026-01-02 record=" + kB + "\n",
                 {"all"},
                 "u1 stored=2026-01-02 record=" + kA + " deleted\nu2 stored=2026-01-02 record=" + kB + " deleted\n" +
                     "old deleted\nodd line here\r\nu3 0 stored=2026-01-02 record=" + kB + "\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(StoredUidlsTest, MarkingAMissingFileMakesNoneAndALinkIsLeftAlone) {
    EXPECT_TRUE(NoteRecordsDeleted(file, {kA}));
    EXPECT_TRUE(NoteAllRecordsDeleted(file));
    EXPECT_FALSE(QFileInfo::exists(file));

    folder.write(QStringLiteral("elsewhere"), "u1 stored=2026-01-02 record=" + kA + "\n");
    ASSERT_TRUE(QFile::link(folder.path(QStringLiteral("elsewhere")), file));
    EXPECT_FALSE(NoteRecordsDeleted(file, {kA}));
    EXPECT_FALSE(NoteAllRecordsDeleted(file));
    EXPECT_TRUE(QFileInfo(file).isSymLink());
    EXPECT_EQ(folder.read(QStringLiteral("elsewhere")), "u1 stored=2026-01-02 record=" + kA + "\n");
}

TEST(StoredUidls, UsableUidlsAreRfc1939s) {
    EXPECT_TRUE(IsUsableUidl(QStringLiteral("00000001a1b2c3d4")));
    EXPECT_TRUE(IsUsableUidl(QString(70, u'~')));
    EXPECT_FALSE(IsUsableUidl(QString(71, u'x')));
    EXPECT_FALSE(IsUsableUidl(QString()));
    EXPECT_FALSE(IsUsableUidl(QStringLiteral("a b")));
    EXPECT_FALSE(IsUsableUidl(QStringLiteral("あ")));
}

}  // namespace
}  // namespace lumopet
