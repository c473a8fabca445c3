#pragma once
// The form a text takes for searching: what the user types and what the
// history holds are both brought to it, and a record matches when its form
// contains the form of the query. Width, case and katakana against hiragana
// make no difference: "ｶﾀｶﾅ", "カタカナ" and "かたかな" are one form, and
// "ABC" finds "ａｂｃ".

#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <vector>

namespace lumopet {

// NFKC, then case folding, then katakana (U+30A1..U+30F6) as hiragana. The
// long vowel mark ー stays: hiragana has none of its own.
QString SearchForm(QStringView text);

// The search form of CP932 bytes, exactly SearchForm(cp932::decode(bytes)),
// appended to out. Most characters fold alone, so this goes through a table
// built once rather than through the decoder and the normalizer; a text with
// a character that joins the one before it (the half-width voiced marks)
// takes the long way.
void AppendSearchFormOfCp932(QByteArrayView bytes, QString& out);

// A quick look at CP932 bytes, before folding them, for a search form: false
// only when the bytes' search form certainly does not contain it. It asks
// whether any character of the bytes folds to something holding the form's
// first character (or joins its neighbour, and so may fold to anything).
class Cp932Prefilter {
public:
    explicit Cp932Prefilter(QStringView form);
    bool mayContain(QByteArrayView bytes) const;

private:
    std::vector<unsigned char> starts_;  // by character, as the fold table numbers them
};

}  // namespace lumopet
