// The search form: which texts a query finds, and the quick CP932 fold
// giving exactly what decoding and folding give.

#include "core/cp932.h"
#include "viewer/search_text.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>

#include <random>

namespace {

using namespace lumopet;

struct FindCase {
    const char16_t* text;
    const char16_t* query;
    bool found;
};

class SearchFormFinds : public testing::TestWithParam<FindCase> {};

TEST_P(SearchFormFinds, TextContainsQueryOnlyWhenTheyShouldMatch) {
    const FindCase& c = GetParam();
    const QString text = QString::fromUtf16(c.text);
    const QString query = QString::fromUtf16(c.query);
    EXPECT_EQ(SearchForm(text).contains(SearchForm(query)), c.found)
        << qPrintable(text) << " / " << qPrintable(query) << " -> " << qPrintable(SearchForm(text)) << " / "
        << qPrintable(SearchForm(query));
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, SearchFormFinds,
    testing::Values(
        // Width and kana: all three writings find one another.
        FindCase{u"ｶﾀｶﾅ", u"カタカナ", true}, FindCase{u"カタカナ", u"ｶﾀｶﾅ", true},
        FindCase{u"かたかな", u"カタカナ", true}, FindCase{u"カタカナ", u"かたかな", true},
        FindCase{u"ｶﾀｶﾅ", u"かたかな", true}, FindCase{u"かたかな", u"ｶﾀｶﾅ", true},
        // Voiced half-width kana put together with their marks.
        FindCase{u"ｶﾞｲﾄﾞﾌﾞｯｸ", u"がいどぶっく", true}, FindCase{u"ﾊﾟｽﾜｰﾄﾞ", u"パスワード", true},
        FindCase{u"ﾊﾟｽﾜｰﾄﾞ", u"はすわーと", false},
        // Case and full width.
        FindCase{u"ａｂｃ", u"ABC", true}, FindCase{u"ＡＢＣ", u"abc", true}, FindCase{u"Hello World", u"WORLD", true},
        FindCase{u"２０２６/１２/０７", u"2026/12/07", true},
        // The long vowel mark is kept, and is not a vowel.
        FindCase{u"メール", u"めーる", true}, FindCase{u"メール", u"めえる", false},
        // Different kana, letters and kanji stay different.
        FindCase{u"かたかな", u"かたがな", false}, FindCase{u"ABC", u"ABD", false}, FindCase{u"お知らせ", u"お知らな", false},
        FindCase{u"ヴァイオリン", u"ゔぁいおりん", true}, FindCase{u"ヶ月", u"ゖ月", true},
        // Compatibility forms read as what they stand for.
        FindCase{u"㈱山田商事", u"(株)", true}, FindCase{u"①番", u"1番", true}, FindCase{u"㌢", u"せんち", true},
        // An empty query is in every text.
        FindCase{u"なんでも", u"", true}));

// Every character CP932 holds, and random byte strings (broken pairs, lone
// lead bytes, half-width marks after any letter) fold the quick way exactly
// as the long way.
QString Quick(const QByteArray& bytes) {
    QString out = QStringLiteral("前");  // appended to, not replaced
    AppendSearchFormOfCp932(bytes, out);
    return out.mid(1);
}

TEST(Cp932SearchForm, EveryCharacterFoldsAsDecodedAndFolded) {
    int pairs = 0;
    for (int b = 0; b < 0x100; ++b) {
        const QByteArray one(1, static_cast<char>(b));
        ASSERT_EQ(Quick(one), SearchForm(cp932::decode(one))) << "byte " << b;
        if (!cp932::isLeadByte(static_cast<unsigned char>(b))) continue;
        for (int trail = 0; trail < 0x100; ++trail) {
            QByteArray two;
            two.append(static_cast<char>(b)).append(static_cast<char>(trail));
            ASSERT_EQ(Quick(two), SearchForm(cp932::decode(two))) << "pair " << b << " " << trail;
            ++pairs;
        }
    }
    EXPECT_GT(pairs, 7000);
}

TEST(Cp932SearchForm, RandomTextsFoldAsDecodedAndFolded) {
    std::mt19937 random(20261209);
    // Bytes weighted to the interesting ones: lead bytes, half-width kana
    // and their marks, capitals, and anything at all.
    const QByteArray favourites = cp932::encode(u"ｶﾞﾟﾊABCａアかー㈱①") + QByteArray("\x81\x82\x83\xDE\xDF\xFC\x80\xA0");
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes;
        const int length = static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i)
            bytes.append(random() % 2 ? favourites[static_cast<qsizetype>(random() % favourites.size())]
                                      : static_cast<char>(random() % 256));
        const QString form = Quick(bytes);
        ASSERT_EQ(form, SearchForm(cp932::decode(bytes))) << bytes.toHex().constData();
        // The quick look never says no to a query that the form holds
        // (checked in every eighth round: each look builds a table).
        if (form.isEmpty() || round % 8 != 0) continue;
        const qsizetype from = static_cast<qsizetype>(random() % form.size());
        const QString query = form.mid(from, static_cast<qsizetype>(random() % 4) + 1);
        ASSERT_TRUE(Cp932Prefilter(query).mayContain(bytes)) << bytes.toHex().constData();
    }
}

}  // namespace

namespace {

struct LookCase {
    const char* bytes;  // CP932
    const char16_t* query;
    bool may;
};

// What the quick look may rule out, and what it must not.
TEST(Cp932Prefilter, RulesOutOnlyTextsWithoutTheFirstCharacter) {
    const LookCase cases[] = {
        {"Weekly Report", u"report", true},
        {"Weekly Report", u"xyz", false},
        {"\x82\x60\x82\x61\x82\x62", u"abc", true},       // ＡＢＣ
        {"\xB6\xC0\xB6\xC5", u"かな", true},                  // ｶﾀｶﾅ
        {"\xB6\xDE", u"が", true},                              // ｶﾞ joins into が
        {"\x83\x4A\x83\x5E", u"ぶ", false},                   // カタ
        {"\x87\x40", u"1", true},                               // ①
        {"", u"a", false},
        {"anything", u"", true},
    };
    for (const LookCase& c : cases)
        EXPECT_EQ(Cp932Prefilter(SearchForm(QString::fromUtf16(c.query))).mayContain(QByteArray(c.bytes)), c.may)
            << c.bytes << " / " << qPrintable(QString::fromUtf16(c.query));
}

}  // namespace
