#include "capture/CaptureGeometry.h"

#include "capture/CursorComposite.h"

#include <gtest/gtest.h>

#include <array>

using namespace velmarin::capture;
using velmarin::protocol::PixelRect;

TEST(CaptureGeometry, LargeDisplaysShrinkToFit1080pWithEvenSides) {
    EXPECT_EQ(captureSizeFor(1920, 1080), (PictureSize{1920, 1080}));
    EXPECT_EQ(captureSizeFor(1280, 800), (PictureSize{1280, 800}));
    EXPECT_EQ(captureSizeFor(1920, 1200), (PictureSize{1728, 1080}));
    EXPECT_EQ(captureSizeFor(2560, 1440), (PictureSize{1920, 1080}));
    EXPECT_EQ(captureSizeFor(3840, 2160), (PictureSize{1920, 1080}));
    // 803 lines cannot be encoded in 4:2:0.
    EXPECT_EQ(captureSizeFor(3440, 1440), (PictureSize{1920, 802}));
    EXPECT_EQ(captureSizeFor(1365, 767), (PictureSize{1364, 766}));
}

TEST(CaptureGeometry, RectanglesIntersectOnlyWhenTheyShareAPixel) {
    const PixelRect left{0, 0, 1920, 1080};
    EXPECT_TRUE(left.intersects({1919, 1079, 1, 1}));
    EXPECT_FALSE(left.intersects({1920, 0, 1920, 1080}));
    EXPECT_EQ(PixelRect({1800, 0, 400, 1200}).intersected(left), (PixelRect{1800, 0, 120, 1080}));
}

TEST(CursorComposite, BlendsPremultipliedPixelsAndClipsAtTheEdges) {
    // A 4 × 2 grey picture (B, G, R, X).
    std::array<std::uint8_t, 4 * 2 * 4> picture;
    picture.fill(100);
    // Opaque red, half-transparent white (premultiplied), fully transparent.
    const std::array<std::uint32_t, 3> cursor = {0xffff0000, 0x80808080, 0x00000000};
    // Placed one pixel left of the picture: the red pixel is clipped away.
    compositeCursor(picture.data(), 4, 2, 16, cursor.data(), 3, 1, -1, 1);
    const std::uint8_t* row = picture.data() + 16;
    // Pixel 0 got the half-white one: 128 + 100 × 127 / 255 ≈ 178.
    EXPECT_EQ(row[0], 178);
    EXPECT_EQ(row[2], 178);
    // Pixel 1 got the transparent one, pixel 2 nothing.
    EXPECT_EQ(row[4], 100);
    EXPECT_EQ(row[8], 100);
    // The first row is untouched.
    EXPECT_EQ(picture[0], 100);

    // An opaque pixel replaces what was there.
    compositeCursor(picture.data(), 4, 2, 16, cursor.data(), 1, 1, 3, 0);
    EXPECT_EQ(picture[12], 0);   // blue
    EXPECT_EQ(picture[14], 255); // red
}
