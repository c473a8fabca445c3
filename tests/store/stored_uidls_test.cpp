// The list of stored messages' UIDLs: what a crash may leave in it, and
// which of its lines may let a message be deleted from the server.

#include "store/history_file.h"
#include "store/stored_uidls.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>

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

    void historyOfLength(qint64 length) { folder.write(QStringLiteral("srndata2.data"), QByteArray(length, ' ')); }
    StoredUidls readEntries(QDate today = kToday) {
        const auto uidls = ReadStoredUidls(file, history, today);
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
                      LineCase{"control_character", "ab\x01" "c", 0, false}),
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
