// The overlay's coordinate boundary on desktops of one and several screens.

#include "CrosshairOverlayGeometry.h"

#include <gtest/gtest.h>

namespace {

using glimra::x11::ScreenGeometry;

ScreenGeometry screen(const char* name, QRectF points, QRect native, qreal scale, bool primary) {
    return {QString::fromLatin1(name), points, native, scale, primary};
}

TEST(OverlayGeometry, OneWindowOverTheBoundingBoxWhenEveryScreenShowsOnePixelPerPoint) {
    // The primary on the right of a taller screen: the box starts left of it and reaches below it.
    const CrosshairOverlayGeometry g({screen("RIGHT", {0, 0, 1920, 1080}, {1920, 0, 1920, 1080}, 1, true),
                                      screen("LEFT", {-1920, 0, 1920, 1200}, {0, 0, 1920, 1200}, 1, false)});
    ASSERT_EQ(g.parts().size(), 1u);
    EXPECT_EQ(g.parts()[0].points, QRectF(-1920, 0, 3840, 1200));
    EXPECT_EQ(g.parts()[0].native, QRect(0, 0, 3840, 1200));
    EXPECT_EQ(g.displayOffset(), (CGPoint{-1920, 0}));
    EXPECT_EQ(g.boundsSize(), (CGSize{3840, 1200}));

    // A click at root pixel (100, 100) of the left screen: 100 points from the left edge of the box
    // and 1100 above its bottom.
    EXPECT_EQ(g.viewPointFromDisplay(g.displayPointFromPartLocal(0, {100, 100})), (CGPoint{100, 1100}));
    // Screen coordinates flip about the primary's height: the primary's top-left is (0, 1080).
    EXPECT_EQ(g.screenPointFromView({1920, 1200}), (CGPoint{0, 1080}));
    EXPECT_EQ(g.viewPointFromScreen({0, 1080}), (CGPoint{1920, 1200}));
    EXPECT_EQ(g.overlayRectFromView(NSMakeRect(100, 1100, 300, -200)), QRectF(100, 100, 300, 200));
}

TEST(OverlayGeometry, OneWindowPerScreenWhenScalesDifferAndEventsCrossingScreensLandRight) {
    // Qt keeps each screen's native top-left corner: LEFT at scale 2 is 960 x 540 points at -1920.
    const CrosshairOverlayGeometry g({screen("RIGHT", {0, 0, 1920, 1080}, {1920, 0, 1920, 1080}, 1, true),
                                      screen("LEFT", {-1920, 0, 960, 540}, {0, 0, 1920, 1080}, 2, false)});
    ASSERT_EQ(g.parts().size(), 2u);
    EXPECT_EQ(g.displayOffset(), (CGPoint{-1920, 0}));
    EXPECT_EQ(g.boundsSize(), (CGSize{3840, 1080}));
    EXPECT_EQ(g.partRect(1), QRectF(0, 0, 960, 540));
    // Half a point on the scale-2 screen.
    EXPECT_EQ(g.displayPointFromPartLocal(1, {10.5, 20}), QPointF(-1909.5, 20));
    // A drag that began on LEFT and went on to RIGHT still reports to LEFT's window: 1000 points right
    // of its corner is root pixel 2000, 80 pixels into RIGHT.
    EXPECT_EQ(g.displayPointFromPartLocal(1, {1000, 50}), QPointF(80, 100));
    EXPECT_EQ(g.displayPointFromPartLocal(0, {-100, 50}), QPointF(-1920 + 910, 25));
    EXPECT_EQ(g.partNativeRectFromOverlay(1, QRectF(10.25, 10, 5, 5)), QRect(20, 20, 11, 10));
}

} // namespace
