#include "chara/full_screen_rule.h"

#include <algorithm>

namespace lumopet {

FullScreenRule::FullScreenRule(std::uint32_t fullScreenAtom, std::uint32_t hiddenAtom)
    : fullScreenAtom_(fullScreenAtom), hiddenAtom_(hiddenAtom) {}

// A minimised window keeps its full-screen state for when it comes back,
// but covers nothing meanwhile. An atom the server does not know (0)
// never matches.
bool FullScreenRule::coversScreen(std::span<const std::uint32_t> states) const {
    const auto holds = [&](std::uint32_t atom) {
        return atom != 0 && std::find(states.begin(), states.end(), atom) != states.end();
    };
    return holds(fullScreenAtom_) && !holds(hiddenAtom_);
}

bool FullScreenRule::answer(bool fullScreen) {
    const bool changed = fullScreen != fullScreen_;
    fullScreen_ = fullScreen;
    return changed;
}

bool FullScreenRule::activeWindowIs(std::uint32_t window, std::span<const std::uint32_t> states) {
    active_ = window;
    return answer(window != 0 && coversScreen(states));
}

bool FullScreenRule::stateOf(std::uint32_t window, std::span<const std::uint32_t> states) {
    if (window == 0 || window != active_) return false;
    return answer(coversScreen(states));
}

}  // namespace lumopet
