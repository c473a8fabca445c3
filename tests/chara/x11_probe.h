#pragma once
// Asks the X server, on a connection of the test's own, what the window
// manager made of the program's windows: stacking, the active window,
// window states, shapes and places. Pointer actions go through xdotool, as a
// user's hand would.

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>

#include <string>
#include <vector>

using Display = struct _XDisplay;

namespace lumopet::test {

class X11Probe {
public:
    X11Probe();
    ~X11Probe();
    X11Probe(const X11Probe&) = delete;
    X11Probe& operator=(const X11Probe&) = delete;

    bool connected() const { return display_ != nullptr; }
    // The name the running window manager gives itself; empty without one.
    QString windowManagerName() const;
    // Client windows, bottom to top (_NET_CLIENT_LIST_STACKING).
    std::vector<unsigned long> stacking() const;
    // Where a window is in the stacking list; -1 when it is not managed.
    int stackingIndex(unsigned long window) const;
    unsigned long activeWindow() const;
    std::vector<std::string> states(unsigned long window) const;
    bool hasState(unsigned long window, const char* state) const;
    // The bounding shape in window coordinates; the whole window when it
    // is not shaped.
    QRegion boundingShape(unsigned long window) const;
    bool isShaped(unsigned long window) const;
    QSize size(unsigned long window) const;
    // The window's top-left corner on the screen, as the server has it.
    QPoint screenPosition(unsigned long window) const;
    QPoint pointer() const;
    // What the window shows on the screen now, as RGB32.
    QImage picture(unsigned long window) const;

    // xdotool with these arguments; true when it succeeded.
    static bool xdotool(const QStringList& arguments);

private:
    std::vector<unsigned long> atomList(unsigned long window, const char* property, unsigned long type) const;
    Display* display_;
};

}  // namespace lumopet::test
