#include "chara/CharacterWindow.h"
#include "tests/chara/fixed_random.h"

#include <QCoreApplication>
#include <QCursor>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace lumopet {
namespace {

class CharacterWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto fixed = std::make_unique<test::FixedRandom>(std::deque<double>{0.0, 0.0, 0.5});
        random = fixed.get();
        SetCharacterRandom(std::move(fixed));
        QCursor::setPos(300, 200);
    }
    void TearDown() override { SetCharacterRandom(MakeClockSeededRandom()); }

    test::FixedRandom* random = nullptr;
};

struct WindowCase {
    int window, mood;
    const char* caption;
};

class CharacterWindows : public ::testing::TestWithParam<WindowCase> {};

TEST_P(CharacterWindows, CarryTheirMoodAndCaption) {
    CharacterWindow form(GetParam().window);
    EXPECT_EQ(form.mood(), GetParam().mood);
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8(GetParam().caption));
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ((form.windowFlags() & Qt::WindowType_Mask), Qt::Tool) << "no task-bar button";
}

INSTANTIATE_TEST_SUITE_P(Forms, CharacterWindows,
                         ::testing::Values(WindowCase{1, 2, "気分・・・２"}, WindowCase{2, 5, "気分・・・５"},
                                           WindowCase{3, 4, "気分・・・４"}, WindowCase{4, 1, "気分・・・１"},
                                           WindowCase{5, 3, "気分・・・２"}));

TEST_F(CharacterWindowTest, LoadsAtTheMouseAsAPlainSquareThenTakesItsOutline) {
    CharacterWindow form(1);
    form.Show();
    EXPECT_EQ(form.pos(), QPoint(300, 200));
    EXPECT_EQ(form.size(), QSize(64, 64));
    EXPECT_TRUE(form.shape().isEmpty()) << "no outline before the first tick";
    EXPECT_TRUE(form.Timer1->isActive());
    EXPECT_EQ(form.Timer1->interval(), 200);

    form.Timer1_Timer();
    EXPECT_EQ(random->drawn, 3) << "the first tick draws a heading";
    EXPECT_EQ(form.Motion.TicksLeft, 5);
    EXPECT_EQ(form.pos(), QPoint(295, 200));  // (0 * 10 - 5) pixels across, none down
    const int frame = FrameIndex(form.Motion.TicksLeft, form.Motion.StepX, form.Motion.StepY);
    EXPECT_EQ(form.shape(), OutlineRegion(form.FrameRegions[frame]));
    EXPECT_LT(form.shape().boundingRect().width() * form.shape().boundingRect().height(), 64 * 64);
}

TEST_F(CharacterWindowTest, ALoadAgainSpendsTheRemainingTicksDriftingUpLeft) {
    CharacterWindow form(2);
    form.Show();
    form.Timer1_Timer();
    form.Unload();
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Timer1->isActive());

    QCursor::setPos(500, 400);
    form.Show();
    EXPECT_EQ(form.pos(), QPoint(500, 400));
    EXPECT_EQ(form.Motion.TicksLeft, 5) << "kept across the unload";
    form.Timer1_Timer();
    EXPECT_EQ(random->drawn, 3) << "no new heading while ticks are left";
    // (-5, -2) twips: a third of a pixel left, less than that up.
    EXPECT_EQ(form.pos(), QPoint(500, 400));
    EXPECT_EQ(form.shape(), OutlineRegion(form.FrameRegions[4]));
}

TEST_F(CharacterWindowTest, ShowingAShownWindowLeavesItWhereItWalks) {
    CharacterWindow form(3);
    form.Show();
    form.Timer1_Timer();
    const QPoint walked = form.pos();
    QCursor::setPos(10, 10);
    form.Show();
    EXPECT_EQ(form.pos(), walked);
}

TEST_F(CharacterWindowTest, LeftDragsThatWindowMiddleDoesNothing) {
    CharacterWindow form(4), other(5);
    form.Show();
    other.Show();
    const QPoint start = form.pos(), otherStart = other.pos();
    QTest::mousePress(&form, Qt::MiddleButton, {}, QPoint(30, 30));
    QTest::mouseRelease(&form, Qt::MiddleButton, {}, QPoint(30, 30));
    EXPECT_EQ(form.pos(), start);
    // Offscreen there is no window system to move it: it follows the mouse.
    QTest::mousePress(&form, Qt::LeftButton, {}, QPoint(30, 30));
    QMouseEvent move(QEvent::MouseMove, QPointF(30, 30), QPointF(start + QPoint(130, 80)), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&form, &move);
    QTest::mouseRelease(&form, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(form.pos(), start + QPoint(100, 50));
    EXPECT_EQ(other.pos(), otherStart);
}

TEST_F(CharacterWindowTest, AHeldCharacterStaysUnderTheCursorAndWalksOnFromTheDrop) {
    CharacterWindow form(2);
    form.Show();
    const QPoint drop = form.pos() + QPoint(120, 60);
    QTest::mousePress(&form, Qt::LeftButton, {}, QPoint(30, 30));
    QMouseEvent move(QEvent::MouseMove, QPointF(30, 30), QPointF(drop + QPoint(30, 30)), Qt::NoButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&form, &move);
    for (int tick = 0; tick < 3; ++tick) form.Timer1_Timer();
    EXPECT_EQ(form.pos(), drop) << "no step while it is held";
    QTest::mouseRelease(&form, Qt::LeftButton, {}, QPoint(30, 30));
    form.Timer1_Timer();
    EXPECT_NE(form.pos(), drop);
    EXPECT_LE((form.pos() - drop).manhattanLength(), 40) << "one step from the drop point, not a jump";
}

TEST_F(CharacterWindowTest, RightPressAsksTheProgramToEnd) {
    CharacterWindow form(1);
    form.Show();
    QSignalSpy ended(&form, &CharacterWindow::endProgramRequested);
    QTest::mousePress(&form, Qt::LeftButton, {}, QPoint(30, 30));
    QTest::mouseRelease(&form, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(ended.count(), 0);
    QTest::mousePress(&form, Qt::RightButton, {}, QPoint(30, 30));
    EXPECT_EQ(ended.count(), 1);
}

TEST_F(CharacterWindowTest, StepsAsideWhileKeptAwayAndComesBackWhereItWas) {
    // Steps: s Show, a KeepAway(true), b KeepAway(false), u Unload, t a tick.
    // After each: shown on the screen, walking (its timer running).
    struct Case {
        const char* steps;
        const char* shown;
        const char* walking;
    };
    const Case cases[] = {
        {"stab", "1101", "1101"},   // a shown character steps aside and back
        {"asb", "001", "001"},      // loaded while away: it waits, then comes out
        {"ab", "00", "00"},         // nothing loaded, nothing comes
        {"sub", "100", "100"},      // sent home before: stays home
        {"saub", "1000", "1000"},   // sent home while away: stays home
        {"saab", "1001", "1001"},   // told twice, back once
        {"sabs", "1011", "1011"},   // shown again once back: goes on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps);
        CharacterWindow form(2);
        QPoint last(-1, -1);
        for (int i = 0; c.steps[i]; ++i) {
            SCOPED_TRACE(i);
            switch (c.steps[i]) {
            case 's': form.Show(); break;
            case 'a': form.KeepAway(true); break;
            case 'b': form.KeepAway(false); break;
            case 'u': form.Unload(); break;
            case 't': form.Timer1_Timer(); break;
            }
            if (c.steps[i] == 'a' && form.isLoaded()) last = form.place();
            EXPECT_EQ(form.isVisible(), c.shown[i] == '1');
            EXPECT_EQ(form.Timer1->isActive(), c.walking[i] == '1');
            if (c.steps[i] == 'b' && form.isVisible() && last != QPoint(-1, -1))
                EXPECT_EQ(form.place(), last) << "it came back elsewhere";
        }
    }
}

TEST_F(CharacterWindowTest, ADoubleClickAsksForTheReceivedHistory) {
    CharacterWindow form(1);
    form.Show();
    QSignalSpy asked(&form, &CharacterWindow::receivedHistoryRequested);
    QTest::mouseClick(&form, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(asked.count(), 0) << "a single click";
    QTest::mouseDClick(&form, Qt::LeftButton, {}, QPoint(30, 30));
    EXPECT_EQ(asked.count(), 1);
}

}  // namespace
}  // namespace lumopet
