#include "chara/character_motion.h"
#include "tests/chara/fixed_random.h"

#include <gtest/gtest.h>

namespace lumopet {
namespace {

const QSize kWindow(960, 960);    // 64 pixels at 15 twips a pixel
const QSize kScreen(19200, 14400);  // 1280 x 960 pixels

struct HeadingCase {
    const char* name;
    double r1, r2, r3, twips;
    int ticksAfter, stepX, stepY;
};

class NewHeading : public ::testing::TestWithParam<HeadingCase> {};

TEST_P(NewHeading, ComesFromThreeRandomNumbersRoundedHalfToEven) {
    const HeadingCase& c = GetParam();
    CharacterMotion motion;  // TicksLeft 0: a heading is drawn at once
    test::FixedRandom random({c.r1, c.r2, c.r3});
    TickCharacter(motion, QPoint(9000, 7000), kWindow, kScreen, c.twips, c.twips, random);
    EXPECT_EQ(random.drawn, 3);
    EXPECT_EQ(motion.TicksLeft, c.ticksAfter);
    EXPECT_EQ(motion.StepX, c.stepX);
    EXPECT_EQ(motion.StepY, c.stepY);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, NewHeading,
    ::testing::Values(HeadingCase{"lowest", 0.0, 0.0, 0.0, 15, 5, -75, -75},
                      HeadingCase{"middle", 0.5, 0.5, 0.5, 15, 15, 0, 0},
                      HeadingCase{"highest", 0.9999, 0.9999, 0.9999, 15, 25, 75, 75},
                      HeadingCase{"halves_go_to_even", 0.125, 0.75, 0.25, 1, 7, 2, -2},
                      HeadingCase{"odd_halves_away_from_zero", 0.375, 0.85, 0.15, 1, 13, 4, -4}),
    [](const auto& info) { return std::string(info.param.name); });

struct MoveCase {
    const char* name;
    QPoint from;
    int stepX, stepY;
    QPoint to;
};

class Moving : public ::testing::TestWithParam<MoveCase> {};

// The clamps keep the window on the screen; the steps stay as they were, so
// the character pushes against the edge until its next heading.
TEST_P(Moving, StaysOnThePrimaryScreenWithoutBouncing) {
    const MoveCase& c = GetParam();
    CharacterMotion motion{10, static_cast<std::int16_t>(c.stepX), static_cast<std::int16_t>(c.stepY)};
    test::FixedRandom random({});
    const TickResult tick = TickCharacter(motion, c.from, kWindow, kScreen, 15, 15, random);
    EXPECT_EQ(tick.topLeft, c.to);
    EXPECT_EQ(motion.StepX, c.stepX);
    EXPECT_EQ(motion.StepY, c.stepY);
    EXPECT_EQ(random.drawn, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Places, Moving,
    ::testing::Values(MoveCase{"free", {9000, 7000}, 45, -30, {9045, 6970}},
                      MoveCase{"left_edge", {30, 7000}, -75, 0, {0, 7000}},
                      MoveCase{"top_edge", {9000, 10}, 0, -75, {9000, 0}},
                      MoveCase{"right_edge", {18200, 7000}, 75, 0, {18240, 7000}},
                      MoveCase{"bottom_edge", {9000, 13500}, 0, 75, {9000, 13440}},
                      MoveCase{"loaded_off_screen_corner", {19000, 14300}, -5, -2, {18240, 13440}}),
    [](const auto& info) { return std::string(info.param.name); });

struct FrameCase {
    const char* name;
    int ticksLeft, stepX, stepY, frame;
};

class Frames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Frames, FollowTheDirectionAndAlternateTheStep) {
    EXPECT_EQ(FrameIndex(GetParam().ticksLeft, GetParam().stepX, GetParam().stepY), GetParam().frame);
}

INSTANTIATE_TEST_SUITE_P(
    Directions, Frames,
    ::testing::Values(FrameCase{"left_down_first", 4, -30, 30, 0}, FrameCase{"left_down_second", 5, -30, 30, 1},
                      FrameCase{"right_down", 4, 30, 30, 2}, FrameCase{"right_down_second", 3, 30, 30, 3},
                      FrameCase{"left_up", 2, -30, -30, 4}, FrameCase{"left_up_second", 1, -30, -30, 5},
                      FrameCase{"right_up", 0, 30, -30, 6}, FrameCase{"right_up_second", 7, 30, -30, 7},
                      FrameCase{"still_counts_left_and_down", 2, 0, 0, 0},
                      FrameCase{"still_across_goes_down", 3, 30, 0, 3}, FrameCase{"still_sideways_up", 0, 0, -30, 4}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CharacterMotion, AHeadingLastsItsTicksThenANewOneIsDrawn) {
    CharacterMotion motion;
    test::FixedRandom random({0.0, 0.5, 0.5, 0.5, 0.0, 1.0 - 1e-9});
    QPoint at(9000, 7000);
    for (int tick = 0; tick < 6; ++tick) at = TickCharacter(motion, at, kWindow, kScreen, 15, 15, random).topLeft;
    EXPECT_EQ(random.drawn, 3) << "a six-tick heading draws once";
    TickCharacter(motion, at, kWindow, kScreen, 15, 15, random);
    EXPECT_EQ(random.drawn, 6);
    EXPECT_EQ(motion.StepX, -75);
    EXPECT_EQ(motion.StepY, 75);
}

}  // namespace
}  // namespace lumopet
