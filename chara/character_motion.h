#pragma once
// How a character walks: a heading drawn at random every 6 to 26 ticks, a
// step of up to 5 pixels each way per tick, kept on the primary screen
// without bouncing, and the walking frame that fits the direction.
// Positions and steps are in twips, the unit the characters were laid out
// in; the window turns them into pixels.

#include "chara/random_source.h"

#include <QPoint>
#include <QSize>

#include <cstdint>

namespace lumopet {

struct CharacterMotion {
    // Ticks before a new heading is drawn. Zero for a new window, and kept
    // when the window is unloaded and shown again.
    std::int16_t TicksLeft = 0;
    // Movement per tick in twips; positive is right and down. Every load
    // sets them to (-5, -2): a slow drift to the upper left until the
    // ticks of an earlier heading are spent.
    std::int16_t StepX = -5;
    std::int16_t StepY = -2;
};

struct TickResult {
    QPoint topLeft;  // twips
    int frame;       // 0..7
};

// One tick: maybe a new heading (three random numbers, in this order:
// duration, horizontal step, vertical step), one tick less, the new place
// clamped to the screen (left and top first, then right and bottom), and
// the frame to show.
TickResult TickCharacter(CharacterMotion& motion, QPoint topLeft, QSize window, QSize screen, double twipsX,
                         double twipsY, RandomSource& random);

// The walking frame: the step of the walk (TicksLeft mod 2), plus 2 when
// going right, plus 4 when going up. No movement counts as left and down.
int FrameIndex(int ticksLeft, int stepX, int stepY);

// Rounds to the nearest integer, halves to even.
std::int32_t RoundHalfEven(double value);

}  // namespace lumopet
