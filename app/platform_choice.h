#pragma once
// The characters are shaped windows placed where the program says and kept
// above the others: Wayland lets no client do that, X11 does. On a Wayland
// desktop the program therefore runs on XWayland, unless the user chose a
// platform.

#include <QByteArray>

#include <optional>

namespace lumopet {

struct DisplayEnvironment {
    QByteArray qtPlatform;      // QT_QPA_PLATFORM
    QByteArray waylandDisplay;  // WAYLAND_DISPLAY
    QByteArray sessionType;     // XDG_SESSION_TYPE
    QByteArray x11Display;      // DISPLAY
};

// The platform to ask Qt for, or nothing to leave Qt's own choice.
inline std::optional<QByteArray> PlatformToChoose(const DisplayEnvironment& env) {
    if (!env.qtPlatform.isEmpty()) return std::nullopt;
    const bool wayland = !env.waylandDisplay.isEmpty() || env.sessionType == "wayland";
    // Without an X server (XWayland) to talk to, xcb would only fail.
    if (!wayland || env.x11Display.isEmpty()) return std::nullopt;
    return QByteArray("xcb");
}

}  // namespace lumopet
