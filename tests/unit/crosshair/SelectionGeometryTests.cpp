// The selection arithmetic in the overlay view's y-up coordinates: stored points, normalising, the
// handle squares, the corner drag with its ratio lock, and the hand-over into overlay coordinates.

#include "CrosshairSelectionGeometry.h"
#include "GeometryPrinting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace crosshair;

TEST(SelectionGeometry, StoredPointsAreTruncatedTowardZeroAndRectanglesNormalised) {
    for (const auto& [value, stored] : {std::pair{200.7, 200.0},
                                        {-3.9, -3.0},
                                        {1e12, 2147483647.0},
                                        {-1e12, -2147483648.0},
                                        {std::numeric_limits<double>::quiet_NaN(), 0.0},
                                        {std::numeric_limits<double>::infinity(), 0.0}})
        EXPECT_EQ(truncatedCoordinate(value), stored) << value;

    EXPECT_EQ(rectSpannedBy({120, 80}, {100, 95}), NSMakeRect(100, 80, 20, 15));
    EXPECT_EQ(sanitizedRect(NSMakeRect(10, 10, -5, -3)), NSMakeRect(5, 7, 5, 3));
    EXPECT_EQ(sanitizedRect(NSMakeRect(10, 10, 5, 0)), NSMakeRect(10, 10, 5, 0));
    EXPECT_EQ(withMinimumSize(NSMakeRect(4, 5, 0, 10)), NSMakeRect(4, 5, 1, 10));
    EXPECT_TRUE(isWindowSnapSize(NSMakeRect(0, 0, 1, 1)));
    EXPECT_FALSE(isWindowSnapSize(NSMakeRect(0, 0, 1, 5)));
}

namespace {

struct Edge {
    const char* name;
    std::vector<CGRect> screens; // y up
    CGPoint pointer;
    CGPoint reached;
};

class ScreenEdges : public ::testing::TestWithParam<Edge> {};

TEST_P(ScreenEdges, TheLastColumnAndRowStandForTheEdgesThePointerCannotPass) {
    EXPECT_EQ(pointReachingScreenEdges(GetParam().pointer, GetParam().screens), GetParam().reached);
}

const CGRect kScreen = NSMakeRect(0, 0, 1920, 1080);
// A shorter screen right of it, its bottom edge 360 points higher.
const CGRect kShorterRight = NSMakeRect(1920, 360, 1280, 720);

INSTANTIATE_TEST_SUITE_P(
    SelectionGeometry, ScreenEdges,
    ::testing::Values(Edge{"LastColumnAndRow", {kScreen}, {1919, 1}, {1920, 0}},
                      Edge{"OneInside", {kScreen}, {1918, 2}, {1918, 2}},
                      Edge{"TheTopAndLeftEdgesAreReachedAlready", {kScreen}, {0, 1080}, {0, 1080}},
                      // Beside the shorter screen the pointer goes on to the right; below its bottom it
                      // cannot, and the shorter screen's own bottom row stands for its edge.
                      Edge{"ANeighbourBeyond", {kScreen, kShorterRight}, {1919, 800}, {1919, 800}},
                      Edge{"NoNeighbourBeyondThatRow", {kScreen, kShorterRight}, {1919, 100}, {1920, 100}},
                      Edge{"TheNeighboursBottomRow", {kScreen, kShorterRight}, {2500, 361}, {2500, 360}},
                      // A screen of two pixels per point left of the main one: 960 x 540 points, and a
                      // gap in points up to the main screen, where the pointer never is.
                      Edge{"MixedScalesGap",
                           {NSMakeRect(0, 540, 960, 540), NSMakeRect(1920, 0, 1920, 1080)},
                           {959, 900},
                           {960, 900}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

TEST(SelectionGeometry, HandleSquaresOwnTheirMinimumEdgesAndTheLowerCornerWinsAnOverlap) {
    EXPECT_EQ(HandleMetrics::forImageWidth(13).square({100, 200}), NSMakeRect(94, 194, 13, 13));

    const HandleMetrics handles = HandleMetrics::forImageWidth(12);
    const CGRect selection = NSMakeRect(100, 100, 200, 100); // handles at (94|294, 94|194), 12 x 12
    for (const auto& [x, y, corner] : {std::tuple{94.0, 194.0, kTopLeftCorner},
                                       {105.99, 205.99, kTopLeftCorner},
                                       {106.0, 200.0, kNoCorner},
                                       {100.0, 206.0, kNoCorner},
                                       {294.0, 194.0, kTopRightCorner},
                                       {94.0, 94.0, kBottomLeftCorner},
                                       {305.5, 105.5, kBottomRightCorner},
                                       {306.0, 100.0, kNoCorner},
                                       {200.0, 150.0, kNoCorner}})
        EXPECT_EQ(handleAtPoint({x, y}, selection, handles), corner) << x << ", " << y;

    // A 4 x 4 selection: all four squares cover its middle.
    EXPECT_EQ(handleAtPoint({102, 102}, NSMakeRect(100, 100, 4, 4), handles), kTopLeftCorner);
    EXPECT_EQ(handleAtPoint({101, 95}, NSMakeRect(100, 100, 4, 4), handles), kBottomLeftCorner);
    // Without the handle image there is nothing to hit.
    EXPECT_EQ(handleAtPoint({100, 100}, selection, HandleMetrics::forImageWidth(0)), kNoCorner);
}

namespace {

struct DragCase {
    const char* name;
    Corner corner;
    bool locked;
    double ratio;
    CGPoint moved;
    CGRect expected;
};

class CornerDrags : public ::testing::TestWithParam<DragCase> {};

TEST_P(CornerDrags, FollowThePointerFromTheRectangleAtMouseDown) {
    const DragCase& c = GetParam();
    const CGRect start = NSMakeRect(100, 100, 200, 100);
    const CGPoint down{150, 150};
    const CornerDrag drag{start, down, c.corner, c.locked, c.ratio};
    const CGRect moved = resizedRect(drag, {down.x + c.moved.x, down.y + c.moved.y});
    EXPECT_EQ(moved, c.expected);
    // The same pointer after any number of events gives the same rectangle: nothing accumulates.
    resizedRect(drag, {down.x + 3, down.y - 7});
    EXPECT_EQ(resizedRect(drag, {down.x + c.moved.x, down.y + c.moved.y}), moved);
}

INSTANTIATE_TEST_SUITE_P(
    SelectionGeometry, CornerDrags,
    ::testing::Values(
        // The height follows the width from the moving top edge.
        DragCase{"LockedHeightFollows", kTopRightCorner, true, 0.5, {50, 10}, NSMakeRect(100, 100, 250, 125)},
        // Past the left edge: raw width -50, height 50; the width follows the height (100) and gets the
        // sign of the side the pointer is on. Normalised at mouse-up to (0, 100, 100, 50).
        DragCase{"LockedSignRepair", kTopRightCorner, true, 0.5, {-250, -50}, NSMakeRect(100, 100, -100, 50)},
        // Moving bottom edge: the top edge stays at 200.
        DragCase{
            "LockedBottomEdgeMoves", kBottomRightCorner, true, 0.5, {50, -10}, NSMakeRect(100, 75, 250, 125)},
        // Moving left edge: the right edge stays at 300.
        DragCase{
            "LockedLeftEdgeMoves", kTopLeftCorner, true, 0.25, {0, 100}, NSMakeRect(-500, 100, 800, 200)},
        // The left handle dragged past the right edge: the derived width is flipped to the pointer's
        // side and hangs off the unmoved edge at 300.
        DragCase{
            "LockedCrossesFixedEdge", kTopLeftCorner, true, 0.5, {250, 50}, NSMakeRect(600, 100, -300, 150)},
        // Unlocked past the right edge: x follows the pointer, the width turns negative.
        DragCase{"UnlockedCrossesEdge", kTopLeftCorner, false, 0, {250, 0}, NSMakeRect(350, 100, -50, 100)},
        // A lock that cannot apply leaves the raw rectangle.
        DragCase{"ZeroRatio", kTopRightCorner, true, 0, {50, 10}, NSMakeRect(100, 100, 250, 110)},
        DragCase{"NonFiniteRatio", kTopRightCorner, true, INFINITY, {50, 10}, NSMakeRect(100, 100, 250, 110)},
        DragCase{"ZeroRawWidth", kTopRightCorner, true, 0.5, {-200, 10}, NSMakeRect(100, 100, 0, 110)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SelectionGeometry, TheDigitSitsUnderTheSelection) {
    // An even width puts the square on a half point: integral, it starts lower and is a point wider.
    EXPECT_EQ(timerDisplayRect(NSMakeRect(10, 200, 46, 50)), NSMakeRect(10, 135, 46, 45));
    EXPECT_EQ(timerDisplayRect(NSMakeRect(10, 200, 45, 50)), NSMakeRect(10, 135, 45, 45));
    // Never below the overlay's bottom edge.
    EXPECT_EQ(timerDisplayRect(NSMakeRect(10, 30, 45, 50)), NSMakeRect(10, 0, 45, 45));
}

struct Typed {
    const char* name;
    CGRect selection;
    CGSize size;
    CGRect result;
};

class TypedSizes : public ::testing::TestWithParam<Typed> {};

// On a 1920 x 1080 desktop.
TEST_P(TypedSizes, GrowFromTheBottomLeftCornerAndStayOnTheDesktop) {
    EXPECT_EQ(resizedWithinBounds(GetParam().selection, GetParam().size, {1920, 1080}), GetParam().result);
}

// Dragged from (450, 260) to (750, 460) in root pixels: (450, 620, 300, 200) in the view.
const CGRect kDragged = NSMakeRect(450, 620, 300, 200);

INSTANTIATE_TEST_SUITE_P(
    SelectionGeometry, TypedSizes,
    ::testing::Values(Typed{"Fitting", kDragged, {640, 350}, NSMakeRect(450, 620, 640, 350)},
                      Typed{"Shrinking", kDragged, {1, 1}, NSMakeRect(450, 620, 1, 1)},
                      Typed{"PastTheRightEdge", kDragged, {1920, 350}, NSMakeRect(0, 620, 1920, 350)},
                      Typed{"PastTheTopEdge", kDragged, {300, 700}, NSMakeRect(450, 380, 300, 700)},
                      // Moved partly off the desktop by hand, it comes back with the next typed size.
                      Typed{"MovedPastTheLeftAndBottomEdges",
                            NSMakeRect(-100, -50, 300, 200),
                            {300, 250},
                            NSMakeRect(0, 0, 300, 250)},
                      // A locked ratio's side, longer than the desktop, is cut to it.
                      Typed{"TallerThanTheDesktop", kDragged, {1500, 2000}, NSMakeRect(420, 0, 1500, 1080)}),
    [](const auto& info) { return std::string(info.param.name); });

struct Fit {
    const char* name;
    CGRect panel;
    std::vector<CGRect> screens; // the main screen first
    CGPoint origin;
};

class PanelOnScreens : public ::testing::TestWithParam<Fit> {};

const CGRect kMain = NSMakeRect(0, 0, 1440, 900);
const CGRect kRightOfMain = NSMakeRect(1440, -180, 1920, 1080);

TEST_P(PanelOnScreens, TheFirstScreenItTouchesTakesIt) {
    EXPECT_EQ(resizePanelOriginOnScreens(GetParam().panel, GetParam().screens), GetParam().origin);
}

INSTANTIATE_TEST_SUITE_P(
    SelectionGeometry, PanelOnScreens,
    ::testing::Values(
        Fit{"Inside", NSMakeRect(100, 100, 400, 80), {kMain}, {100, 100}},
        Fit{"PastTheRightEdge", NSMakeRect(1300, 500, 400, 80), {kMain}, {1040, 500}},
        Fit{"BelowTheBottomEdge", NSMakeRect(-30, -40, 400, 80), {kMain}, {0, 0}},
        // Lying on both, the panel goes onto the one listed first.
        Fit{"AcrossTwoScreens", NSMakeRect(1300, 500, 400, 80), {kMain, kRightOfMain}, {1040, 500}},
        Fit{"AcrossTwoScreensListedTheOtherWay",
            NSMakeRect(1300, 500, 400, 80),
            {kRightOfMain, kMain},
            {1440, 500}},
        // The second screen alone holds it: the first is not touched.
        Fit{"OnTheSecondScreen", NSMakeRect(2000, 850, 400, 80), {kMain, kRightOfMain}, {2000, 820}},
        Fit{"WiderThanTheScreen", NSMakeRect(300, 100, 2000, 80), {kMain}, {0, 100}},
        Fit{"OnNoScreen", NSMakeRect(5000, 5000, 400, 80), {kMain, kRightOfMain}, {5000, 5000}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
