#include "chara/full_screen_rule.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumopet {
namespace {

constexpr std::uint32_t kFull = 301;
constexpr std::uint32_t kHidden = 302;
constexpr std::uint32_t kAbove = 303;

// One change the window manager makes: the active window named anew
// (active), or a window's state changed.
struct Event {
    bool active;
    std::uint32_t window;
    std::vector<std::uint32_t> states;
    bool fullScreenAfter;
};

TEST(FullScreenRule, FollowsTheActiveWindowsFullScreenState) {
    struct Case {
        const char* name;
        std::vector<Event> events;
    };
    const Case cases[] = {
        {"a normal window", {{true, 7, {kAbove}, false}}},
        {"a full-screen window made active", {{true, 7, {kAbove, kFull}, true}}},
        {"no active window", {{true, 7, {kFull}, true}, {true, 0, {}, false}}},
        {"the active window goes full screen and back",
         {{true, 7, {}, false}, {false, 7, {kFull}, true}, {false, 7, {}, false}}},
        {"another window's state counts for nothing",
         {{true, 7, {}, false}, {false, 8, {kFull}, false}, {true, 8, {kFull}, true}, {false, 7, {}, true}}},
        {"the focus leaves a full-screen window", {{true, 7, {kFull}, true}, {true, 8, {}, false}}},
        {"minimised with its full-screen state", {{true, 7, {kFull, kHidden}, false}, {false, 7, {kFull}, true}}},
        {"a state without any atoms of ours", {{true, 7, {kAbove}, false}, {false, 7, {kAbove, kHidden}, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FullScreenRule rule(kFull, kHidden);
        bool before = false;
        int step = 0;
        for (const Event& event : c.events) {
            SCOPED_TRACE(++step);
            const bool changed =
                event.active ? rule.activeWindowIs(event.window, event.states) : rule.stateOf(event.window, event.states);
            EXPECT_EQ(rule.fullScreen(), event.fullScreenAfter);
            EXPECT_EQ(changed, event.fullScreenAfter != before) << "a change told wrong";
            before = rule.fullScreen();
        }
    }
}

TEST(FullScreenRule, AnAtomTheServerDoesNotKnowMatchesNothing) {
    // A server without the atoms gives 0 for them; a window with no state
    // must not read as full screen.
    FullScreenRule rule(0, 0);
    const std::uint32_t none[] = {0};
    EXPECT_FALSE(rule.activeWindowIs(7, none));
    EXPECT_FALSE(rule.fullScreen());
}

}  // namespace
}  // namespace lumopet
