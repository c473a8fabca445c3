#pragma once
// A character window as the X server draws it. The pictures are handed to
// the server once per window, as pixmaps; showing a frame makes its pixmap
// the window's background and its outline the window's shape, and a step
// moves the window. A tick is then three or four requests in one write,
// none of which waits for an answer, and the server sends nothing back:
// the window listens for the mouse buttons only, so no move, exposure or
// property change of its own wakes the program.
//
// Through Qt the same tick cost a dozen writes and reads between two
// threads: the picture went up again as an image, Qt asked where the
// window went after every move, and repainted whatever a new shape
// uncovered.

#include <QImage>
#include <QPoint>
#include <QRegion>
#include <QSize>

#include <xcb/xcb.h>

#include <array>
#include <memory>
#include <vector>

class QWidget;

namespace lumopet {

class X11CharacterSurface {
public:
    // The pictures of one character: the initial square and eight frames,
    // with the outline of each frame in window coordinates.
    struct Pictures {
        QImage initial;
        std::array<QImage, 8> frames;
        std::array<QRegion, 8> shapes;
    };

    // Nothing when the program does not run on an X server, or when the
    // server keeps its pixels in a way the pictures cannot be handed over
    // in unchanged; the window then paints through Qt.
    static std::unique_ptr<X11CharacterSurface> Create(QWidget& window, const Pictures& pictures);
    ~X11CharacterSurface();
    X11CharacterSurface(const X11CharacterSurface&) = delete;
    X11CharacterSurface& operator=(const X11CharacterSurface&) = delete;

    // frame: 0 to 7, or -1 for the initial picture without a shape.
    void showFrame(int frame);
    void moveTo(QPoint topLeft);
    // Where the window is: Qt is not told of the moves.
    QPoint place() const { return place_; }
    // The shape set last; empty for the plain square.
    QRegion shape() const { return shape_; }
    // Sends what the tick asked for in one write.
    void flush();

private:
    X11CharacterSurface(xcb_connection_t* connection, xcb_window_t window);
    xcb_pixmap_t upload(const QImage& picture, std::uint8_t depth);

    xcb_connection_t* connection_;
    xcb_window_t window_;
    QSize size_;
    xcb_pixmap_t initial_ = XCB_PIXMAP_NONE;
    std::array<xcb_pixmap_t, 8> frames_{};
    std::array<std::vector<xcb_rectangle_t>, 8> rectangles_;
    std::array<QRegion, 8> shapes_;
    QRegion shape_;
    QPoint place_;
};

}  // namespace lumopet
