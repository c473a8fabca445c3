#include "store/address_book.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace lumopet {
namespace {

constexpr qsizetype S = 124;
const QByteArray kFullWidthBlank("\x81\x40");
const QByteArray kLive("\r\n\x01\x00", 4);
const QByteArray kMarked("\r\n\x00\x00", 4);

// A record as the Windows version wrote it: the two 60-byte fields as given
// (padding included) around CR LF and Live.
QByteArray windowsRecord(const QByteArray& name, const QByteArray& address, const QByteArray& middle = kLive) {
    EXPECT_EQ(name.size(), 60);
    EXPECT_EQ(address.size(), 60);
    return name + middle + address;
}

QByteArray blanks(qsizetype n) { return QByteArray(n, ' '); }

TEST(AddressRecord, FieldsArePaddedAndCutAsTheWindowsVersionWroteThem) {
    struct Case {
        const char* fault;
        QString name;
        QString address;
        QByteArray storedName;
        QByteArray storedAddress;
    };
    const QByteArray yamada("\x8e\x52\x93\x63");  // 山田
    const QByteArray a("\x82\xa0");                // あ
    const Case cases[] = {
        {"FourSingleByteLetters", QStringLiteral("abcd"), QStringLiteral("a@b.jp"),
         "abcd" + kFullWidthBlank.repeated(26) + blanks(4), "a@b.jp" + blanks(54)},
        {"TwoDoubleByteCharacters", QStringLiteral("山田"), QStringLiteral("y@x.jp"),
         yamada + kFullWidthBlank.repeated(28), "y@x.jp" + blanks(54)},
        {"ThirtyCharactersGetNoFullWidthBlank", QString(10, u'a') + QString(20, u'あ'), QStringLiteral("x"),
         QByteArray(10, 'a') + a.repeated(20) + blanks(10), "x" + blanks(59)},
        {"ThirtyOneCharactersCutToThirty", QString(31, u'b'), QStringLiteral("x"), QByteArray(30, 'b') + blanks(30),
         "x" + blanks(59)},
        {"AddressOf61Characters", QStringLiteral("n"), QString(61, u'z'),
         "n" + kFullWidthBlank.repeated(29) + blanks(1), QByteArray(60, 'z')},
        {"DoubleByteCharacterAtByte60", QStringLiteral("n"), QString(59, u'z') + QStringLiteral("あい"),
         "n" + kFullWidthBlank.repeated(29) + blanks(1), QByteArray(59, 'z') + blanks(1)},
        {"BlanksAreText", QStringLiteral(" "), QStringLiteral(" "), " " + kFullWidthBlank.repeated(29) + blanks(1),
         blanks(60)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(EncodeAddressRecord(c.name, c.address), windowsRecord(c.storedName, c.storedAddress));
    }
}

TEST(AddressRecord, WindowsRecordsReadWithTheirPadding) {
    struct Case {
        const char* fault;
        QByteArray bytes;
        AddressRecord decoded;
        QString bareName;
        QString bareAddress;
    };
    const Case cases[] = {
        {"JapaneseNameGarbled",
         windowsRecord("\x8e\x52\x93\x63" + kFullWidthBlank.repeated(28), "yamada@example.jp" + blanks(43)),
         {QStringLiteral("山田") + QString(28, u'\u3000'), QStringLiteral("yamada@example.jp") + QString(43, u' '), 1},
         QStringLiteral("山田"), QStringLiteral("yamada@example.jp")},
        {"MarkedRecordReadLive", windowsRecord("gone" + kFullWidthBlank.repeated(26) + blanks(4), blanks(60), kMarked),
         {QStringLiteral("gone") + QString(26, u'\u3000') + QString(4, u' '), QString(60, u' '), 0},
         QStringLiteral("gone"), QString()},
        {"NulInAFieldShownAsText",
         windowsRecord(QByteArray("ab\0cd", 5) + blanks(55), QByteArray(60, '\0'), QByteArray("\r\n\xff\xff", 4)),
         {QStringLiteral("ab"), QString(), -1}, QStringLiteral("ab"), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const AddressRecord record = DecodeAddressRecord(c.bytes);
        EXPECT_EQ(record.EntryName, c.decoded.EntryName);
        EXPECT_EQ(record.EntryAddress, c.decoded.EntryAddress);
        EXPECT_EQ(record.Live, c.decoded.Live);
        EXPECT_EQ(BareEntryText(record.EntryName), c.bareName);
        EXPECT_EQ(BareEntryText(record.EntryAddress), c.bareAddress);
        if (record.Live == 1) {
            EXPECT_EQ(EncodeAddressRecord(c.bareName, c.bareAddress), c.bytes) << "round trip";
        }
    }
}

class AddressBookTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    QString book = folder.path(QStringLiteral("Srndata20.data"));
    QString copy = folder.path(QStringLiteral("SRNDATA20.TMP"));

    QByteArray bookBytes() const { return folder.read(QStringLiteral("Srndata20.data")); }
    void writeBook(const QByteArray& bytes) const { folder.write(QStringLiteral("Srndata20.data"), bytes); }

    static QByteArray entry(const char* name, const QByteArray& middle = kLive) {
        QByteArray bytes = EncodeAddressRecord(QString::fromUtf8(name), QString::fromUtf8(name) + "@example.jp");
        bytes.replace(60, 4, middle);
        return bytes;
    }
    QStringList names() const {
        QStringList result;
        const auto records = ReadAddressRecords(book);
        EXPECT_TRUE(records.ok()) << records.error().toStdString();
        if (records)
            for (const AddressRecord& r : records.value()) result << BareEntryText(r.EntryName);
        return result;
    }
};

TEST_F(AddressBookTest, ReadingCreatesAMissingBookAndListsCompleteRecordsOnly) {
    const auto none = ReadAddressRecords(book);
    ASSERT_TRUE(none.ok()) << none.error().toStdString();
    EXPECT_TRUE(none.value().empty());
    EXPECT_TRUE(QFileInfo(book).isFile());
    EXPECT_EQ(QFileInfo(book).size(), 0);

    writeBook(entry("1") + entry("2", kMarked) + entry("3").left(S - 1));
    EXPECT_EQ(names(), (QStringList{QStringLiteral("1"), QStringLiteral("2")})) << "marked ones are listed too";
}

// The rounding itself is the histories' too, and tested there in full.
TEST_F(AddressBookTest, AppendGoesWhereTheRoundedLengthSays) {
    struct Case {
        const char* fault;
        std::optional<qsizetype> length;  // nothing: no file
        int n;
    };
    const Case cases[] = {
        {"MissingFile", std::nullopt, 1},
        {"OneAndAHalfRoundsUp", S * 3 / 2, 3},
        {"TwoAndAHalfRoundsDown", S * 5 / 2, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        QFile::remove(book);
        const QByteArray old = QByteArray(S, 'o').repeated(3).left(c.length.value_or(0));
        if (c.length) writeBook(old);
        const Result<int> n = AppendAddressEntry(book, QStringLiteral("新"), QStringLiteral("new@x.jp"));
        ASSERT_TRUE(n.ok()) << n.error().toStdString();
        EXPECT_EQ(n.value(), c.n);
        const QByteArray bytes = bookBytes();
        EXPECT_EQ(bytes.size(), std::max<qsizetype>(old.size(), c.n * S));
        EXPECT_EQ(bytes.left((c.n - 1) * S), old.left((c.n - 1) * S).leftJustified((c.n - 1) * S, '\0'));
        EXPECT_EQ(bytes.sliced((c.n - 1) * S, S), EncodeAddressRecord(QStringLiteral("新"), QStringLiteral("new@x.jp")));
    }
}

TEST_F(AddressBookTest, NoRecordPastNumber32767) {
    struct Case {
        const char* fault;
        qsizetype length;
        bool accepted;
    };
    const Case cases[] = {
        {"LastNumberStillFree", 32766 * S, true},
        {"Full", 32767 * S, false},
        {"AlmostFullRoundsToFull", 32766 * S + S / 2 + 1, false},
    };
    const QByteArray one = entry("x");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const QByteArray old = one.repeated(32767).left(c.length);
        writeBook(old);
        const Result<int> n = AppendAddressEntry(book, QStringLiteral("n"), QStringLiteral("a@b"));
        if (c.accepted) {
            ASSERT_TRUE(n.ok()) << n.error().toStdString();
            EXPECT_EQ(n.value(), 32767);
            EXPECT_EQ(QFileInfo(book).size(), 32767 * S);
        } else {
            ASSERT_FALSE(n.ok());
            EXPECT_TRUE(n.error().contains(QStringLiteral("32767"))) << n.error().toStdString();
            EXPECT_EQ(bookBytes(), old) << "nothing written";
        }
    }
}

TEST_F(AddressBookTest, DeletingTheFirstOfThreeMovesTheOthersUp) {
    for (const char* name : {"1", "2", "3"}) ASSERT_TRUE(AppendAddressEntry(book, QString::fromUtf8(name), "a@b").ok());
    const QByteArray before = bookBytes();
    EXPECT_FALSE(MarkAddressDeleted(book, 0).ok());
    EXPECT_FALSE(MarkAddressDeleted(book, 4).ok());
    ASSERT_TRUE(MarkAddressDeleted(book, 1).ok());
    ASSERT_TRUE(CompactAddressBook(book, copy).ok());
    EXPECT_EQ(bookBytes().size(), 248);
    EXPECT_EQ(bookBytes(), before.sliced(S));
    EXPECT_FALSE(QFileInfo::exists(copy));
}

TEST_F(AddressBookTest, CompactionKeepsEveryRecordNotMarked) {
    struct Case {
        const char* fault;
        QByteArray bytes;
        QByteArray after;
    };
    const QByteArray odd = entry("odd", QByteArray("\r\n\xff\xff", 4));
    const Case cases[] = {
        {"NothingMarkedNothingChanged", entry("1") + odd + entry("3"), entry("1") + odd + entry("3")},
        {"OnlyLiveZeroDropped", entry("1", kMarked) + odd + entry("3", kMarked), odd},
        {"AllMarkedLeavesAnEmptyBook", entry("1", kMarked), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        writeBook(c.bytes);
        ASSERT_TRUE(CompactAddressBook(book, copy).ok());
        EXPECT_EQ(bookBytes(), c.after);
        EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files), QStringList{QStringLiteral("Srndata20.data")});
    }
}

TEST_F(AddressBookTest, CrashDuringADeleteNeverLosesALiveEntry) {
    const QByteArray full = entry("1") + entry("2", kMarked) + entry("3");
    const QByteArray compacted = entry("1") + entry("3");
    struct Case {
        const char* fault;
        std::optional<QByteArray> book;
        QByteArray copy;
        Recovery expected;
        QByteArray bookAfter;
    };
    const Case cases[] = {
        // The Windows version copied the book, deleted it, rebuilt it.
        {"CrashedAfterTheCopyStep", full, full, Recovery::RemovedStaleCopy, full},
        {"CrashedAfterTheBookWasDeleted", std::nullopt, full, Recovery::RestoredFromCopy, full},
        {"CrashedWhileRebuilding", compacted.left(S + 10), full, Recovery::RestoredFromCopy, full},
        // Ours builds the copy beside the book and renames it.
        {"CrashedWhileBuilding", full, compacted.left(S + 7), Recovery::RemovedStaleCopy, full},
        {"CrashedBeforeTheRename", full, compacted, Recovery::RemovedStaleCopy, full},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        QDir(folder.path()).removeRecursively();
        QDir().mkpath(folder.path());
        if (c.book) writeBook(*c.book);
        folder.write(QStringLiteral("SRNDATA20.TMP"), c.copy);
        const Result<Recovery> recovery = RecoverAddressBookCopy(book, copy);
        ASSERT_TRUE(recovery.ok()) << recovery.error().toStdString();
        EXPECT_EQ(recovery.value(), c.expected);
        EXPECT_EQ(bookBytes(), c.bookAfter);
        EXPECT_FALSE(QFileInfo::exists(copy));
        if (c.book && c.expected == Recovery::RestoredFromCopy) {
            EXPECT_EQ(folder.read(QStringLiteral("Srndata20.data.replaced")), *c.book) << "kept beside";
        }
        ASSERT_TRUE(CompactAddressBook(book, copy).ok());
        EXPECT_EQ(names(), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
    }
}

TEST_F(AddressBookTest, OnlyARegularFileIsTheBook) {
    const QString elsewhere = folder.path(QStringLiteral("elsewhere"));
    struct Case {
        const char* fault;
        std::function<void()> make;
    };
    const Case cases[] = {
        {"LinkToAFile", [&] {
             folder.write(QStringLiteral("elsewhere"), entry("1", kMarked));
             ASSERT_TRUE(QFile::link(elsewhere, book));
         }},
        {"DanglingLink", [&] { ASSERT_TRUE(QFile::link(elsewhere, book)); }},
        {"Fifo", [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(book).constData(), 0600), 0); }},
        {"Folder", [&] { ASSERT_TRUE(QDir().mkdir(book)); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        QDir(folder.path()).removeRecursively();
        QDir().mkpath(folder.path());
        c.make();
        const QByteArray target = folder.read(QStringLiteral("elsewhere"));
        const auto read = ReadAddressRecords(book);
        ASSERT_FALSE(read.ok());
        EXPECT_TRUE(read.error().contains(book)) << read.error().toStdString();
        EXPECT_FALSE(AppendAddressEntry(book, QStringLiteral("n"), QStringLiteral("a@b")).ok());
        EXPECT_FALSE(MarkAddressDeleted(book, 1).ok());
        EXPECT_FALSE(CompactAddressBook(book, copy).ok());
        EXPECT_EQ(folder.read(QStringLiteral("elsewhere")), target) << "what a link points to is left alone";
        EXPECT_FALSE(QFileInfo(book).isFile() && !QFileInfo(book).isSymLink()) << "not replaced by a file";
        EXPECT_FALSE(QFileInfo::exists(copy));
    }
}

}  // namespace
}  // namespace lumopet
