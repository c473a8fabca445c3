#pragma once
// When the characters step aside: while the window the user works in
// covers its whole screen (a film, a presentation, a game). The window
// manager names the active window in the root window's _NET_ACTIVE_WINDOW
// and says that a window covers its screen with _NET_WM_STATE_FULLSCREEN in
// the window's _NET_WM_STATE (EWMH); this follows both as they change and
// says what they add up to. The X side (full_screen_watch.h) only reads the
// properties and hands them over.

#include <cstdint>
#include <span>

namespace lumopet {

class FullScreenRule {
public:
    // The atoms of _NET_WM_STATE_FULLSCREEN and _NET_WM_STATE_HIDDEN on the
    // server at hand.
    FullScreenRule(std::uint32_t fullScreenAtom, std::uint32_t hiddenAtom);

    // The active window is now `window` (0: none), whose _NET_WM_STATE
    // holds `states`. True when the answer of fullScreen() changed.
    bool activeWindowIs(std::uint32_t window, std::span<const std::uint32_t> states);
    // The _NET_WM_STATE of `window` now holds `states`. Only the active
    // window's state counts. True when the answer of fullScreen() changed.
    bool stateOf(std::uint32_t window, std::span<const std::uint32_t> states);

    // The window whose state is followed; 0 for none.
    std::uint32_t activeWindow() const { return active_; }
    bool fullScreen() const { return fullScreen_; }

private:
    bool coversScreen(std::span<const std::uint32_t> states) const;
    bool answer(bool fullScreen);

    std::uint32_t fullScreenAtom_;
    std::uint32_t hiddenAtom_;
    std::uint32_t active_ = 0;
    bool fullScreen_ = false;
};

}  // namespace lumopet
