#include "chara/character_motion.h"

#include <cmath>

namespace lumopet {

std::int32_t RoundHalfEven(double value) { return static_cast<std::int32_t>(std::nearbyint(value)); }

int FrameIndex(int ticksLeft, int stepX, int stepY) {
    return ticksLeft % 2 + (stepX > 0 ? 2 : 0) + (stepY < 0 ? 4 : 0);
}

TickResult TickCharacter(CharacterMotion& motion, QPoint topLeft, QSize window, QSize screen, double twipsX,
                         double twipsY, RandomSource& random) {
    if (motion.TicksLeft < 1) {
        const double r1 = random.next();
        const double r2 = random.next();
        const double r3 = random.next();
        motion.TicksLeft = static_cast<std::int16_t>(RoundHalfEven((r1 * 10 + 3) * 2));
        motion.StepX = static_cast<std::int16_t>(RoundHalfEven((r2 * 10 - 5) * twipsX));
        motion.StepY = static_cast<std::int16_t>(RoundHalfEven((r3 * 10 - 5) * twipsY));
    }
    --motion.TicksLeft;

    int x = topLeft.x() + motion.StepX;
    int y = topLeft.y() + motion.StepY;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    // Against an edge the character keeps pushing until its next heading:
    // it does not bounce.
    if (x + window.width() > screen.width()) x = screen.width() - window.width();
    if (y + window.height() > screen.height()) y = screen.height() - window.height();
    return {QPoint(x, y), FrameIndex(motion.TicksLeft, motion.StepX, motion.StepY)};
}

}  // namespace lumopet
