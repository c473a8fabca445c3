#pragma once
// The five characters. A mood (1 grey to 5 best) is what the user sees; each
// mood has one character window (Form1 to Form5) with its box in the
// character settings (Check1 to Check5, box K for window K), and one key in
// the character file. The numbers do not follow one another; this table is
// the one place that pairs them.

#include <QString>

#include <array>

namespace lumopet {

inline constexpr int kMoodCount = 5;

struct MoodLink {
    int mood;          // 1..5
    int window;        // K of FormK and CheckK
    const char* key;   // key in the character file
};

// In the order of the keys NAME1 to NAME5.
inline constexpr std::array<MoodLink, kMoodCount> kMoodLinks{{
    {5, 2, "NAME1"},
    {3, 5, "NAME2"},
    {1, 4, "NAME3"},
    {2, 1, "NAME4"},
    {4, 3, "NAME5"},
}};

constexpr const MoodLink& LinkOfMood(int mood) {
    for (const MoodLink& link : kMoodLinks)
        if (link.mood == mood) return link;
    return kMoodLinks[0];  // unreachable for moods 1..5
}

constexpr const MoodLink& LinkOfWindow(int window) {
    for (const MoodLink& link : kMoodLinks)
        if (link.window == window) return link;
    return kMoodLinks[0];  // unreachable for windows 1..5
}

// Whether each mood is enabled, indexed by mood - 1.
using MoodFlags = std::array<bool, kMoodCount>;

}  // namespace lumopet
