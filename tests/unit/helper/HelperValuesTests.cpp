// The coordinate spaces of the helper.

#include "ScreenCoordinates.h"

#include <gtest/gtest.h>

// Screen coordinates have y up from the main screen's bottom; Qt's have y down.
TEST(ScreenCoordinates, FlipAboutTheMainScreenAndKeepEdgeRules) {
    const glimra::ScreenSpace space{QRectF(0, 0, 1920, 1080)};
    EXPECT_EQ(space.screenPointFromQt({100, 0}), QPointF(100, 1080));
    EXPECT_EQ(space.screenPointFromQt({100, 1080}), QPointF(100, 0));
    // A screen above the main one sits at y >= 1080 in screen coordinates.
    EXPECT_EQ(space.screenFrameFromQt(QRectF(0, -900, 1600, 900)), QRectF(0, 1080, 1600, 900));
    // One left of it has negative x.
    EXPECT_EQ(space.screenFrameFromQt(QRectF(-1280, 0, 1280, 1024)), QRectF(-1280, 56, 1280, 1024));

    const QRectF main(0, 0, 1920, 1080);
    EXPECT_TRUE(glimra::screenFrameContainsPoint(main, {0, 0}));       // left and bottom edges inside
    EXPECT_FALSE(glimra::screenFrameContainsPoint(main, {1920, 500})); // right edge outside
    EXPECT_FALSE(glimra::screenFrameContainsPoint(main, {500, 1080})); // top edge outside...
    EXPECT_TRUE(glimra::screenFrameContainsPoint(QRectF(0, 1080, 1600, 900),
                                                 {500, 1080})); // ...it is the upper screen's

    // Window bounds (y down) against a point taken from screen coordinates.
    const QPointF p = glimra::displayPointFromScreenPoint({10, 1070}, 1080);
    EXPECT_EQ(p, QPointF(10, 10));
    EXPECT_TRUE(glimra::displayRectContainsPoint(QRectF(10, 10, 5, 5), p));
    EXPECT_FALSE(glimra::displayRectContainsPoint(QRectF(0, 0, 10, 10), p));
    EXPECT_FALSE(glimra::displayRectContainsPoint(QRectF(10, 10, 0, 5), p));
}
