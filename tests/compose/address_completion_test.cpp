// Address completion as logic: reading the stored address texts, the
// address being typed in a box, the people a query finds and in what order,
// and the index read from the address book and the histories.

#include "compose/address_completion.h"
#include "store/address_book.h"
#include "store/history_file.h"
#include "tests/support/qt_printers.h"
#include "tests/support/temp_folder.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace lumopet {
namespace {

QStringList Displays(const std::vector<KnownPerson>& people) {
    QStringList shown;
    for (const KnownPerson& person : people) shown << person.display();
    return shown;
}

struct ParseCase {
    const char* name;
    const char16_t* text;
    std::optional<const char16_t*> display;  // nothing: not an address
};

class ParsePersonTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParsePersonTest, ReadsOneWholeAddress) {
    const ParseCase& c = GetParam();
    const auto person = ParsePerson(QString::fromUtf16(c.text));
    ASSERT_EQ(person.has_value(), c.display.has_value());
    if (person) {
        EXPECT_EQ(person->display(), QString::fromUtf16(*c.display));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParsePersonTest,
    ::testing::Values(ParseCase{"Bare", u"  taro@example.jp ", u"taro@example.jp"},
                      ParseCase{"NameAndBrackets", u"山田 太郎 <taro@example.jp>", u"山田 太郎 <taro@example.jp>"},
                      // The name's comma would split the box: it stays quoted.
                      ParseCase{"QuotedNameWithComma", u"\"Yamada, Taro\" <taro@example.jp>",
                                u"\"Yamada, Taro\" <taro@example.jp>"},
                      ParseCase{"QuotesDroppedWhenNotNeeded", u"\"山田\" <taro@example.jp>", u"山田 <taro@example.jp>"},
                      ParseCase{"EscapedQuoteInName", u"\"say \\\"hi\\\"\" <a@b.jp>", u"\"say \\\"hi\\\"\" <a@b.jp>"},
                      ParseCase{"CommentName", u"taro@example.jp (山田)", u"山田 <taro@example.jp>"},
                      ParseCase{"ControlCharactersInName", u"山田\t太郎\u0001\r\n <t@x.jp>", u"山田 太郎 <t@x.jp>"},
                      // The history keeps 90 bytes of the sender: cut inside the brackets.
                      ParseCase{"ColumnCutInsideBrackets", u"山田 太郎 <taro@exam", std::nullopt},
                      ParseCase{"TwoAddresses", u"a@example.jp, b@example.jp", std::nullopt},
                      ParseCase{"NoAt", u"山田 <taro>", std::nullopt},
                      ParseCase{"BlankInAddress", u"taro yamada@example.jp", std::nullopt},
                      ParseCase{"Empty", u"   ", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct SegmentCase {
    const char* name;
    const char16_t* text;
    qsizetype cursor;
    const char16_t* query;
    qsizetype start;
    qsizetype end;
};

class SegmentTest : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(SegmentTest, FindsTheAddressBeingTyped) {
    const SegmentCase& c = GetParam();
    const QString text = QString::fromUtf16(c.text);
    EXPECT_EQ(QueryAt(text, c.cursor), QString::fromUtf16(c.query));
    const TypedSegment segment = SegmentAt(text, c.cursor);
    EXPECT_EQ(segment.start, c.start);
    EXPECT_EQ(segment.end, c.end);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SegmentTest,
    ::testing::Values(SegmentCase{"Alone", u"tar", 3, u"tar", 0, 3},
                      SegmentCase{"AfterComma", u"a@b.jp, tar", 11, u"tar", 8, 11},
                      SegmentCase{"AfterIdeographicComma", u"a@b.jp、やま", 9, u"やま", 7, 9},
                      SegmentCase{"QuotedCommaIsNoSeparator", u"\"Yamada, Taro\" <t", 17, u"\"Yamada, Taro\" <t", 0, 17},
                      SegmentCase{"CommaInCommentIsNoSeparator", u"t@x.jp (a, b) ta", 16, u"t@x.jp (a, b) ta", 0, 16},
                      // The cursor in the middle address: the segment runs to the next separator.
                      SegmentCase{"MiddleOfThree", u"a@x.jp, tanaka, b@y.jp", 10, u"ta", 8, 14},
                      SegmentCase{"CursorInLeadingBlanks", u"a@x.jp,   b", 8, u"", 10, 11},
                      SegmentCase{"LineBreakIsBlank", u"a@x.jp;\nya", 10, u"ya", 8, 10}),
    [](const auto& info) { return std::string(info.param.name); });

// The people every query case searches.
AddressIndex SampleIndex() {
    AddressIndex index;
    index.add({QStringLiteral("山田 太郎"), QStringLiteral("taro.yamada@example.jp")}, PersonSource::AddressBook);
    index.add({QStringLiteral("ヤマモト ハナコ"), QStringLiteral("hanako@example.jp")}, PersonSource::AddressBook);
    index.add({QStringLiteral("Tanaka Ichiro"), QStringLiteral("ichiro@tanaka.example")}, PersonSource::History);
    index.add({QString(), QStringLiteral("satake@example.com")}, PersonSource::History);
    // Met three times: before the one met once among the history's people.
    for (int i = 0; i < 3; ++i)
        index.add({QStringLiteral("Tamura"), QStringLiteral("tamura@example.org")}, PersonSource::History);
    return index;
}

struct QueryCase {
    const char* name;
    const char16_t* query;
    std::vector<const char16_t*> found;
};

class CompleteTest : public ::testing::TestWithParam<QueryCase> {};

TEST_P(CompleteTest, FindsByNameOrAddressInOrder) {
    const QueryCase& c = GetParam();
    QStringList expected;
    for (const char16_t* display : c.found) expected << QString::fromUtf16(display);
    EXPECT_EQ(Displays(SampleIndex().complete(QString::fromUtf16(c.query))), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CompleteTest,
    ::testing::Values(
        QueryCase{"AddressPrefix", u"hana", {u"ヤマモト ハナコ <hanako@example.jp>"}},
        QueryCase{"CaseAndWidthIgnored", u"ＴＡＮａｋａ", {u"Tanaka Ichiro <ichiro@tanaka.example>"}},
        // Names folded as the search folds them (its own rows are in
        // search_text_test.cpp): hiragana finds katakana.
        QueryCase{"HiraganaFindsKatakana", u"やまもと", {u"ヤマモト ハナコ <hanako@example.jp>"}},
        // "ta": starts Tamura, Tanaka, taro.yamada; only contained in satake.
        // The book's first, then the one met most, then in order.
        QueryCase{"PrefixBeforeContainsBookBeforeHistory",
                  u"ta",
                  {u"山田 太郎 <taro.yamada@example.jp>", u"Tamura <tamura@example.org>",
                   u"Tanaka Ichiro <ichiro@tanaka.example>", u"satake@example.com"}},
        QueryCase{"BlanksAroundQuery", u"  satake ", {u"satake@example.com"}},
        QueryCase{"EmptyQueryFindsNobody", u"   ", {}},
        QueryCase{"NoMatch", u"zzz", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AddressIndex, StopsAtTheLimitWithPrefixMatchesFirst) {
    AddressIndex index;
    for (int i = 0; i < 20; ++i)
        index.add({QString(), QStringLiteral("x%1user@example.jp").arg(i, 2, 10, QLatin1Char('0'))}, PersonSource::History);
    index.add({QString(), QStringLiteral("user@example.jp")}, PersonSource::History);
    const auto found = index.complete(u"user", kCompletionLimit);
    ASSERT_EQ(found.size(), static_cast<size_t>(kCompletionLimit));
    EXPECT_EQ(found.front().address, QStringLiteral("user@example.jp"));
    EXPECT_EQ(index.complete(u"user", 3).size(), 3u);
}

struct DedupeCase {
    const char* name;
    std::vector<std::pair<KnownPerson, PersonSource>> added;
    const char16_t* display;
};

class DedupeTest : public ::testing::TestWithParam<DedupeCase> {};

TEST_P(DedupeTest, KeepsOnePersonPerAddress) {
    AddressIndex index;
    for (const auto& [person, source] : GetParam().added) index.add(person, source);
    ASSERT_EQ(index.size(), 1);
    const auto found = index.complete(u"taro");
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].display(), QString::fromUtf16(GetParam().display));
}

const KnownPerson kBookTaro{QStringLiteral("山田太郎"), QStringLiteral("Taro@Example.jp")};
const KnownPerson kHistoryTaro{QStringLiteral("Taro Y."), QStringLiteral("taro@example.JP")};
const KnownPerson kLaterTaro{QStringLiteral("山田 太郎 (営業)"), QStringLiteral("TARO@example.jp")};
const KnownPerson kBareTaro{QString(), QStringLiteral("taro@example.jp")};

INSTANTIATE_TEST_SUITE_P(
    Cases, DedupeTest,
    ::testing::Values(
        DedupeCase{"BookNameKeptOverHistory",
                   {{kBookTaro, PersonSource::AddressBook}, {kHistoryTaro, PersonSource::History}},
                   u"山田太郎 <Taro@Example.jp>"},
        DedupeCase{"BookNameReplacesHistoryName",
                   {{kHistoryTaro, PersonSource::History}, {kBookTaro, PersonSource::AddressBook}},
                   u"山田太郎 <taro@example.JP>"},
        DedupeCase{"LaterHistoryNameReplacesEarlier",
                   {{kHistoryTaro, PersonSource::History}, {kLaterTaro, PersonSource::History}},
                   u"\"山田 太郎 (営業)\" <taro@example.JP>"},
        DedupeCase{"NameFillsBareAddress", {{kBareTaro, PersonSource::History}, {kHistoryTaro, PersonSource::History}},
                   u"\"Taro Y.\" <taro@example.jp>"},
        DedupeCase{"BareAddressLeavesName", {{kHistoryTaro, PersonSource::History}, {kBareTaro, PersonSource::History}},
                   u"\"Taro Y.\" <taro@example.JP>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BuildAddressIndex, ReadsLiveBookEntriesSendersAndRecipients) {
    test::TempFolder folder;
    const AddressSources sources{folder.path(QStringLiteral("Srndata20.data")), folder.path(QStringLiteral("srndata2.data")),
                                 folder.path(QStringLiteral("srndata5.data"))};
    ASSERT_TRUE(AppendAddressEntry(sources.addressBook, QStringLiteral("山田 太郎"), QStringLiteral("taro@example.jp")));
    ASSERT_TRUE(AppendAddressEntry(sources.addressBook, QStringLiteral("消した人"), QStringLiteral("gone@example.jp")));
    ASSERT_TRUE(MarkAddressDeleted(sources.addressBook, 2));
    const auto received = [&](const QString& from) {
        ASSERT_TRUE(AppendRecord(sources.receivedHistory, {QStringLiteral("件名"), from, QStringLiteral("2026/12/10"),
                                                           QStringLiteral("本文")},
                                 History::Received));
    };
    received(QStringLiteral("\"Sato, Jiro\" <jiro@example.net>"));
    received(QStringLiteral("TARO@example.jp"));
    received(QStringLiteral("長い名前の人 <longname@exam"));  // cut at 90 bytes
    ASSERT_TRUE(AppendRecord(sources.sentHistory,
                             {QStringLiteral("件名"), QStringLiteral("2026/12/10 10:00"),
                              QStringLiteral("hanako@example.org、鈴木 <suzuki@example.com>"), QStringLiteral("本文")},
                             History::Sent));

    const AddressIndex index = BuildAddressIndex(sources);
    EXPECT_EQ(index.size(), 4);
    EXPECT_EQ(Displays(index.complete(u"taro")), QStringList{QStringLiteral("山田 太郎 <taro@example.jp>")});
    EXPECT_EQ(Displays(index.complete(u"jiro")), QStringList{QStringLiteral("\"Sato, Jiro\" <jiro@example.net>")});
    EXPECT_EQ(Displays(index.complete(u"鈴木")), QStringList{QStringLiteral("鈴木 <suzuki@example.com>")});
    EXPECT_EQ(Displays(index.complete(u"hanako")), QStringList{QStringLiteral("hanako@example.org")});
    EXPECT_TRUE(index.complete(u"gone").empty());
    EXPECT_TRUE(index.complete(u"longname").empty());
}

TEST(BuildAddressIndex, MissingFilesGiveNobodyAndCreateNothing) {
    test::TempFolder folder;
    const AddressSources sources{folder.path(QStringLiteral("Srndata20.data")), folder.path(QStringLiteral("srndata2.data")),
                                 folder.path(QStringLiteral("srndata5.data"))};
    EXPECT_EQ(BuildAddressIndex(sources).size(), 0);
    EXPECT_FALSE(QFileInfo::exists(sources.addressBook));
}

}  // namespace
}  // namespace lumopet
