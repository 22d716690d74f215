#include "display/DisplayGeometry.h"

#include <gtest/gtest.h>

using namespace glimra;

namespace {

// The primary at native x = 1920 with a scale-2 screen left of it: the left screen keeps its native
// origin in Qt's points, so in global display coordinates it starts at -1920 and is 960 wide,
// leaving a gap up to the primary.
std::vector<ScreenGeometry> scaledLeftOfPrimary() {
    return {{"RIGHT", QRectF(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080), 1.0, true},
            {"LEFT", QRectF(-1920, 0, 960, 540), QRect(0, 0, 1920, 1080), 2.0, false}};
}

} // namespace

TEST(DisplayGeometry, PointsAndNativePixelsMapPerScreen) {
    const auto screens = scaledLeftOfPrimary();
    EXPECT_EQ(nativeRectForPoints(QRectF(-1910, 20, 30, 40), screens[1]), QRect(20, 40, 60, 80));
    EXPECT_EQ(nativeRectForPoints(QRectF(10, 20, 30, 40), screens[0]), QRect(1930, 20, 30, 40));

    EXPECT_EQ(pointsRectForNative(QRect(100, 100, 200, 100), screens), QRectF(-1870, 50, 100, 50));
    // Mostly on the primary: measured with the primary's scale.
    EXPECT_EQ(pointsRectForNative(QRect(1900, 0, 100, 10), screens), QRectF(-20, 0, 100, 10));
    // Off every screen: the nearest one decides.
    EXPECT_EQ(pointsRectForNative(QRect(4000, 0, 10, 10), screens), QRectF(2080, 0, 10, 10));
    EXPECT_EQ(pointsRectForNative(QRect(1, 2, 3, 4), {}), QRectF(1, 2, 3, 4));
}

TEST(DisplayGeometry, FractionalScalesNeitherOverlapNorLeaveGapsBetweenScreens) {
    const std::vector<ScreenGeometry> screens{
        {"A", QRectF(0, 0, 1000.5, 800), QRect(0, 0, 1501, 1200), 1.5, true},
        {"B", QRectF(1000.5, 0, 1000, 800), QRect(1501, 0, 1500, 1200), 1.5, false}};
    for (const qreal x : {0.0, 0.3, 999.7, 997.25}) {
        const QRectF rect(x, 0.4, 3.3, 7.7);
        const auto plan = planGrabOfPoints(rect, screens);
        ASSERT_TRUE(plan) << x;
        int covered = 0;
        int nextLeft = 0;
        for (const GrabPiece& p : plan->pieces) {
            EXPECT_EQ(p.source.size(), p.target.size()) << x;
            EXPECT_EQ(p.target.height(), plan->size.height()) << x;
            if (p.target.left() == nextLeft)
                nextLeft = p.target.left() + p.target.width();
            covered += p.target.width();
        }
        EXPECT_EQ(covered, plan->size.width()) << x;
        EXPECT_EQ(nextLeft, plan->size.width()) << x;
    }
    // Whole-point rectangles on a scale-1 screen give exactly their size in pixels.
    const std::vector<ScreenGeometry> plain{
        {"P", QRectF(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080), 1.0, true}};
    EXPECT_EQ(planGrabOfPoints(QRectF(0.4, 0, 10, 10), plain)->size, QSize(10, 10));
}

TEST(DisplayGeometry, WindowsAndScreensAreCutToWhatTheRootHas) {
    // A window hanging off the left and bottom edges, and a mirrored pair of screens.
    const std::vector<ScreenGeometry> mirrored{
        {"A", QRectF(0, 0, 800, 600), QRect(0, 0, 800, 600), 1.0, true},
        {"B", QRectF(0, 0, 800, 600), QRect(0, 0, 800, 600), 1.0, false}};
    const auto plan = planGrabOfNative(QRect(-50, 550, 200, 100), mirrored);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->size, QSize(200, 100));
    ASSERT_EQ(plan->pieces.size(), 1u);
    EXPECT_EQ(plan->pieces[0].source, QRect(0, 550, 150, 50));
    EXPECT_EQ(plan->pieces[0].target, QRect(50, 0, 150, 50));

    // A monitor reaching past the root is shortened, its points with it.
    const auto clipped = clippedToRoot({{"W", QRectF(-100, 0, 500, 300), QRect(0, 0, 1000, 600), 2.0, false},
                                        {"Gone", QRectF(0, 0, 10, 10), QRect(5000, 0, 10, 10), 1.0, false}},
                                       QRect(0, 0, 800, 600));
    ASSERT_EQ(clipped.size(), 1u);
    EXPECT_EQ(clipped[0].native, QRect(0, 0, 800, 600));
    EXPECT_EQ(clipped[0].points, QRectF(-100, 0, 400, 300));
    EXPECT_EQ(boundingRectInPoints(scaledLeftOfPrimary()), QRectF(-1920, 0, 3840, 1080));
}
