#pragma once
// The pictures of the five characters, built into the program: for each
// mood an initial picture and eight walking frames (see chara/art).

#include <QImage>

#include <array>

namespace lumopet {

struct CharacterArt {
    QImage initial;
    std::array<QImage, 8> frames;
};

CharacterArt LoadCharacterArt(int mood);

// The hidden title of each window, by mood. The mood-3 window has always
// carried the same title as the mood-2 window.
QString CharacterCaption(int mood);

}  // namespace lumopet
