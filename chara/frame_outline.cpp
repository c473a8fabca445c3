#include "chara/frame_outline.h"

#include <vector>

namespace lumopet {
namespace {

struct Run {
    int left, right;  // right exclusive
    bool operator==(const Run&) const = default;
};

using Rows = std::array<std::vector<Run>, kFrameSize>;

Rows figureRuns(const QImage& frame) {
    const QRgb background = frame.isNull() ? 0 : frame.pixel(0, 0);
    auto isFigure = [&](int x, int y) { return x < frame.width() && y < frame.height() && frame.pixel(x, y) != background; };
    Rows rows;
    for (int y = 0; y < kFrameSize; ++y) {
        for (int x = 0; x < kFrameSize; ++x) {
            if (!isFigure(x, y)) continue;
            int end = x;
            while (end < kFrameSize && isFigure(end, y)) ++end;
            rows[y].push_back({x, end});
            x = end;
        }
    }
    return rows;
}

// One span per row, from the first figure pixel to the last: at most 64
// rectangles, whatever the picture.
Rows filledRows(const Rows& rows) {
    Rows filled;
    for (int y = 0; y < kFrameSize; ++y)
        if (!rows[y].empty()) filled[y].push_back({rows[y].front().left, rows[y].back().right});
    return filled;
}

// Rows with the same runs one under the other become one band of
// rectangles. Returns false when the record would overflow.
bool fill(FrameOutline& outline, const Rows& rows) {
    outline.header = {sizeof(OutlineHeader), 1, 0, 0, {kFrameSize, kFrameSize, 0, 0}};
    std::uint32_t count = 0;
    for (int top = 0; top < kFrameSize;) {
        int bottom = top + 1;
        while (bottom < kFrameSize && rows[bottom] == rows[top]) ++bottom;
        for (const Run& run : rows[top]) {
            if (count == kMaxOutlineRects) return false;
            outline.rects[count++] = {run.left, top, run.right, bottom};
            OutlineRect& b = outline.header.bounds;
            b = {std::min(b.left, run.left), std::min(b.top, top), std::max(b.right, run.right), std::max(b.bottom, bottom)};
        }
        top = bottom;
    }
    outline.header.count = count;
    outline.header.dataSize = count * sizeof(OutlineRect);
    if (count == 0) outline.header.bounds = {0, 0, 0, 0};
    return true;
}

}  // namespace

FrameOutline BuildFrameOutline(const QImage& frame) {
    FrameOutline outline{};
    const Rows rows = figureRuns(frame);
    if (!fill(outline, rows)) {
        outline = FrameOutline{};
        fill(outline, filledRows(rows));
        outline.simplified = true;
    }
    return outline;
}

QRegion OutlineRegion(const FrameOutline& outline) {
    const std::uint32_t count = std::min<std::uint32_t>(outline.header.count, kMaxOutlineRects);
    std::vector<QRect> rects;
    rects.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const OutlineRect& r = outline.rects[i];
        rects.emplace_back(r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
    // The rectangles are already in bands, top to bottom and left to right,
    // as setRects wants them.
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

}  // namespace lumopet
