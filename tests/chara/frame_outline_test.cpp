#include "chara/character_art.h"
#include "chara/frame_outline.h"

#include <gtest/gtest.h>

namespace lumopet {
namespace {

const QRgb kSilver = qRgb(0xC0, 0xC0, 0xC0);

QImage blankFrame() {
    QImage image(kFrameSize, kFrameSize, QImage::Format_RGB32);
    image.fill(kSilver);
    return image;
}

// The outline as it should be: one pixel at a time.
QRegion figurePixels(const QImage& frame) {
    QRegion region;
    for (int x = 0; x < kFrameSize; ++x)
        for (int y = 0; y < kFrameSize; ++y)
            if (x < frame.width() && y < frame.height() && frame.pixel(x, y) != frame.pixel(0, 0)) region += QRect(x, y, 1, 1);
    return region;
}

TEST(FrameOutline, IsExactlyThePixelsThatDifferFromTheCornerHolesIncluded) {
    QImage frame = blankFrame();
    for (int x = 10; x < 40; ++x)
        for (int y = 5; y < 50; ++y) frame.setPixel(x, y, qRgb(40, 60, 200));
    for (int x = 20; x < 25; ++x)
        for (int y = 20; y < 23; ++y) frame.setPixel(x, y, kSilver);  // an eye of background: a hole
    frame.setPixel(63, 63, qRgb(0, 0, 0));
    const FrameOutline outline = BuildFrameOutline(frame);
    EXPECT_FALSE(outline.simplified);
    EXPECT_EQ(OutlineRegion(outline), figurePixels(frame));
    EXPECT_FALSE(OutlineRegion(outline).contains(QPoint(22, 21)));
    EXPECT_EQ(outline.header.dataSize, outline.header.count * sizeof(OutlineRect));
    EXPECT_EQ(outline.header.bounds.right, 64);
}

TEST(FrameOutline, AnEmptyFrameHasNoOutline) {
    const FrameOutline outline = BuildFrameOutline(blankFrame());
    EXPECT_EQ(outline.header.count, 0u);
    EXPECT_TRUE(OutlineRegion(outline).isEmpty());
}

TEST(FrameOutline, AFrameTooIntricateForTheRecordGetsAFilledOutlineThatFits) {
    QImage frame = blankFrame();
    for (int x = 0; x < kFrameSize; ++x)
        for (int y = 0; y < kFrameSize; ++y)
            if ((x + y) % 2 == 1) frame.setPixel(x, y, qRgb(0, 0, 0));  // a checkerboard: 2048 runs
    const FrameOutline outline = BuildFrameOutline(frame);
    EXPECT_TRUE(outline.simplified);
    EXPECT_LE(outline.header.count, static_cast<std::uint32_t>(kMaxOutlineRects));
    const QRegion region = OutlineRegion(outline);
    EXPECT_TRUE((figurePixels(frame) - region).isEmpty()) << "every figure pixel stays inside";
    EXPECT_EQ(region.boundingRect(), QRect(0, 0, 64, 64));
}

// Our own artwork: every frame of every character fits its record exactly,
// on a silver background that fills the corner.
TEST(CharacterArtwork, EveryFrameHasAnExactOutlineOnSilver) {
    for (int mood = 1; mood <= 5; ++mood) {
        const CharacterArt art = LoadCharacterArt(mood);
        ASSERT_EQ(art.initial.size(), QSize(64, 64)) << "mood " << mood;
        for (int k = 0; k < 8; ++k) {
            const QImage& frame = art.frames[k];
            ASSERT_EQ(frame.size(), QSize(64, 64)) << "mood " << mood << " frame " << k;
            EXPECT_EQ(frame.pixel(0, 0), kSilver);
            const FrameOutline outline = BuildFrameOutline(frame);
            EXPECT_FALSE(outline.simplified) << "mood " << mood << " frame " << k;
            EXPECT_EQ(OutlineRegion(outline), figurePixels(frame)) << "mood " << mood << " frame " << k;
            EXPECT_GT(outline.header.count, 0u);
        }
    }
}

}  // namespace
}  // namespace lumopet
