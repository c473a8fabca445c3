#include "chara/character_art.h"

#include <QString>

namespace lumopet {

CharacterArt LoadCharacterArt(int mood) {
    CharacterArt art;
    art.initial = QImage(QStringLiteral(":/lumopet/chara/mood%1_initial.gif").arg(mood));
    for (int k = 0; k < 8; ++k) art.frames[k] = QImage(QStringLiteral(":/lumopet/chara/mood%1_frame%2.gif").arg(mood).arg(k));
    return art;
}

QString CharacterCaption(int mood) {
    static const QString captions[] = {QStringLiteral("気分・・・１"), QStringLiteral("気分・・・２"), QStringLiteral("気分・・・２"),
                                       QStringLiteral("気分・・・４"), QStringLiteral("気分・・・５")};
    return captions[mood - 1];
}

}  // namespace lumopet
