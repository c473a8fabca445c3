#include "chara/x11_character_surface.h"

#include <QGuiApplication>
#include <QPainter>
#include <QWidget>

#include <xcb/shape.h>

#include <cstdlib>

namespace lumopet {
namespace {

template <class Reply>
struct Freed {
    explicit Freed(Reply* reply) : reply(reply) {}
    ~Freed() { std::free(reply); }
    Freed(const Freed&) = delete;
    Freed& operator=(const Freed&) = delete;
    Reply* reply;
};

// The pictures go up as QImage::Format_RGB32 holds them: four bytes a
// pixel, blue first. That is the server's own layout only for a true-colour
// visual with 8-bit red, green and blue in that order, 32 bits a pixel and
// the low byte first; anything else is left to Qt, which converts.
bool TakesRgb32AsItIs(xcb_connection_t* connection, xcb_visualid_t visual, std::uint8_t depth) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
    bool thirtyTwoBits = false;
    for (auto formats = xcb_setup_pixmap_formats_iterator(setup); formats.rem; xcb_format_next(&formats))
        if (formats.data->depth == depth) thirtyTwoBits = formats.data->bits_per_pixel == 32;
    if (!thirtyTwoBits) return false;
    for (auto screens = xcb_setup_roots_iterator(setup); screens.rem; xcb_screen_next(&screens))
        for (auto depths = xcb_screen_allowed_depths_iterator(screens.data); depths.rem; xcb_depth_next(&depths))
            for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals))
                if (visuals.data->visual_id == visual)
                    return depths.data->depth == depth && visuals.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR &&
                           visuals.data->red_mask == 0xff0000 && visuals.data->green_mask == 0xff00 &&
                           visuals.data->blue_mask == 0xff;
    return false;
}

std::vector<xcb_rectangle_t> RectanglesOf(const QRegion& region) {
    std::vector<xcb_rectangle_t> rectangles;
    for (const QRect& rect : region)
        rectangles.push_back({static_cast<std::int16_t>(rect.x()), static_cast<std::int16_t>(rect.y()),
                              static_cast<std::uint16_t>(rect.width()), static_cast<std::uint16_t>(rect.height())});
    return rectangles;
}

}  // namespace

std::unique_ptr<X11CharacterSurface> X11CharacterSurface::Create(QWidget& window, const Pictures& pictures) {
    // The offscreen platform answers to the X11 interface too, without a
    // connection.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return nullptr;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(connection, &xcb_shape_id);
    if (!shape || !shape->present) return nullptr;
    // Scaled by Qt (QT_SCALE_FACTOR, a high-density screen), the window's
    // pixels and places are not the widget's: Qt does the sums.
    if (window.devicePixelRatioF() != 1.0) return nullptr;

    const auto id = static_cast<xcb_window_t>(window.winId());
    const Freed geometry(xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr));
    const Freed attributes(
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, id), nullptr));
    if (!geometry.reply || !attributes.reply ||
        !TakesRgb32AsItIs(connection, attributes.reply->visual, geometry.reply->depth))
        return nullptr;

    std::unique_ptr<X11CharacterSurface> surface(new X11CharacterSurface(connection, id));
    surface->size_ = window.size();
    surface->initial_ = surface->upload(pictures.initial, geometry.reply->depth);
    for (int k = 0; k < 8; ++k) {
        surface->frames_[k] = surface->upload(pictures.frames[k], geometry.reply->depth);
        surface->shapes_[k] = pictures.shapes[k];
        surface->rectangles_[k] = RectanglesOf(pictures.shapes[k]);
    }
    // The mouse buttons are all the window has to hear of: a drag, and the
    // right button that ends the program. Qt asks for more (moves, exposures,
    // property changes), and each would come back at every step.
    const std::uint32_t events = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_BUTTON_MOTION;
    xcb_change_window_attributes(connection, id, XCB_CW_EVENT_MASK, &events);
    surface->place_ = window.geometry().topLeft();
    xcb_flush(connection);
    return surface;
}

X11CharacterSurface::X11CharacterSurface(xcb_connection_t* connection, xcb_window_t window)
    : connection_(connection), window_(window) {}

X11CharacterSurface::~X11CharacterSurface() {
    xcb_free_pixmap(connection_, initial_);
    for (const xcb_pixmap_t frame : frames_) xcb_free_pixmap(connection_, frame);
    xcb_flush(connection_);
}

// A pixmap the size of the window. A picture smaller than the window is
// drawn at its top left on the colour of its own top-left pixel, the
// background of every frame.
xcb_pixmap_t X11CharacterSurface::upload(const QImage& picture, std::uint8_t depth) {
    QImage canvas(size_, QImage::Format_RGB32);
    canvas.fill(picture.isNull() ? QColor(Qt::white) : picture.pixelColor(0, 0));
    if (!picture.isNull()) QPainter(&canvas).drawImage(0, 0, picture);
    const xcb_pixmap_t pixmap = xcb_generate_id(connection_);
    xcb_create_pixmap(connection_, depth, pixmap, window_, static_cast<std::uint16_t>(size_.width()),
                      static_cast<std::uint16_t>(size_.height()));
    const xcb_gcontext_t gc = xcb_generate_id(connection_);
    xcb_create_gc(connection_, gc, pixmap, 0, nullptr);
    xcb_put_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, static_cast<std::uint16_t>(size_.width()),
                  static_cast<std::uint16_t>(size_.height()), 0, 0, 0, depth,
                  static_cast<std::uint32_t>(canvas.sizeInBytes()), canvas.constBits());
    xcb_free_gc(connection_, gc);
    return pixmap;
}

// The background first: what the new shape uncovers is then painted with
// the new frame at once, and the clearing repaints the rest.
void X11CharacterSurface::showFrame(int frame) {
    const xcb_pixmap_t background = frame < 0 ? initial_ : frames_[frame];
    xcb_change_window_attributes(connection_, window_, XCB_CW_BACK_PIXMAP, &background);
    // An empty outline leaves the square, as Qt does with an empty mask.
    if (frame < 0 || rectangles_[frame].empty()) {
        xcb_shape_mask(connection_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, window_, 0, 0, XCB_PIXMAP_NONE);
        shape_ = QRegion();
    } else {
        const auto& rectangles = rectangles_[frame];
        xcb_shape_rectangles(connection_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, window_, 0,
                             0, static_cast<std::uint32_t>(rectangles.size()), rectangles.data());
        shape_ = shapes_[frame];
    }
    xcb_clear_area(connection_, 0, window_, 0, 0, 0, 0);
}

void X11CharacterSurface::moveTo(QPoint topLeft) {
    if (topLeft == place_) return;
    place_ = topLeft;
    const std::uint32_t values[] = {static_cast<std::uint32_t>(topLeft.x()), static_cast<std::uint32_t>(topLeft.y())};
    xcb_configure_window(connection_, window_, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
}

void X11CharacterSurface::flush() { xcb_flush(connection_); }

}  // namespace lumopet
