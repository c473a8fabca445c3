#include "mail/outgoing_text.h"

#include "tests/support/qt_printers.h"

#include <gtest/gtest.h>

#include <iconv.h>

namespace lumopet::mail {
namespace {

using namespace Qt::StringLiterals;

auto CaseName = [](const auto& info) { return std::string(info.param.name); };
template <class Case>
    requires requires(const Case& c) { std::string(c.name); }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// Whether glibc's ISO-2022-JP (JIS X 0208, what the builder sends as
// ISO-2022-JP) takes the text.
bool FitsIso2022Jp(const QString& text) {
    iconv_t handle = iconv_open("ISO-2022-JP", "UTF-8");
    QByteArray in = text.toUtf8(), out(in.size() * 4 + 8, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    size_t inLeft = static_cast<size_t>(in.size()), outLeft = static_cast<size_t>(out.size());
    const bool fits = iconv(handle, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
    iconv_close(handle);
    return fits;
}

struct KanaCase {
    const char* name;
    QString text, wide;
};

class WidenKana : public ::testing::TestWithParam<KanaCase> {};

TEST_P(WidenKana, GivesFullWidthTextThatFitsIso2022Jp) {
    const QString wide = WidenHalfWidthKana(GetParam().text);
    EXPECT_EQ(wide, GetParam().wide);
    EXPECT_TRUE(FitsIso2022Jp(wide)) << wide.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WidenKana,
    ::testing::Values(
        KanaCase{"plain_kana_and_punctuation", u"ｱｲｳｴｵ｡｢ﾃｽﾄ｣､ｰ･ｦﾝ"_s, u"アイウエオ。「テスト」、ー・ヲン"_s},
        KanaCase{"small_kana", u"ｧｨｩｪｫｬｭｮｯ"_s, u"ァィゥェォャュョッ"_s},
        KanaCase{"voiced_rows", u"ｶﾞｷﾞｸﾞｹﾞｺﾞｻﾞｼﾞｽﾞｾﾞｿﾞﾀﾞﾁﾞﾂﾞﾃﾞﾄﾞﾊﾞﾋﾞﾌﾞﾍﾞﾎﾞ"_s,
                 u"ガギグゲゴザジズゼゾダヂヅデドバビブベボ"_s},
        KanaCase{"semi_voiced_row", u"ﾊﾟﾋﾟﾌﾟﾍﾟﾎﾟ"_s, u"パピプペポ"_s},
        KanaCase{"vu", u"ｳﾞｧｲｵﾘﾝ"_s, u"ヴァイオリン"_s},
        // ヷ is not in JIS X 0208 and カ takes no semi-voiced mark: the marks stand alone.
        KanaCase{"marks_that_do_not_join", u"ﾜﾞｶﾟﾞﾟ"_s, u"ワ゛カ゜゛゜"_s},
        KanaCase{"other_text_untouched", u"ＡＢＣ abc 漢字ひらがな"_s, u"ＡＢＣ abc 漢字ひらがな"_s}),
    CaseName);

struct WrapCase {
    const char* name;
    QString text, wrapped;
};

class WrapLines : public ::testing::TestWithParam<WrapCase> {};

TEST_P(WrapLines, BreaksOnlyLinesOver72Columns) {
    const QString wrapped = WrapLongLines(GetParam().text);
    EXPECT_EQ(wrapped, GetParam().wrapped);
    // Nothing is lost: without the added line ends it is the same text.
    QString joined = wrapped;
    EXPECT_EQ(joined.remove(u'\r').remove(u'\n'), QString(GetParam().text).remove(u'\r').remove(u'\n'));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, WrapLines,
    ::testing::Values(
        WrapCase{"short_lines_untouched", u"短い行\r\nshort\r\n"_s, u"短い行\r\nshort\r\n"_s},
        WrapCase{"exactly_72_columns", QString(36, u'あ'), QString(36, u'あ')},
        WrapCase{"full_width_counts_two", QString(37, u'あ') + u"\r\n"_s,
                 QString(36, u'あ') + u"\r\n"_s + u"あ\r\n"_s},
        WrapCase{"half_width_kana_counts_one", QString(73, u'ｱ'), QString(72, u'ｱ') + u"\n"_s + u"ｱ"_s},
        WrapCase{"breaks_at_the_last_blank", QString(60, u'a') + u" "_s + QString(20, u'b'),
                 QString(60, u'a') + u" \n"_s + QString(20, u'b')},
        WrapCase{"ideographic_blank", QString(30, u'あ') + u"\u3000"_s + QString(10, u'い'),
                 QString(30, u'あ') + u"\u3000\n"_s + QString(10, u'い')},
        WrapCase{"leading_blanks_are_no_break", u"   "_s + QString(80, u'x'),
                 u"   "_s + QString(69, u'x') + u"\n"_s + QString(11, u'x')},
        // 36 emoji are 72 columns; the 37th, a surrogate pair, moves whole.
        WrapCase{"surrogate_pair_stays_whole", u"😀"_s.repeated(37), u"😀"_s.repeated(36) + u"\n😀"_s},
        WrapCase{"line_end_of_the_line", QString(73, u'a') + u"\r\n"_s + QString(73, u'b') + u"\n"_s,
                 QString(72, u'a') + u"\r\na\r\n"_s + QString(72, u'b') + u"\nb\n"_s},
        WrapCase{"long_line_split_twice", QString(150, u'z'),
                 QString(72, u'z') + u"\n"_s + QString(72, u'z') + u"\n"_s + QString(6, u'z')}),
    CaseName);

}  // namespace
}  // namespace lumopet::mail
