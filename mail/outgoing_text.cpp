#include "mail/outgoing_text.h"

#include <array>
#include <vector>

namespace lumopet::mail {
namespace {

// U+FF61 (｡) to U+FF9F (ﾟ), in order, as full-width characters.
constexpr std::array<char16_t, 0xFF9F - 0xFF61 + 1> kFullWidth{
    u'。', u'「', u'」', u'、', u'・', u'ヲ', u'ァ', u'ィ', u'ゥ', u'ェ', u'ォ', u'ャ', u'ュ', u'ョ', u'ッ',
    u'ー', u'ア', u'イ', u'ウ', u'エ', u'オ', u'カ', u'キ', u'ク', u'ケ', u'コ', u'サ', u'シ', u'ス', u'セ',
    u'ソ', u'タ', u'チ', u'ツ', u'テ', u'ト', u'ナ', u'ニ', u'ヌ', u'ネ', u'ノ', u'ハ', u'ヒ', u'フ', u'ヘ',
    u'ホ', u'マ', u'ミ', u'ム', u'メ', u'モ', u'ヤ', u'ユ', u'ヨ', u'ラ', u'リ', u'ル', u'レ', u'ロ', u'ワ',
    u'ン', u'゛', u'゜'};

constexpr char16_t kVoicedMark = u'\uFF9E';
constexpr char16_t kSemiVoicedMark = u'\uFF9F';

// The kana with the mark joined: カ..ト and ハ..ホ take the voiced mark as
// the next code point (ガ is カ + 1), ハ..ホ the semi-voiced as the one
// after (パ is ハ + 2), ウ becomes ヴ. Nothing for any other pair.
char16_t Joined(char16_t kana, char16_t mark) {
    const bool hRow = kana == u'ハ' || kana == u'ヒ' || kana == u'フ' || kana == u'ヘ' || kana == u'ホ';
    if (mark == kSemiVoicedMark) return hRow ? static_cast<char16_t>(kana + 2) : 0;
    if (kana == u'ウ') return u'ヴ';
    // カ キ ク ケ コ サ シ ス セ ソ タ チ: every second code point from カ;
    // ツ テ ト follow after the small ッ.
    const bool kToChi = kana >= u'カ' && kana <= u'チ' && (kana - u'カ') % 2 == 0;
    const bool tsuToTo = kana == u'ツ' || kana == u'テ' || kana == u'ト';
    return hRow || kToChi || tsuToTo ? static_cast<char16_t>(kana + 1) : 0;
}

bool IsHalfWidthKana(QChar c) { return c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F; }

bool IsBlank(QChar c) { return c == u' ' || c == u'\t' || c == u'\u3000'; }

// The lines of text, each with the end it has (CR LF, LF, CR; none for
// the last one without).
struct Line {
    QStringView text;
    QStringView end;
};

std::vector<Line> LinesOf(QStringView text) {
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != u'\r' && text[end] != u'\n') ++end;
        qsizetype next = end;
        if (next < text.size()) next += text[next] == u'\r' && next + 1 < text.size() && text[next + 1] == u'\n' ? 2 : 1;
        lines.push_back({text.sliced(start, end - start), text.sliced(end, next - end)});
        start = next;
    }
    return lines;
}

}  // namespace

QString WidenHalfWidthKana(const QString& text) {
    QString wide;
    wide.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!IsHalfWidthKana(c)) {
            wide += c;
            continue;
        }
        const char16_t kana = kFullWidth[c.unicode() - 0xFF61];
        const bool marked = i + 1 < text.size() &&
                            (text[i + 1].unicode() == kVoicedMark || text[i + 1].unicode() == kSemiVoicedMark);
        if (const char16_t joined = marked ? Joined(kana, text[i + 1].unicode()) : 0; joined != 0) {
            wide += QChar(joined);
            ++i;
        } else {
            wide += QChar(kana);
        }
    }
    return wide;
}

int DisplayColumns(char32_t c) {
    if (c < 0x1100) return 1;
    // Half-width katakana and Hangul, and the half-width symbols.
    if ((c >= 0xFF61 && c <= 0xFFDC) || (c >= 0xFFE8 && c <= 0xFFEE)) return 1;
    return 2;
}

QString WrapLongLines(const QString& text, int columns) {
    // A line end added to the last line (which has none) is the text's own.
    QStringView defaultEnd = u"\n";
    if (const qsizetype at = text.indexOf(u'\r'); at >= 0)
        defaultEnd = at + 1 < text.size() && text[at + 1] == u'\n' ? QStringView(u"\r\n") : QStringView(u"\r");
    QString wrapped;
    wrapped.reserve(text.size() + text.size() / 32);
    for (const Line& line : LinesOf(text)) {
        const QStringView end = line.end.isEmpty() ? defaultEnd : line.end;
        qsizetype start = 0;
        for (;;) {
            int width = 0;
            qsizetype i = start, blankEnd = -1;
            bool wordSeen = false;
            while (i < line.text.size()) {
                const bool pair = line.text[i].isHighSurrogate() && i + 1 < line.text.size() && line.text[i + 1].isLowSurrogate();
                const char32_t c = pair ? QChar::surrogateToUcs4(line.text[i], line.text[i + 1]) : line.text[i].unicode();
                const int w = DisplayColumns(c);
                if (width + w > columns && i > start) break;
                width += w;
                if (IsBlank(line.text[i])) {
                    if (wordSeen) blankEnd = i + 1;
                } else {
                    wordSeen = true;
                }
                i += pair ? 2 : 1;
            }
            if (i >= line.text.size()) {
                wrapped += line.text.sliced(start);
                break;
            }
            const qsizetype cut = blankEnd > start ? blankEnd : i;
            wrapped += line.text.sliced(start, cut - start);
            wrapped += end;
            start = cut;
        }
        wrapped += line.end;
    }
    return wrapped;
}

}  // namespace lumopet::mail
