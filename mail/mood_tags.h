#pragma once
// The character tags a sender puts at the end of a message, and how the
// receiving side finds them.

#include <QString>

#include <array>

namespace lumopet {

// Searched in this order; the first found decides, wherever it stands in
// the body. The tag of mood 1 is searched without its closing bracket, as
// it always was, so a body cut just before the bracket still shows mood 1.
inline const std::array<QString, 5> kMoodTagSearches{
    QStringLiteral("Lumopet（①の選択"),  QStringLiteral("Lumopet（②の選択）"), QStringLiteral("Lumopet（③の選択）"),
    QStringLiteral("Lumopet（④の選択）"), QStringLiteral("Lumopet（⑤の選択）"),
};

// The tag a sender appends for a mood (1 to 5).
inline QString MoodTag(int mood) {
    static const QString digits = QStringLiteral("①②③④⑤");
    return QStringLiteral("Lumopet（") + digits[mood - 1] + QStringLiteral("の選択）");
}

// The mood of the first tag found, in the order above; 0 when none is.
inline int FindMoodTag(const QString& body) {
    for (int i = 0; i < 5; ++i)
        if (body.contains(kMoodTagSearches[i])) return i + 1;
    return 0;
}

}  // namespace lumopet
