#pragma once
// The outline of a character frame: every pixel whose colour differs from
// the frame's top-left pixel, kept as a list of rectangles in a record of
// fixed size, built once per load and turned into the window's shape at
// every tick.

#include <QImage>
#include <QRegion>

#include <array>
#include <cstdint>

namespace lumopet {

inline constexpr int kFrameSize = 64;
inline constexpr int kMaxOutlineRects = 201;

struct OutlineRect {
    std::int32_t left, top, right, bottom;  // right and bottom exclusive
};

// The header of the rectangle data: the same fields as the region data the
// outlines have always been kept in.
struct OutlineHeader {
    std::uint32_t headerSize;
    std::uint32_t type;      // 1: a list of rectangles
    std::uint32_t count;     // rectangles in use
    std::uint32_t dataSize;  // bytes of rectangles in use
    OutlineRect bounds;
};

struct FrameOutline {
    OutlineHeader header;
    std::array<OutlineRect, kMaxOutlineRects> rects;
    // True when the exact outline needed more rectangles than the record
    // holds and each row was filled from its first to its last figure pixel.
    bool simplified = false;
};

static_assert(sizeof(OutlineRect) == 16);
static_assert(sizeof(OutlineHeader) == 32);
static_assert(sizeof(FrameOutline::rects) == 3216, "room for 201 rectangles");

// Looks at the 64 x 64 pixels from the top-left corner; pixels outside a
// smaller picture count as background.
FrameOutline BuildFrameOutline(const QImage& frame);

QRegion OutlineRegion(const FrameOutline& outline);

}  // namespace lumopet
