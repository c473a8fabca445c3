#pragma once
// What a character window asks of the window manager that Qt has no call
// for: to be left out of task bars and pagers. The characters are part of
// the desktop, not programs of their own for the user to switch to.

class QWidget;

namespace lumopet {

// Call before the window is shown: on X11 the request travels in the
// window's _NET_WM_STATE, which a window manager reads when the window is
// mapped (EWMH), and to which Qt adds its own states. Does nothing on other
// platforms.
void KeepOutOfTaskbarAndPager(QWidget& window);

}  // namespace lumopet
