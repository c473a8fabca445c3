#include "chara/full_screen_watch.h"

#include "chara/xcb_replies.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace lumopet {
namespace {

struct DisconnectOnError {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

// What the watch asks to hear of a window: its property changes and nothing
// else.
void listenTo(xcb_connection_t* connection, xcb_window_t window, bool listen) {
    const std::uint32_t events = listen ? XCB_EVENT_MASK_PROPERTY_CHANGE : XCB_EVENT_MASK_NO_EVENT;
    xcb_change_window_attributes(connection, window, XCB_CW_EVENT_MASK, &events);
}

}  // namespace

std::unique_ptr<FullScreenWatch> FullScreenWatch::Start() {
    // The offscreen platform answers to the X11 interface too, without a
    // connection: only a program on an X server watches one.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection()) return nullptr;
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, DisconnectOnError> connection(xcb_connect(nullptr, &screenNumber));
    if (xcb_connection_has_error(connection.get())) return nullptr;
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int k = 0; k < screenNumber && screens.rem; ++k) xcb_screen_next(&screens);
    if (!screens.rem) return nullptr;
    const xcb_window_t root = screens.data->root;
    const xcb_atom_t active = InternXcbAtom(connection.get(), "_NET_ACTIVE_WINDOW");
    const xcb_atom_t state = InternXcbAtom(connection.get(), "_NET_WM_STATE");
    if (active == XCB_ATOM_NONE || state == XCB_ATOM_NONE) return nullptr;
    const FullScreenRule rule(InternXcbAtom(connection.get(), "_NET_WM_STATE_FULLSCREEN"),
                              InternXcbAtom(connection.get(), "_NET_WM_STATE_HIDDEN"));

    std::unique_ptr<FullScreenWatch> watch(new FullScreenWatch(connection.release(), root, active, state, rule));
    listenTo(watch->connection_, root, true);
    watch->followActiveWindow();
    watch->notifier_ = new QSocketNotifier(xcb_get_file_descriptor(watch->connection_), QSocketNotifier::Read,
                                           watch.get());
    connect(watch->notifier_, &QSocketNotifier::activated, watch.get(), &FullScreenWatch::readEvents);
    // What came while the first window was read.
    watch->readEvents();
    return watch;
}

FullScreenWatch::FullScreenWatch(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t activeWindow,
                                 xcb_atom_t state, FullScreenRule rule)
    : connection_(connection), root_(root), activeWindowAtom_(activeWindow), stateAtom_(state), rule_(rule) {}

FullScreenWatch::~FullScreenWatch() {
    delete notifier_;
    xcb_disconnect(connection_);
}

void FullScreenWatch::readEvents() {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        // Errors (response type 0) are of a window that went before the
        // watch let it go: nothing to follow there.
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            if (change->window == root_ && change->atom == activeWindowAtom_) {
                followActiveWindow();
            } else if (change->atom == stateAtom_ && change->window == rule_.activeWindow()) {
                const std::vector<std::uint32_t> states = statesOf(change->window);
                tell(rule_.stateOf(change->window, states));
            }
        }
        std::free(event);
    }
    // The server went away: nothing will come any more, and a socket at its
    // end would wake the program for ever.
    if (xcb_connection_has_error(connection_) && notifier_) notifier_->setEnabled(false);
}

void FullScreenWatch::followActiveWindow() {
    const XcbReplyPointer<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, root_, activeWindowAtom_, XCB_ATOM_WINDOW, 0, 1), nullptr));
    xcb_window_t active = XCB_WINDOW_NONE;
    if (reply && reply->type == XCB_ATOM_WINDOW && reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4)
        std::memcpy(&active, xcb_get_property_value(reply.get()), sizeof active);
    const xcb_window_t before = rule_.activeWindow();
    if (active != before) {
        if (before != XCB_WINDOW_NONE) listenTo(connection_, before, false);
        // Listening first, then reading: a change between the two is then
        // reported, not lost.
        if (active != XCB_WINDOW_NONE) listenTo(connection_, active, true);
    }
    const std::vector<std::uint32_t> states =
        active == XCB_WINDOW_NONE ? std::vector<std::uint32_t>{} : statesOf(active);
    tell(rule_.activeWindowIs(active, states));
}

std::vector<std::uint32_t> FullScreenWatch::statesOf(xcb_window_t window) {
    const XcbReplyPointer<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, window, stateAtom_, XCB_ATOM_ATOM, 0, 64), nullptr));
    if (!reply || reply->type != XCB_ATOM_ATOM || reply->format != 32) return {};
    const auto* atoms = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<std::uint32_t>(atoms, atoms + xcb_get_property_value_length(reply.get()) / 4);
}

void FullScreenWatch::tell(bool changed) {
    if (changed) Q_EMIT fullScreenChanged(rule_.fullScreen());
}

}  // namespace lumopet
