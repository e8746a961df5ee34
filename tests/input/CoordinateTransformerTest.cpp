#include "input/CoordinateTransformer.h"

#include <QPoint>
#include <gtest/gtest.h>

#include <limits>

using namespace velmarin::input;
using velmarin::protocol::PixelRect;

TEST(CoordinateTransformer, LetterboxedViewMapsOnlyThePictureWithoutItsRightAndBottomEdges) {
    const CoordinateTransformer transformer; // 1920 x 1080 until the Host reports
    // 1000 x 1000: the picture is 1000 x 562.5 with bars of 218.75 above and below.
    EXPECT_EQ(transformer.viewerToNormalized({500, 500}, {1000, 1000}), QPointF(0.5, 0.5));
    EXPECT_FALSE(transformer.viewerToNormalized({500, 100}, {1000, 1000}));
    EXPECT_TRUE(transformer.viewerToNormalized({0, 218.75}, {1000, 1000}));
    EXPECT_FALSE(transformer.viewerToNormalized({0, 218.74}, {1000, 1000}));

    // 2000 x 1000: bars of 111.11 left and right.
    EXPECT_FALSE(transformer.viewerToNormalized({100, 500}, {2000, 1000}));
    const auto left = transformer.viewerToNormalized({111.12, 0}, {2000, 1000});
    ASSERT_TRUE(left);
    EXPECT_NEAR(left->x(), 0.0, 1e-5);

    // The right and bottom edges belong outside.
    EXPECT_EQ(transformer.viewerToNormalized({0, 0}, {1600, 900}), QPointF(0, 0));
    EXPECT_FALSE(transformer.viewerToNormalized({1600, 450}, {1600, 900}));
    EXPECT_FALSE(transformer.viewerToNormalized({800, 900}, {1600, 900}));
    const auto corner = transformer.viewerToNormalized({1599.9, 899.9}, {1600, 900});
    ASSERT_TRUE(corner);
    EXPECT_LT(corner->x(), 1.0);
    EXPECT_GT(corner->x(), 0.9999);
    EXPECT_LT(corner->y(), 1.0);
    // The clamped mapping (for releases) pulls outside points to the edge.
    EXPECT_EQ(transformer.viewerToNormalizedClamped({-40, 2000}, {1600, 900}), QPointF(0, 1));

    // Degenerate views and Host sizes map nothing.
    EXPECT_FALSE(transformer.viewerToNormalized({0, 0}, {0, 900}));
    EXPECT_FALSE(transformer.viewerToNormalized({0, 0}, {1600, 0}));
    EXPECT_FALSE(CoordinateTransformer{QSizeF(0, 0)}.viewerToNormalized({1, 1}, {100, 100}));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(transformer.viewerToNormalized({nan, 1}, {1600, 900}));
}

// The centre and far corner of a captured monitor are the injection test's.
TEST(HostMapping, OutOfRangeValuesFromTheNetworkAreClampedOrDropped) {
    EXPECT_EQ(normalizedToScreen(1, 1, PixelRect{0, 1080, 1512, 982}), QPoint(1511, 2061));
    const PixelRect area{100, 200, 800, 600};
    EXPECT_EQ(normalizedToScreen(-3, 7, area), QPoint(100, 799));
    EXPECT_EQ(normalizedToScreen(1e300, -1e300, area), QPoint(899, 200));
    EXPECT_FALSE(normalizedToScreen(std::numeric_limits<double>::quiet_NaN(), 0.5, area));
    EXPECT_FALSE(normalizedToScreen(0.5, std::numeric_limits<double>::infinity(), area));
    EXPECT_FALSE(normalizedToScreen(0.5, 0.5, PixelRect{0, 0, 0, 600}));
}
