#include "tests/chara/x11_probe.h"

#include <QProcess>
#include <QStringList>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/shape.h>

namespace lumopet::test {

X11Probe::X11Probe() : display_(XOpenDisplay(nullptr)) {}

X11Probe::~X11Probe() {
    if (display_) XCloseDisplay(display_);
}

std::vector<unsigned long> X11Probe::atomList(unsigned long window, const char* property, unsigned long type) const {
    std::vector<unsigned long> values;
    if (!display_) return values;
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    const Atom name = XInternAtom(display_, property, False);
    if (XGetWindowProperty(display_, window, name, 0, 4096, False, type, &actualType, &format, &count, &remaining,
                           &data) == Success &&
        data && format == 32) {
        // Xlib hands 32-bit items over as longs.
        const auto* items = reinterpret_cast<const unsigned long*>(data);
        values.assign(items, items + count);
    }
    if (data) XFree(data);
    return values;
}

QString X11Probe::windowManagerName() const {
    if (!display_) return {};
    const auto check = atomList(DefaultRootWindow(display_), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW);
    if (check.empty()) return {};
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    QString name;
    if (XGetWindowProperty(display_, check[0], XInternAtom(display_, "_NET_WM_NAME", False), 0, 256, False,
                           XInternAtom(display_, "UTF8_STRING", False), &actualType, &format, &count, &remaining,
                           &data) == Success &&
        data)
        name = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(count));
    if (data) XFree(data);
    return name;
}

std::vector<unsigned long> X11Probe::stacking() const {
    return display_ ? atomList(DefaultRootWindow(display_), "_NET_CLIENT_LIST_STACKING", XA_WINDOW)
                    : std::vector<unsigned long>{};
}

int X11Probe::stackingIndex(unsigned long window) const {
    const auto list = stacking();
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] == window) return static_cast<int>(i);
    return -1;
}

unsigned long X11Probe::activeWindow() const {
    if (!display_) return 0;
    const auto active = atomList(DefaultRootWindow(display_), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    return active.empty() ? 0 : active[0];
}

std::vector<std::string> X11Probe::states(unsigned long window) const {
    std::vector<std::string> names;
    for (const unsigned long atom : atomList(window, "_NET_WM_STATE", XA_ATOM)) {
        char* name = XGetAtomName(display_, atom);
        if (name) {
            names.emplace_back(name);
            XFree(name);
        }
    }
    return names;
}

bool X11Probe::hasState(unsigned long window, const char* state) const {
    for (const std::string& name : states(window))
        if (name == state) return true;
    return false;
}

QRegion X11Probe::boundingShape(unsigned long window) const {
    QRegion shape;
    if (!display_) return shape;
    int count = 0, ordering = 0;
    XRectangle* rects = XShapeGetRectangles(display_, window, ShapeBounding, &count, &ordering);
    for (int i = 0; i < count; ++i) shape += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    if (rects) XFree(rects);
    return shape;
}

bool X11Probe::isShaped(unsigned long window) const {
    if (!display_) return false;
    Bool boundingShaped = False, clipShaped = False;
    int bx = 0, by = 0, cx = 0, cy = 0;
    unsigned int bw = 0, bh = 0, cw = 0, ch = 0;
    if (!XShapeQueryExtents(display_, window, &boundingShaped, &bx, &by, &bw, &bh, &clipShaped, &cx, &cy, &cw, &ch))
        return false;
    return boundingShaped;
}

QSize X11Probe::size(unsigned long window) const {
    XWindowAttributes attributes{};
    if (!display_ || !XGetWindowAttributes(display_, window, &attributes)) return {};
    return {attributes.width, attributes.height};
}

QPoint X11Probe::screenPosition(unsigned long window) const {
    if (!display_) return {};
    int x = 0, y = 0;
    Window child = None;
    XTranslateCoordinates(display_, window, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return {x, y};
}

QPoint X11Probe::pointer() const {
    if (!display_) return {};
    Window root = None, child = None;
    int rootX = 0, rootY = 0, x = 0, y = 0;
    unsigned int buttons = 0;
    XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &rootX, &rootY, &x, &y, &buttons);
    return {rootX, rootY};
}

QImage X11Probe::picture(unsigned long window) const {
    const QSize area = size(window);
    if (area.isEmpty()) return {};
    // From the screen rather than the window: a shaped window's own
    // contents outside its shape are not defined.
    const QPoint at = screenPosition(window);
    XImage* image = XGetImage(display_, DefaultRootWindow(display_), at.x(), at.y(), static_cast<unsigned>(area.width()),
                              static_cast<unsigned>(area.height()), AllPlanes, ZPixmap);
    if (!image) return {};
    QImage copy(area, QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y)
        for (int x = 0; x < area.width(); ++x)
            copy.setPixel(x, y, static_cast<QRgb>(XGetPixel(image, x, y)) | 0xff000000u);
    XDestroyImage(image);
    return copy;
}

bool X11Probe::xdotool(const QStringList& arguments) {
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

}  // namespace lumopet::test
