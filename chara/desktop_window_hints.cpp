#include "chara/desktop_window_hints.h"

#include "chara/xcb_replies.h"

#include <QGuiApplication>
#include <QWidget>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumopet {

void KeepOutOfTaskbarAndPager(QWidget& window) {
    // The offscreen platform answers to the X11 interface too, without a
    // connection.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection || window.isVisible()) return;
    const auto id = static_cast<xcb_window_t>(window.winId());
    const xcb_atom_t state = InternXcbAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t wanted[] = {InternXcbAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"),
                                 InternXcbAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == XCB_ATOM_NONE) return;

    // Keep what is already there: the window manager removes the property
    // when a window is hidden, but nothing else should be lost.
    std::vector<xcb_atom_t> atoms;
    const XcbReplyPointer<xcb_get_property_reply_t> current(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, id, state, XCB_ATOM_ATOM, 0, 1024), nullptr));
    if (current && current->format == 32 && current->type == XCB_ATOM_ATOM) {
        const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(current.get()));
        atoms.assign(values, values + xcb_get_property_value_length(current.get()) / sizeof(xcb_atom_t));
    }
    for (const xcb_atom_t atom : wanted)
        if (atom != XCB_ATOM_NONE && std::find(atoms.begin(), atoms.end(), atom) == atoms.end()) atoms.push_back(atom);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(atoms.size()), atoms.data());
    xcb_flush(connection);
}

}  // namespace lumopet
