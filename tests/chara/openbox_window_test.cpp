// The character and settings windows under a real window manager: openbox
// on a virtual display, started by scripts/with_openbox.sh. What
// the offscreen tests cannot see is checked here from the X server's side:
// shapes, focus, task-bar hints, stacking, and a drag by a real pointer.

#include "app/MainForm.h"
#include "app/program_windows.h"
#include "chara/CharacterWindow.h"
#include "chara/character_art.h"
#include "core/program.h"
#include "tests/chara/x11_probe.h"
#include "tests/support/temp_folder.h"
#include "viewer/TyakuForm.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <map>
#include <memory>

namespace lumopet {
namespace {

using test::X11Probe;

// Every heading the same: 24 ticks of 4 pixels right and 4 down.
class SteadyWalk : public RandomSource {
public:
    double next() override { return 0.9; }
};
constexpr int kStepPixels = 4;

unsigned long idOf(QWidget& window) { return static_cast<unsigned long>(window.winId()); }

// Waits until the condition holds, letting the program run meanwhile.
bool eventually(const std::function<bool()>& condition, int milliseconds = 3000) {
    return QTest::qWaitFor(condition, milliseconds);
}

class OpenboxTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { SetCharacterRandom(std::make_unique<SteadyWalk>()); }
    static void TearDownTestSuite() { SetCharacterRandom(MakeClockSeededRandom()); }

    void SetUp() override {
        ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb")) << "run by scripts/with_openbox.sh";
        ASSERT_TRUE(probe.connected());
        ASSERT_EQ(probe.windowManagerName(), QStringLiteral("Openbox"));
        ASSERT_TRUE(program.paths.createFolders());
        // Servers set: no server window at the first start.
        folder.write(QStringLiteral("sorane.ini"), "SMTP=localhost\r\nPOP3=localhost\r\nMAIL=user@localhost\r\nAPOP=0\r\n");
        main = &windows.mainForm();
        main->Form_Load();
        main->move(40, 40);
        main->show();
        activate(*main);
    }

    // Makes the window the active one, as a click on it would.
    void activate(QWidget& window) {
        window.raise();
        window.activateWindow();
        // A window manager may turn down a program's own request when it
        // comes late (a slow machine, a sanitizer build); a pager's request,
        // which is what a click on the window amounts to, it carries out.
        if (!eventually([&] { return probe.activeWindow() == idOf(window); }, 1000))
            X11Probe::xdotool({QStringLiteral("windowactivate"), QString::number(idOf(window))});
        ASSERT_TRUE(eventually([&] { return probe.activeWindow() == idOf(window); }))
            << "active: " << probe.activeWindow() << ", wanted " << idOf(window);
    }

    // Shows a character at a place and waits for its first walking frame.
    CharacterWindow& showCharacter(int number, QPoint at) {
        QCursor::setPos(at);
        CharacterWindow& character = windows.characterWindow(number);
        character.Show();
        EXPECT_TRUE(eventually([&] { return probe.stackingIndex(idOf(character)) >= 0 && probe.isShaped(idOf(character)); }))
            << "Form" << number << " never came up shaped";
        return character;
    }

    test::TempFolder folder;
    Program program{ProgramPaths(folder.path())};
    ProgramWindows windows{program};
    MainForm* main = nullptr;
    X11Probe probe;
};

class CharacterUnderOpenbox : public OpenboxTest, public ::testing::WithParamInterface<int> {};

TEST_P(CharacterUnderOpenbox, IsShapedTakesNoFocusStaysOffTheTaskBarAndAboveNormalWindows) {
    CharacterWindow& character = showCharacter(GetParam(), QPoint(500, 300));
    const unsigned long id = idOf(character);

    const QRegion shape = probe.boundingShape(id);
    EXPECT_FALSE(shape.isEmpty());
    EXPECT_LT(shape.boundingRect().width(), probe.size(id).width()) << "the outline, not the square";
    EXPECT_LT(shape.boundingRect().height(), probe.size(id).height());
    EXPECT_EQ(shape, character.shape()) << "the shape the window manager sees is the frame's outline";

    QTest::qWait(300);
    EXPECT_EQ(probe.activeWindow(), idOf(*main)) << "showing a character took the focus";

    EXPECT_TRUE(probe.hasState(id, "_NET_WM_STATE_SKIP_TASKBAR"));
    EXPECT_TRUE(probe.hasState(id, "_NET_WM_STATE_SKIP_PAGER"));
    EXPECT_TRUE(probe.hasState(id, "_NET_WM_STATE_ABOVE"));

    // A normal window, opened and raised after the character.
    QWidget normal;
    normal.setWindowTitle(QStringLiteral("a normal window"));
    normal.setGeometry(400, 200, 400, 300);
    normal.show();
    activate(normal);
    const int normalIndex = probe.stackingIndex(idOf(normal));
    ASSERT_GE(normalIndex, 0);
    EXPECT_GT(probe.stackingIndex(id), normalIndex) << "the character went under a normal window";

    character.Unload();
}

INSTANTIATE_TEST_SUITE_P(Forms, CharacterUnderOpenbox, ::testing::Values(1, 2, 3, 4, 5));

TEST_F(OpenboxTest, TheTopmostServerWindowStaysAboveTheMainWindow) {
    windows.ShowOptionForm();
    QWidget* option = nullptr;
    ASSERT_TRUE(eventually([&] {
        for (QWidget* window : QApplication::topLevelWidgets())
            if (window->inherits("lumopet::OptionForm") && window->isVisible()) option = window;
        return option && probe.stackingIndex(idOf(*option)) >= 0;
    }));
    // Openbox gives a newly mapped window the focus a moment later; that
    // must not come after the main window was made active below.
    eventually([&] { return probe.activeWindow() == idOf(*option); }, 1000);
    activate(*main);
    QTest::qWait(200);
    EXPECT_GT(probe.stackingIndex(idOf(*option)), probe.stackingIndex(idOf(*main)));
    EXPECT_TRUE(probe.hasState(idOf(*option), "_NET_WM_STATE_ABOVE"));
    option->close();
}

// A point inside every walking frame of the character: what the hand
// grabs stays under it whichever frame is shown.
QPoint pointInEveryFrame(const CharacterWindow& character) {
    QRegion common(0, 0, kFrameSize, kFrameSize);
    for (const FrameOutline& outline : character.FrameRegions) common &= OutlineRegion(outline);
    QRect largest;
    for (const QRect& rect : common)
        if (rect.width() * rect.height() > largest.width() * largest.height()) largest = rect;
    return largest.center();
}

// Pixels of the picture that differ from what the screen shows inside the
// area.
int differingPixels(const QImage& shown, const QImage& picture, const QRegion& area) {
    const QImage expected = picture.convertToFormat(QImage::Format_RGB32);
    int differing = 0;
    for (const QRect& rect : area)
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                differing += shown.pixel(x, y) != expected.pixel(x, y) ? 1 : 0;
    return differing;
}

// The X server draws and moves the walking window itself, so this is where
// its frames are seen: the frame's pixels inside its outline, at the place
// the window keeps; and a load again comes up at the mouse as the plain
// initial square.
TEST_F(OpenboxTest, TheScreenShowsTheFrameInItsOutlineWhereTheWindowSaysItIs) {
    CharacterWindow& character = showCharacter(4, QPoint(400, 300));
    const unsigned long id = idOf(character);
    int ticks = 0;
    const auto counting = QObject::connect(character.Timer1, &QTimer::timeout, [&] { ++ticks; });
    ASSERT_TRUE(eventually([&] { return ticks >= 3; }));
    QObject::disconnect(counting);
    character.Timer1->stop();
    const int frame = character.shownFrame();
    ASSERT_GE(frame, 0);
    const QRegion outline = OutlineRegion(character.FrameRegions[frame]);
    EXPECT_TRUE(eventually([&] { return probe.screenPosition(id) == character.place(); }))
        << "the server has it at (" << probe.screenPosition(id).x() << ", " << probe.screenPosition(id).y() << ")";
    EXPECT_NE(character.place(), QPoint(400, 300)) << "it never walked";
    EXPECT_EQ(probe.boundingShape(id), outline);
    EXPECT_EQ(differingPixels(probe.picture(id), character.Picture1[frame].toImage(), outline), 0);

    character.Unload();
    QCursor::setPos(700, 500);
    character.Show();
    character.Timer1->stop();
    EXPECT_TRUE(eventually([&] { return probe.screenPosition(id) == QPoint(700, 500) && !probe.isShaped(id); }));
    // The window manager maps it a moment after the program asks.
    const QImage initial = LoadCharacterArt(character.mood()).initial;
    EXPECT_TRUE(eventually([&] { return differingPixels(probe.picture(id), initial, QRegion(initial.rect())) == 0; }))
        << differingPixels(probe.picture(id), initial, QRegion(initial.rect())) << " pixels differ";
    character.Unload();
}

TEST_F(OpenboxTest, AHeldCharacterFollowsTheCursorAndWalksOnFromTheDrop) {
    CharacterWindow& character = showCharacter(2, QPoint(300, 300));
    const unsigned long id = idOf(character);
    const QPoint grip = pointInEveryFrame(character);
    ASSERT_FALSE(grip.isNull());

    // Press right after a tick, so that no step falls between reading the
    // place and pressing there.
    bool ticked = false;
    const auto connection = QObject::connect(character.Timer1, &QTimer::timeout, [&] { ticked = true; });
    ASSERT_TRUE(eventually([&] { return ticked; }));
    QObject::disconnect(connection);
    QTest::qWait(40);
    const QPoint before = probe.screenPosition(id);
    const QPoint press = before + grip;
    ASSERT_TRUE(X11Probe::xdotool({"mousemove", QString::number(press.x()), QString::number(press.y()), "mousedown", "1"}));
    QTest::qWait(100);
    const QPoint held = probe.screenPosition(id) - probe.pointer();
    EXPECT_LE((held + grip).manhattanLength(), 2 * kStepPixels) << "pressed off the figure";

    // 200 pixels in 20 steps; at each the window keeps its place under the
    // cursor, also after a tick or two have passed.
    for (int step = 1; step <= 20; ++step) {
        const QPoint to = press + QPoint(10 * step, 3 * step);
        ASSERT_TRUE(X11Probe::xdotool({"mousemove", QString::number(to.x()), QString::number(to.y())}));
        const auto offsetNow = [&] { return probe.screenPosition(id) - probe.pointer(); };
        EXPECT_TRUE(eventually([&] { return (offsetNow() - held).manhattanLength() <= 2; }, 1000))
            << "step " << step << ": the window did not follow the cursor";
        QTest::qWait(step % 5 == 0 ? 450 : 60);
        EXPECT_LE((offsetNow() - held).manhattanLength(), 2) << "step " << step << ": it walked while held";
    }
    EXPECT_EQ(probe.activeWindow(), idOf(*main)) << "picking the character up took the focus";

    ASSERT_TRUE(X11Probe::xdotool({"mouseup", "1"}));
    QTest::qWait(50);
    const QPoint drop = probe.screenPosition(id);
    EXPECT_GE((drop - before).manhattanLength(), 200);
    // Ticks after the drop are steps of the steady walk from the drop point:
    // not a jump, and not a walk from where it was picked up.
    int ticks = 0;
    const auto counting = QObject::connect(character.Timer1, &QTimer::timeout, [&] { ++ticks; });
    ASSERT_TRUE(eventually([&] { return ticks >= 3; }));
    QTest::qWait(100);
    QObject::disconnect(counting);
    const QPoint walked = probe.screenPosition(id) - drop;
    const int steps = walked.x() / kStepPixels;
    EXPECT_EQ(walked, QPoint(steps, steps) * kStepPixels) << "not a step of the walk from the drop point";
    EXPECT_GE(steps, ticks - 1) << "it stopped walking";
    EXPECT_LE(steps, ticks + 1) << "it jumped";
    character.Unload();
}

// ------------------------------------------------ the characters' manners

// 着信履歴 when it is on the screen; null otherwise.
TyakuForm* shownViewer() {
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* viewer = qobject_cast<TyakuForm*>(window); viewer && viewer->isVisible()) return viewer;
    return nullptr;
}

class CharacterManners : public OpenboxTest {
protected:
    void TearDown() override {
        if (TyakuForm* viewer = shownViewer()) viewer->close();
        for (int k = 1; k <= kMoodCount; ++k) windows.characterWindow(k).Unload();
        program.characters = CharacterOptions{};
        windows.CharacterOptionsChanged();
    }

    // On the screen: mapped and managed, as the window manager lists it.
    bool onScreen(CharacterWindow& character) { return probe.stackingIndex(idOf(character)) >= 0; }

    int ticksWithin(CharacterWindow& character, int milliseconds) {
        int ticks = 0;
        const auto counting = QObject::connect(character.Timer1, &QTimer::timeout, [&] { ++ticks; });
        QTest::qWait(milliseconds);
        QObject::disconnect(counting);
        return ticks;
    }
};

TEST_F(CharacterManners, OpeningTheReceivedHistorySendsTheCharactersHomeOnlyWhenAsked) {
    struct Case {
        const char* name;
        bool homeWhenRead;
        History history;
        bool home;
    };
    const Case cases[] = {
        {"on, 着信履歴", true, History::Received, true},
        {"off, 着信履歴", false, History::Received, false},
        {"on, 送信履歴", true, History::Sent, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        program.characters.HomeWhenRead = c.homeWhenRead;
        CharacterWindow& first = showCharacter(1, QPoint(300, 300));
        CharacterWindow& third = showCharacter(3, QPoint(600, 300));
        windows.ShowTyakuForm(c.history);
        ASSERT_NE(shownViewer(), nullptr);
        for (CharacterWindow* character : {&first, &third}) {
            SCOPED_TRACE(character->objectName().toStdString());
            if (c.home) {
                EXPECT_FALSE(character->isLoaded());
                EXPECT_TRUE(eventually([&] { return !onScreen(*character); })) << "still on the screen";
                EXPECT_EQ(ticksWithin(*character, 450), 0) << "still walking";
            } else {
                EXPECT_TRUE(character->isLoaded());
                EXPECT_TRUE(onScreen(*character));
                EXPECT_GE(ticksWithin(*character, 450), 1) << "it stopped walking";
            }
        }
        shownViewer()->close();
        first.Unload();
        third.Unload();
    }
}

TEST_F(CharacterManners, AFullScreenWindowKeepsThemAwayUntilItLeavesFullScreenOrCloses) {
    program.characters.AwayFromFullScreen = true;
    windows.CharacterOptionsChanged();
    CharacterWindow& second = showCharacter(2, QPoint(300, 250));
    CharacterWindow& fourth = showCharacter(4, QPoint(700, 450));
    CharacterWindow* both[] = {&second, &fourth};
    // Elsewhere, so that a character loaded again at the mouse would show.
    QCursor::setPos(50, 700);

    for (const bool closeIt : {false, true}) {
        SCOPED_TRACE(closeIt ? "closed" : "back to normal");
        QWidget film;
        film.setWindowTitle(QStringLiteral("a film"));
        film.showFullScreen();
        activate(film);
        ASSERT_TRUE(eventually([&] { return probe.hasState(idOf(film), "_NET_WM_STATE_FULLSCREEN"); }));
        std::map<CharacterWindow*, QPoint> aside;
        for (CharacterWindow* character : both) {
            EXPECT_TRUE(eventually([&] { return !onScreen(*character); })) << "still over the film";
            aside[character] = character->place();
        }
        for (CharacterWindow* character : both) {
            EXPECT_EQ(ticksWithin(*character, 450), 0) << "walking while away";
            EXPECT_EQ(character->place(), aside[character]);
        }

        if (closeIt) {
            film.close();
        } else {
            film.showNormal();
        }
        for (CharacterWindow* character : both) {
            SCOPED_TRACE(character->objectName().toStdString());
            EXPECT_TRUE(eventually([&] { return onScreen(*character); })) << "did not come back";
            // A step or two may fall between its return and this look.
            EXPECT_LE((probe.screenPosition(idOf(*character)) - aside[character]).manhattanLength(), 4 * kStepPixels)
                << "came back elsewhere";
            EXPECT_GE(ticksWithin(*character, 450), 1) << "did not walk on";
        }
        EXPECT_EQ(probe.activeWindow() == idOf(second) || probe.activeWindow() == idOf(fourth), false)
            << "a character took the focus on its return";
    }

    // Off: a full-screen window changes nothing.
    program.characters.AwayFromFullScreen = false;
    windows.CharacterOptionsChanged();
    QWidget film;
    film.showFullScreen();
    activate(film);
    ASSERT_TRUE(eventually([&] { return probe.hasState(idOf(film), "_NET_WM_STATE_FULLSCREEN"); }));
    QTest::qWait(300);
    for (CharacterWindow* character : both) {
        EXPECT_TRUE(onScreen(*character));
        EXPECT_GE(ticksWithin(*character, 450), 1);
    }
}

TEST_F(CharacterManners, ADoubleClickOnAWalkingCharacterOpensTheReceivedHistory) {
    for (const bool homeWhenRead : {false, true}) {
        SCOPED_TRACE(homeWhenRead ? "going home" : "staying");
        program.characters.HomeWhenRead = homeWhenRead;
        CharacterWindow& character = showCharacter(5, QPoint(500, 400));
        // Right after a tick, so that no step falls between reading the
        // place and clicking there.
        bool ticked = false;
        const auto connection = QObject::connect(character.Timer1, &QTimer::timeout, [&] { ticked = true; });
        ASSERT_TRUE(eventually([&] { return ticked; }));
        QObject::disconnect(connection);
        const QPoint at = probe.screenPosition(idOf(character)) + pointInEveryFrame(character);
        ASSERT_TRUE(X11Probe::xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click",
                                       "--repeat", "2", "--delay", "120", "1"}));
        ASSERT_TRUE(eventually([] { return shownViewer() != nullptr; })) << "着信履歴 did not open";
        EXPECT_EQ(shownViewer()->ViewerMode(), History::Received);
        if (homeWhenRead) {
            EXPECT_TRUE(eventually([&] { return !character.isLoaded() && !onScreen(character); }));
        } else {
            EXPECT_TRUE(character.isLoaded());
            EXPECT_GE(ticksWithin(character, 450), 1) << "a double click stopped it";
        }
        shownViewer()->close();
        character.Unload();
    }
}

}  // namespace
}  // namespace lumopet

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
