// Searching a history file: which records a query finds, by the numbers the
// window lists them under.

#include "store/history_file.h"
#include "tests/support/temp_folder.h"
#include "viewer/history_search.h"
#include "viewer/search_text.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QString>

#include <atomic>
#include <vector>

namespace {

using namespace lumopet;

const std::atomic<bool> kGoOn{false};

// A small received history: record 2 is marked for deletion, and still
// listed.
class SmallHistory : public testing::Test {
protected:
    void SetUp() override {
        const std::vector<HistoryRecord> records{
            {u"会議のお知らせ"_qs, u"山田 太郎 <taro@example.jp>"_qs, u"2026/12/07 12:05"_qs,
             u"明日の会議は１０時からです。\r\nよろしくお願いします。"_qs, 1},
            {u"ｾｰﾙのご案内"_qs, u"Shop <info@shop.example>"_qs, u"2026/11/30 08:00"_qs,
             u"ＳＡＬＥ開催中！\r\nＷｅｂでどうぞ。"_qs, 1},
            {u"Re: 見積もり"_qs, u"佐藤 花子 <hanako@example.co.jp>"_qs, u"2026/12/01 09:30"_qs,
             u"カタログを添付しました。"_qs, 1},
            {u"Weekly Report"_qs, u"report@example.com"_qs, u"2026/12/08 18:45"_qs, u"No news this week."_qs, 1},
        };
        for (const HistoryRecord& record : records) ASSERT_TRUE(AppendRecord(file, record, History::Received).ok());
        ASSERT_TRUE(MarkDeleted(file, 2, records[1]).ok());
    }
    test::TempFolder folder;
    const QString file = folder.path(QStringLiteral("srndata2.data"));
};

struct QueryCase {
    const char16_t* query;
    std::vector<int> records;
};

class SmallHistoryQuery : public SmallHistory, public testing::WithParamInterface<QueryCase> {};

TEST_P(SmallHistoryQuery, FindsExactlyTheseRecords) {
    const QueryCase& c = GetParam();
    const HistorySearchResult result = SearchHistory(file, QString::fromUtf16(c.query), kGoOn);
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.records, c.records) << qPrintable(QString::fromUtf16(c.query));
}

INSTANTIATE_TEST_SUITE_P(
    Queries, SmallHistoryQuery,
    testing::Values(QueryCase{u"会議", {1}},                  // subject and body
                    QueryCase{u"taro@", {1}},                 // sender
                    QueryCase{u"2026/12/0", {1, 3, 4}},       // date text
                    QueryCase{u"添付しました", {3}},          // body only
                    QueryCase{u"せーる", {2}},                // half-width katakana, marked record
                    QueryCase{u"sale", {2}},                  // full-width capitals in the body
                    QueryCase{u"ＲＥＰＯＲＴ", {4}},          // full-width query, ASCII text
                    QueryCase{u"かたろぐ", {3}},              // hiragana for katakana
                    QueryCase{u"example", {1, 2, 3, 4}},
                    QueryCase{u"", {1, 2, 3, 4}},             // everything
                    QueryCase{u"１０時", {1}}, QueryCase{u"10時", {1}},
                    QueryCase{u"存在しない", {}},
                    // A match never runs from one field into the next.
                    QueryCase{u"お知らせ山田", {}}));

TEST_F(SmallHistory, CancelledSearchSaysSoAndFindsNothing) {
    const std::atomic<bool> stop{true};
    const HistorySearchResult result = SearchHistory(file, u"example", stop);
    EXPECT_TRUE(result.cancelled);
    EXPECT_TRUE(result.records.empty());
}

TEST_F(SmallHistory, TrailingPieceOfARecordIsNoRecord) {
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::Append));
    // The start of a fifth record, cut short: its subject would match.
    out.write(QByteArray("Weekly Report") + QByteArray(500, ' '));
    out.close();
    EXPECT_EQ(SearchHistory(file, u"weekly", kGoOn).records, std::vector<int>{4});
    EXPECT_EQ(SearchHistory(file, u"", kGoOn).records, (std::vector<int>{1, 2, 3, 4}));
}

TEST(HistorySearch, MissingFileHasNoRecords) {
    test::TempFolder folder;
    const HistorySearchResult result = SearchHistory(folder.path(QStringLiteral("none.data")), u"", kGoOn);
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(result.records.empty());
}

// A history long enough to be split in parts: every part's numbers are the
// file's, and the answer is what reading every record and folding each field
// gives.
TEST(HistorySearch, SplitSearchAgreesWithReadingEveryRecord) {
    test::TempFolder folder;
    const QString file = folder.path(QStringLiteral("srndata2.data"));
    {
        auto appender = OpenHistoryForAppending(file);
        ASSERT_TRUE(appender.ok());
        for (int n = 1; n <= 1100; ++n) {
            const HistoryRecord record{
                n % 7 == 0 ? QStringLiteral("ｷｬﾝﾍﾟｰﾝ第%1回").arg(n) : QStringLiteral("お知らせ %1").arg(n),
                QStringLiteral("送信者%1 <user%1@example.jp>").arg(n % 13), QStringLiteral("2026/12/%1").arg(n % 28 + 1),
                n % 11 == 0 ? QStringLiteral("本文に キャンペーン の話。\r\n").repeated(n % 5 + 1) : QStringLiteral("本文"),
                1};
            ASSERT_TRUE(AppendRecord(appender.value(), record, History::Received).ok());
        }
    }  // closed: every record is in the file
    const std::vector<HistoryRecord> all = ReadAll(file);
    ASSERT_EQ(all.size(), 1100u);
    for (const char16_t* query : {u"きゃんぺーん", u"ｷｬﾝﾍﾟｰﾝ第7", u"user12@", u"2026/12/28", u"本文", u"第1099回"}) {
        const QString form = SearchForm(QString::fromUtf16(query));
        std::vector<int> expected;
        for (size_t i = 0; i < all.size(); ++i) {
            const HistoryRecord& r = all[i];
            if (SearchForm(r.Subject).contains(form) || SearchForm(r.Column2).contains(form) ||
                SearchForm(r.Column3).contains(form) || SearchForm(r.Body).contains(form))
                expected.push_back(static_cast<int>(i + 1));
        }
        ASSERT_FALSE(expected.empty()) << qPrintable(QString::fromUtf16(query));
        for (const int threads : {1, 2, 3}) {
            const HistorySearchResult result = SearchHistory(file, QString::fromUtf16(query), kGoOn, threads);
            EXPECT_FALSE(result.cancelled);
            EXPECT_EQ(result.records, expected) << qPrintable(QString::fromUtf16(query)) << ", " << threads << " parts";
        }
    }
}

}  // namespace
