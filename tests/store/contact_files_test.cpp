#include "store/contact_files.h"

#include "core/cp932.h"
#include "store/address_book.h"
#include "store/contact_import.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QFile>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <ostream>

namespace lumopet {

void PrintTo(const ContactEntry& entry, std::ostream* os) {
    *os << "{" << entry.name.toStdString() << ", " << entry.address.toStdString() << "}";
}

namespace {

using Entries = std::vector<ContactEntry>;

bool strictlyUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    (void)decoder.decode(bytes);
    return !decoder.hasError();
}

QByteArray sample(const char* name) {
    QFile file(QStringLiteral(LUMOPET_CONTACT_SAMPLES "/") + QString::fromLatin1(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

struct SampleCase {
    const char* file;
    Entries expected;
};

void PrintTo(const SampleCase& c, std::ostream* os) { *os << c.file; }

class ContactSample : public testing::TestWithParam<SampleCase> {};

TEST_P(ContactSample, GivesEveryAddressWithItsName) {
    const Result<Entries> read = ReadContacts(sample(GetParam().file));
    ASSERT_TRUE(read.ok()) << read.error().toStdString();
    EXPECT_EQ(read.value(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    WildShapes, ContactSample,
    testing::Values(
        // N only, raw Shift_JIS; FN in quoted-printable; N in quoted-printable
        // over a soft break; "表" ends in the byte of a backslash; a card
        // with a telephone only.
        SampleCase{"phone_vcard21_sjis.vcf",
                   {{QStringLiteral("山田 太郎"), QStringLiteral("taro.yamada@docomo.ne.jp")},
                    {QStringLiteral("山田 太郎"), QStringLiteral("yamada@example.co.jp")},
                    {QStringLiteral("佐藤　花子"), QStringLiteral("hanako@ezweb.ne.jp")},
                    {QStringLiteral("長谷川 祐太郎"), QStringLiteral("yutaro-hasegawa@softbank.ne.jp")},
                    {QStringLiteral("表 宗介"), QStringLiteral("sosuke.omote@example.ne.jp")}}},
        // A group prefix, an address folded in two, a fold through a UTF-8
        // character, and a card with N alone in Western order.
        SampleCase{"several_addresses_vcard30.vcf",
                   {{QStringLiteral("Dr. John Q. Smith, Jr."), QStringLiteral("john@example.com")},
                    {QStringLiteral("Dr. John Q. Smith, Jr."), QStringLiteral("j.smith@work.example.org")},
                    {QStringLiteral("Dr. John Q. Smith, Jr."), QStringLiteral("JOHN@HOME.EXAMPLE.NET")},
                    {QStringLiteral("鈴木 一郎"), QStringLiteral("ichiro@example.jp")},
                    {QStringLiteral("Mary O'Brien"), QStringLiteral("mary@example.ie")}}},
        // A quoted parameter with a colon and a semicolon in it.
        SampleCase{"contacts_vcard40.vcf",
                   {{QStringLiteral("田中, 花子"), QStringLiteral("hanako.tanaka@example.jp")},
                    {QStringLiteral("田中, 花子"), QStringLiteral("hanako@example.net")},
                    {QStringLiteral("Ann\\Lee"), QStringLiteral("ann@example.org")}}},
        // A BOM, two addresses in one cell, a quoted comma and a quoted line
        // break in other columns, a name from its parts, a row without address.
        SampleCase{"google_contacts.csv",
                   {{QStringLiteral("山田 太郎"), QStringLiteral("taro@example.jp")},
                    {QStringLiteral("山田 太郎"), QStringLiteral("taro2@example.jp")},
                    {QStringLiteral("山田 太郎"), QStringLiteral("yamada@work.example.jp")},
                    {QStringLiteral("Doe, Jane"), QStringLiteral("jane@example.com")},
                    {QStringLiteral("佐藤 花子"), QStringLiteral("hanako.sato@example.jp")}}},
        SampleCase{"outlook_cp932.csv",
                   {{QStringLiteral("山田 太郎"), QStringLiteral("taro@example.co.jp")},
                    {QStringLiteral("山田 太郎"), QStringLiteral("t.yamada@example.com")},
                    {QStringLiteral("John Smith"), QStringLiteral("john.smith@example.com")},
                    {QStringLiteral("John Smith"), QStringLiteral("john@smith.example")},
                    {QStringLiteral("表 宗介"), QStringLiteral("sosuke@example.ne.jp")}}}),
    [](const testing::TestParamInfo<SampleCase>& info) {
        std::string name = info.param.file;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

struct TextCase {
    const char* fault;
    QByteArray bytes;
    Entries expected;
};

TEST(VCardReading, LineShapesAndEncodings) {
    const QByteArray sjisYamada = cp932::encode(u"山田");
    const TextCase cases[] = {
        {"FoldIn30DropsOneBlank", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Jo\r\n  Ann\r\nEMAIL:j@x\r\nEND:VCARD\r\n",
         {{QStringLiteral("Jo Ann"), QStringLiteral("j@x")}}},
        {"FoldIn21KeepsTheBlank", "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Jo\r\n Ann\r\nEMAIL:j@x\r\nEND:VCARD\r\n",
         {{QStringLiteral("Jo Ann"), QStringLiteral("j@x")}}},
        {"LineFeedsOnly", "BEGIN:VCARD\nVERSION:4.0\nFN:A\nEMAIL:a@x\nEND:VCARD\n",
         {{QStringLiteral("A"), QStringLiteral("a@x")}}},
        {"BomAndLowerCaseNames", "\xEF\xBB\xBF" "begin:vcard\r\nversion:3.0\r\nfn:B\r\nemail:b@x\r\nend:vcard\r\n",
         {{QStringLiteral("B"), QStringLiteral("b@x")}}},
        {"LastCardWithoutEnd", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:C\r\nEMAIL:c@x\r\n",
         {{QStringLiteral("C"), QStringLiteral("c@x")}}},
        {"BareQuotedPrintableParameter",
         "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;QUOTED-PRINTABLE;CHARSET=SHIFT_JIS:=8E=52=\r\n=93=63\r\nEMAIL:y@x\r\nEND:VCARD\r\n",
         {{QStringLiteral("山田"), QStringLiteral("y@x")}}},
        {"QuotedPrintableUtf8WithoutCharset",
         "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;ENCODING=QUOTED-PRINTABLE:=E5=B1=B1=E7=94=B0\r\nEMAIL:y@x\r\nEND:VCARD\r\n",
         {{QStringLiteral("山田"), QStringLiteral("y@x")}}},
        {"RawShiftJisWithoutCharset", "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:" + sjisYamada + "\r\nEMAIL:y@x\r\nEND:VCARD\r\n",
         {{QStringLiteral("山田"), QStringLiteral("y@x")}}},
        {"Base64Name", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN;ENCODING=b:5bGx55Sw\r\nEMAIL:y@x\r\nEND:VCARD\r\n",
         {{QStringLiteral("山田"), QStringLiteral("y@x")}}},
        {"MailtoAndBlanksAroundAddress", "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:D\r\nEMAIL: mailto:d@x \r\nEND:VCARD\r\n",
         {{QStringLiteral("D"), QStringLiteral("d@x")}}},
        {"EscapedLineBreakInNameIsABlank", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:E\\nF\r\nEMAIL:e@x\r\nEND:VCARD\r\n",
         {{QStringLiteral("E F"), QStringLiteral("e@x")}}},
        {"EmptyFnFallsBackToN", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:\r\nN:Doe;John;;;\r\nEMAIL:j@x\r\nEND:VCARD\r\n",
         {{QStringLiteral("John Doe"), QStringLiteral("j@x")}}},
        {"EscapedSemicolonInFamilyName", "BEGIN:VCARD\r\nVERSION:3.0\r\nN:A\\;B;C;;;\r\nEMAIL:a@x\r\nEND:VCARD\r\n",
         {{QStringLiteral("C A;B"), QStringLiteral("a@x")}}},
        {"NoNameAtAll", "BEGIN:VCARD\r\nVERSION:3.0\r\nEMAIL:n@x\r\nEND:VCARD\r\n", {{QString(), QStringLiteral("n@x")}}},
        {"NothingOutsideACard", "FN:X\r\nEMAIL:x@x\r\n", {}},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.fault);
        EXPECT_EQ(ReadVCardContacts(c.bytes), c.expected);
    }
}

TEST(CsvReading, ColumnsQuotingAndEncodings) {
    QByteArray utf16("\xFF\xFE", 2);
    const QString utf16Text = QStringLiteral("Name,E-mail 1 - Value\r\n山田,y@x\r\n");
    utf16 += QByteArray(reinterpret_cast<const char*>(utf16Text.utf16()), utf16Text.size() * 2);
    const TextCase cases[] = {
        {"NewerGoogleExport",
         "First Name,Middle Name,Last Name,Phonetic First Name,E-mail 1 - Label,E-mail 1 - Value\r\n"
         "John,Q,Public,,* Home,jqp@x\r\n",
         {{QStringLiteral("John Q Public"), QStringLiteral("jqp@x")}}},
        {"NewerGoogleExportJapaneseName", "First Name,Last Name,E-mail 1 - Value\n太郎,山田,t@x\n",
         {{QStringLiteral("山田 太郎"), QStringLiteral("t@x")}}},
        {"JapaneseOutlookColumns",
         cp932::encode(u"\"名\",\"姓\",\"電子メール アドレス\",\"電子メール 2 アドレス\"\r\n\"花子\",\"佐藤\",\"h@x\",\"s@x\"\r\n"),
         {{QStringLiteral("佐藤 花子"), QStringLiteral("h@x")}, {QStringLiteral("佐藤 花子"), QStringLiteral("s@x")}}},
        {"Utf16WithBom", utf16, {{QStringLiteral("山田"), QStringLiteral("y@x")}}},
        {"DoubledQuotesAndLineBreakInName", "Name,E-mail 1 - Value\r\n\"Al \"\"The\"\"\r\nPal\",a@x\r\n",
         {{QStringLiteral("Al \"The\" Pal"), QStringLiteral("a@x")}}},
        {"LastRowWithoutLineEnd", "Name,E-mail 1 - Value\r\nB,b@x", {{QStringLiteral("B"), QStringLiteral("b@x")}}},
        {"BlankLinesAndShortRows", "Name,Notes,E-mail 1 - Value\r\n\r\nC\r\nD,,d@x\r\n",
         {{QStringLiteral("D"), QStringLiteral("d@x")}}},
        {"ColumnNamesInOtherCaseAndSpacing", "name,e-mail  2 - value\r\nE,e@x\r\n", {{QStringLiteral("E"), QStringLiteral("e@x")}}},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.fault);
        const Result<Entries> read = ReadContacts(c.bytes);
        ASSERT_TRUE(read.ok()) << read.error().toStdString();
        EXPECT_EQ(read.value(), c.expected);
    }
    EXPECT_FALSE(ReadCsvContacts("Name,Phone 1 - Value\r\nA,123\r\n").ok());
}

TEST(ContactWriting, VCardIsEscapedFoldedUtf8WithCrLf) {
    EXPECT_EQ(WriteVCard4({{QStringLiteral("Doe, J\\D;"), QStringLiteral("j@x")}}),
              "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:Doe\\, J\\\\D;\r\nEMAIL:j@x\r\nEND:VCARD\r\n");
    // Sixty kanji are 180 octets: three lines, each at most 75 octets with
    // the blank that starts it, no character split.
    const QByteArray card = WriteVCard4({{QString(60, u'漢'), QStringLiteral("k@x")}});
    const QList<QByteArray> lines = card.split('\n');
    for (const QByteArray& line : lines) {
        EXPECT_LE(line.size(), 76) << line.constData();  // with its CR
        EXPECT_TRUE(strictlyUtf8(line)) << line.constData();
    }
    EXPECT_EQ(lines.size(), 8);
    EXPECT_EQ(ReadVCardContacts(card), (Entries{{QString(60, u'漢'), QStringLiteral("k@x")}}));
}

TEST(ContactWriting, GoogleCsvQuotesOnlyWhereNeeded) {
    EXPECT_EQ(WriteGoogleCsv({{QStringLiteral("Plain"), QStringLiteral("p@x")},
                              {QStringLiteral("Doe, \"J\""), QStringLiteral("j@x")},
                              {QStringLiteral("山田"), QStringLiteral("y@x")}}),
              QByteArray("Name,E-mail 1 - Value\r\nPlain,p@x\r\n\"Doe, \"\"J\"\"\",j@x\r\n") +
                  QStringLiteral("山田,y@x\r\n").toUtf8());
}

// ---- The book ----

class ContactImport : public testing::Test {
protected:
    QString book() const { return folder.path(QStringLiteral("Srndata20.data")); }
    Entries live() const {
        const Result<Entries> entries = LiveAddressEntries(book());
        EXPECT_TRUE(entries.ok());
        return entries.ok() ? entries.value() : Entries{};
    }
    test::TempFolder folder;
};

TEST_F(ContactImport, SkipsAddressesTheBookHoldsAndCountsCuts) {
    ASSERT_TRUE(AppendAddressEntry(book(), QStringLiteral("既存"), QStringLiteral("Known@Example.jp")).ok());
    ASSERT_TRUE(AppendAddressEntry(book(), QStringLiteral("消した"), QStringLiteral("gone@x")).ok());
    ASSERT_TRUE(MarkAddressDeleted(book(), 2).ok());
    const QString longAddress = QString(61, u'z');
    const Entries contacts = {
        {QStringLiteral("同じ"), QStringLiteral("  known@example.JP ")},       // in the book, other case and blanks
        {QStringLiteral("消した人"), QStringLiteral("gone@x")},                 // only a marked entry has it
        {QString(31, u'長'), QStringLiteral("long-name@x")},                   // name over 30 characters
        {QStringLiteral("a"), longAddress},                                    // address over 60 characters
        {QStringLiteral("b"), QString(61, u'Z')},                              // cut, it is the one before
        {QStringLiteral("c"), QString(59, u'y') + QStringLiteral("あ")},      // 61 bytes: cut before あ
        {QStringLiteral("d"), QStringLiteral("long-name@X")},                  // earlier in the same file
        {QStringLiteral("e"), QStringLiteral("   ")},                          // no address: passed over
        {QString(30, u'ち'), QStringLiteral("exact@x")},                       // exactly 30: not cut
    };
    const ContactImportCounts counts = ImportContacts(book(), contacts);
    EXPECT_EQ(counts.taken, 5);
    EXPECT_EQ(counts.skipped, 3);
    EXPECT_EQ(counts.cut, 3);
    EXPECT_EQ(counts.notTaken, 0);
    EXPECT_TRUE(counts.error.isEmpty()) << counts.error.toStdString();
    const Entries expected = {
        {QStringLiteral("既存"), QStringLiteral("Known@Example.jp")},
        {QStringLiteral("消した人"), QStringLiteral("gone@x")},
        {QString(30, u'長'), QStringLiteral("long-name@x")},
        {QStringLiteral("a"), QString(60, u'z')},
        {QStringLiteral("c"), QString(59, u'y')},
        {QString(30, u'ち'), QStringLiteral("exact@x")},
    };
    EXPECT_EQ(live(), expected);
    // The same file again adds nothing.
    const ContactImportCounts again = ImportContacts(book(), contacts);
    EXPECT_EQ(again.taken, 0);
    EXPECT_EQ(again.skipped, 8);
}

TEST_F(ContactImport, StopsAtTheBooksLimit) {
    // The book two short of full, as raw records: appending them one by
    // one would flush 32,765 times.
    const QByteArray record = EncodeAddressRecord(QStringLiteral("n"), QStringLiteral("filler@x"));
    folder.write(QStringLiteral("Srndata20.data"), record.repeated(kMaxAddressEntries - 2));
    const Entries contacts = {{QStringLiteral("1"), QStringLiteral("one@x")},
                              {QStringLiteral("dup"), QStringLiteral("FILLER@x")},
                              {QStringLiteral("2"), QStringLiteral("two@x")},
                              {QStringLiteral("3"), QStringLiteral("three@x")},
                              {QStringLiteral("4"), QStringLiteral("four@x")}};
    const ContactImportCounts counts = ImportContacts(book(), contacts);
    EXPECT_EQ(counts.taken, 2);
    EXPECT_EQ(counts.skipped, 1);
    EXPECT_EQ(counts.notTaken, 2);
    EXPECT_TRUE(counts.error.isEmpty());
    EXPECT_EQ(QFile(book()).size(), qint64{kMaxAddressEntries} * kAddressRecordSize);
    EXPECT_EQ(ContactImportSentence(counts),
              QStringLiteral("2 件を取り込みました（重複 1 件は飛ばしました）。"
                             "アドレス帳がいっぱい（32767 件）のため、残りの 2 件は取り込めませんでした。"));
}

TEST_F(ContactImport, ExportThenImportIntoAnEmptyBookGivesTheSameEntries) {
    const Entries entries = {
        {QStringLiteral("山田 太郎"), QStringLiteral("taro@example.jp")},
        {QStringLiteral("Doe, \"Jane\"; Jr."), QStringLiteral("jane@example.com")},
        {QStringLiteral("back\\slash"), QStringLiteral("b@x")},
        {QString(30, u'髙'), QStringLiteral("thirty@x")},
        {QString(), QStringLiteral("nameless@x")},
        {QStringLiteral("ﾊﾝｶｸ カナ"), QString(60, u'q')},
    };
    for (const ContactEntry& entry : entries) ASSERT_TRUE(AppendAddressEntry(book(), entry.name, entry.address).ok());
    const Entries stored = live();
    ASSERT_EQ(stored.size(), entries.size());
    struct Format {
        const char* name;
        QByteArray (*write)(const Entries&);
    };
    for (const Format& format : {Format{"vCard", WriteVCard4}, Format{"CSV", WriteGoogleCsv}}) {
        SCOPED_TRACE(format.name);
        const Result<Entries> read = ReadContacts(format.write(stored));
        ASSERT_TRUE(read.ok());
        test::TempFolder other;
        const QString empty = other.path(QStringLiteral("Srndata20.data"));
        const ContactImportCounts counts = ImportContacts(empty, read.value());
        EXPECT_EQ(counts.taken, static_cast<int>(entries.size()));
        EXPECT_EQ(counts.cut, 0);
        EXPECT_EQ(LiveAddressEntries(empty).value(), stored);
        QFile a(book()), b(empty);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        EXPECT_EQ(a.readAll(), b.readAll());
    }
}

TEST(ContactImportSentence, SaysWhatHappened) {
    struct Case {
        ContactImportCounts counts;
        QString sentence;
    };
    const Case cases[] = {
        {{12, 3, 2, 0, {}}, QStringLiteral("12 件を取り込みました（重複 3 件は飛ばし、2 件は長すぎるため切り詰めました）。")},
        {{12, 0, 0, 0, {}}, QStringLiteral("12 件を取り込みました。")},
        {{4, 0, 1, 0, {}}, QStringLiteral("4 件を取り込みました（1 件は長すぎるため切り詰めました）。")},
        {{0, 5, 0, 0, {}}, QStringLiteral("0 件を取り込みました（重複 5 件は飛ばしました）。")},
        {{0, 0, 0, 0, {}}, QStringLiteral("取り込める連絡先はありませんでした。")},
        {{0, 0, 0, 3, QStringLiteral("書けません。")}, QStringLiteral("書けません。")},
        {{2, 0, 0, 3, QStringLiteral("書けません。")}, QStringLiteral("2 件を取り込みました。書けません。")},
    };
    for (const Case& c : cases) EXPECT_EQ(ContactImportSentence(c.counts), c.sentence);
}

}  // namespace
}  // namespace lumopet
