#pragma once
// Tells when the active window starts or stops covering its whole screen,
// as the X server reports it: on a connection of its own it listens for the
// root window's _NET_ACTIVE_WINDOW and for the active window's
// _NET_WM_STATE to change, and reads them only then. Nothing polls: between
// changes it costs nothing. The reading is here; what the properties add up
// to is FullScreenRule's.
//
// Its own connection, rather than Qt's, so that what it asks the server to
// report (property changes on the root and on another program's window)
// never mixes with the events Qt asked for on the same windows.

#include "chara/full_screen_rule.h"

#include <QObject>

#include <xcb/xcb.h>

#include <memory>
#include <vector>

class QSocketNotifier;

namespace lumopet {

class FullScreenWatch : public QObject {
    Q_OBJECT
public:
    // Nothing when the program does not run on an X server, or the server
    // cannot be reached.
    static std::unique_ptr<FullScreenWatch> Start();
    ~FullScreenWatch() override;
    FullScreenWatch(const FullScreenWatch&) = delete;
    FullScreenWatch& operator=(const FullScreenWatch&) = delete;

    bool fullScreen() const { return rule_.fullScreen(); }

Q_SIGNALS:
    void fullScreenChanged(bool fullScreen);

private:
    FullScreenWatch(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t activeWindow, xcb_atom_t state,
                    FullScreenRule rule);
    // Reads every event the server has sent.
    void readEvents();
    // Follows the window the root's _NET_ACTIVE_WINDOW names now.
    void followActiveWindow();
    std::vector<std::uint32_t> statesOf(xcb_window_t window);
    void tell(bool changed);

    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_atom_t activeWindowAtom_;
    xcb_atom_t stateAtom_;
    FullScreenRule rule_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace lumopet
