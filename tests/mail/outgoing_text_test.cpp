#include "mail/outgoing_text.h"

#include "tests/support/case_names.h"
#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

namespace lumopet::mail {
namespace {

using namespace Qt::StringLiterals;
using lumopet::test::CaseName;
using lumopet::test::PrintTo;

struct TextCase {
    const char* name;
    QString text, changed;
};

class WidenKana : public ::testing::TestWithParam<TextCase> {};

TEST_P(WidenKana, GivesTheFullWidthKana) { EXPECT_EQ(WidenHalfWidthKana(GetParam().text), GetParam().changed); }

INSTANTIATE_TEST_SUITE_P(
    Texts, WidenKana,
    ::testing::Values(
        TextCase{"kana_small_kana_and_punctuation", u"ｱｲｳｴｵ｡｢ﾃｽﾄ｣､ｰ･ｦﾝｧｨｩｪｫｬｭｮｯ"_s, u"アイウエオ。「テスト」、ー・ヲンァィゥェォャュョッ"_s},
        TextCase{"voiced_rows", u"ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞﾊﾞﾋﾞﾌﾞﾍﾞﾎﾞ"_s,
                 u"ガギグゲゴザジズゼゾダヂヅデドバビブベボ"_s},
        TextCase{"semi_voiced_row", u"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ"_s, u"パピプペポ"_s},
        TextCase{"vu", u"ｳﾞｧｲｵﾘﾝ"_s, u"ヴァイオリン"_s},
        // ヷ is not in JIS X 0208 and カ takes no semi-voiced mark: the marks stand alone.
        TextCase{"marks_that_do_not_join", u"ﾜﾞｶﾟﾞﾟ"_s, u"ワ゛カ゜゛゜"_s},
        TextCase{"other_text_untouched", u"ＡＢＣ abc 漢字ひらがな"_s, u"ＡＢＣ abc 漢字ひらがな"_s}),
    CaseName);

class WrapLines : public ::testing::TestWithParam<TextCase> {};

TEST_P(WrapLines, BreaksOnlyLinesOver72Columns) { EXPECT_EQ(WrapLongLines(GetParam().text), GetParam().changed); }

INSTANTIATE_TEST_SUITE_P(
    Texts, WrapLines,
    ::testing::Values(
        TextCase{"full_width_counts_two", QString(37, u'あ') + u"\r\n"_s, QString(36, u'あ') + u"\r\n"_s + u"あ\r\n"_s},
        TextCase{"half_width_kana_counts_one", QString(73, u'ｱ'), QString(72, u'ｱ') + u"\n"_s + u"ｱ"_s},
        TextCase{"breaks_at_the_last_blank", QString(60, u'a') + u" "_s + QString(20, u'b'),
                 QString(60, u'a') + u" \n"_s + QString(20, u'b')},
        TextCase{"ideographic_blank", QString(30, u'あ') + u"\u3000"_s + QString(10, u'い'),
                 QString(30, u'あ') + u"\u3000\n"_s + QString(10, u'い')},
        TextCase{"leading_blanks_are_no_break", u"   "_s + QString(80, u'x'),
                 u"   "_s + QString(69, u'x') + u"\n"_s + QString(11, u'x')},
        // 36 emoji are 72 columns; the 37th, a surrogate pair, moves whole.
        TextCase{"surrogate_pair_stays_whole", u"😀"_s.repeated(37), u"😀"_s.repeated(36) + u"\n😀"_s},
        TextCase{"short_lines_and_each_lines_own_end", u"短い行\r\n"_s + QString(73, u'a') + u"\r\n"_s + QString(73, u'b') + u"\n"_s,
                 u"短い行\r\n"_s + QString(72, u'a') + u"\r\na\r\n"_s + QString(72, u'b') + u"\nb\n"_s},
        TextCase{"long_line_split_twice", QString(150, u'z'),
                 QString(72, u'z') + u"\n"_s + QString(72, u'z') + u"\n"_s + QString(6, u'z')}),
    CaseName);

}  // namespace
}  // namespace lumopet::mail
