// The overlay's mouse rules on a fake desktop: hunting, the first drag, the click that captures a
// window, Option making the capture timed, refinement drags and the cursor.

#include "FakeCrosshairDesktop.h"

#include <gtest/gtest.h>

using glimra::test::FakeCrosshairSession;
using Mode = OverlayDrawState::Mode;

namespace {

// Overlay of two 1920 x 1080 screens, the main one on the right.
FakeCrosshairSession twoScreenSession() {
    FakeCrosshairSession session;
    session.desktop.overlayTemplate.displayOffset = {-1920, 0};
    session.desktop.overlayTemplate.boundsSize = {3840, 1080};
    session.desktop.overlayTemplate.screenOffset = {-1920, 0};
    return session;
}

} // namespace

TEST(OverlayView, ADragCapturesTheSpannedRectangleOnceTheOverlayHasGone) {
    FakeCrosshairSession s = twoScreenSession();
    s.desktop.overlayTemplate.mouseLocation = {500, 300};
    s.begin();
    EXPECT_EQ(s.desktop.cursorHides, 1);
    OverlayDrawState state = s.view().drawState();
    EXPECT_EQ(state.mode, Mode::Idle);
    EXPECT_EQ(state.topNumber, 500u);
    EXPECT_EQ(state.bottomNumber, 780u) << "counted from the top";

    s.view().mouseMoved({640.6, 200.2});
    state = s.view().drawState();
    EXPECT_EQ(state.topNumber, 640u);
    EXPECT_EQ(state.bottomNumber, 879u);

    s.view().mouseDown({100.6, 100.2});
    s.view().mouseDragged({400.9, 300.5}, 300.3, 200.3);
    state = s.view().drawState();
    EXPECT_EQ(state.mode, Mode::FirstDrag);
    EXPECT_EQ(state.selection, NSMakeRect(100, 100, 300, 200));
    EXPECT_EQ(state.topNumber, 300u);
    EXPECT_EQ(state.bottomNumber, 200u);

    s.view().mouseUp({400.9, 300.5});
    EXPECT_FALSE(s.window().visible) << "hidden before the grab";
    EXPECT_EQ(s.desktop.cursorUnhides, 1);
    EXPECT_TRUE(s.reports.empty()) << "the grab waits for the overlay to leave the screen";

    ASSERT_TRUE(s.waitForReports(1));
    // Flipped into the overlay (1080 - 100 - 200) and moved by the display offset.
    const CGRect global = NSMakeRect(-1820, 780, 300, 200);
    EXPECT_EQ(s.desktop.grabs, std::vector<CGRect>{global});
    ASSERT_EQ(s.reports.size(), 1u);
    EXPECT_TRUE(s.reports[0].success);
    EXPECT_EQ(s.reports[0].image.size(), QSize(300, 200));
    EXPECT_FALSE(s.reports[0].isHighResolution);
    EXPECT_FALSE(s.reports[0].title);
    EXPECT_EQ(s.controller->previousRect(), global);
    EXPECT_FALSE(s.controller->isCaptureActive());
    EXPECT_TRUE(glimra::test::waitUntil([&] { return s.window().destroyed; }, 1000));
    EXPECT_EQ(s.desktop.cursorUnhides, 1);
}

namespace {

struct Release {
    const char* name;
    CGPoint down;
    CGPoint up;
    bool dragged;
    bool asksForAWindow;
    CGSize grabbed;
};

void PrintTo(const Release& r, std::ostream* os) {
    *os << r.name;
}

class MouseUp : public ::testing::TestWithParam<Release> {};

} // namespace

// Only a selection of at most 1 x 1 is a click on a window; with no window there, it is captured as
// the 1 x 1 selection it is.
TEST_P(MouseUp, OnlyAClickAsksForTheWindowUnderIt) {
    const Release& r = GetParam();
    FakeCrosshairSession s = twoScreenSession();
    s.begin();
    s.view().mouseDown(r.down);
    if (r.dragged)
        s.view().mouseDragged(r.up, r.up.x - r.down.x, r.up.y - r.down.y);
    s.view().mouseUp(r.up);
    ASSERT_EQ(s.desktop.windowQueries.size(), r.asksForAWindow ? 1u : 0u);
    if (r.asksForAWindow) {
        EXPECT_EQ(s.desktop.windowQueries[0], CGPoint(200 - 1920, 300)) << "the truncated pressed point";
        EXPECT_EQ(s.desktop.ignoredWindows[0], s.window().windowNumber);
        EXPECT_EQ(s.window().timesShown, 2) << "the overlay comes back when there is no window";
    }
    ASSERT_TRUE(s.waitForReports(1));
    ASSERT_EQ(s.desktop.grabs.size(), 1u);
    EXPECT_EQ(s.desktop.grabs[0].size, r.grabbed);
}

INSTANTIATE_TEST_SUITE_P(
    OverlayView, MouseUp,
    ::testing::Values(Release{"OneByFive", {100, 100}, {101, 105}, true, false, {1, 5}},
                      Release{"ZeroByTenIsRaisedToOneByTen", {100, 100}, {100, 110}, true, false, {1, 10}},
                      Release{"ClickWithoutADrag", {200.7, 300.2}, {201.4, 300.9}, false, true, {1, 1}},
                      Release{"DragOfUnderAPoint", {200.2, 300.2}, {200.9, 300.6}, true, true, {1, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(OverlayView, AClickCapturesTheWindowUnderItAtOnceEvenWhenTimed) {
    for (const bool timed : {false, true}) {
        FakeCrosshairSession s = twoScreenSession();
        glimra::x11::WindowInfo window;
        window.number = 0x2a00007;
        window.bounds = QRectF(100, 100, 640, 480);
        window.name = QStringLiteral("Terminal");
        s.desktop.windowUnderPoint = window;
        s.desktop.windowImage = QImage(1280, 960, QImage::Format_RGB32);
        s.begin(timed);
        s.view().mouseDown({300, 300});
        s.view().mouseUp({300, 300});

        ASSERT_EQ(s.reports.size(), 1u) << "reported inside the mouse-up; timed " << timed;
        EXPECT_TRUE(s.reports[0].success);
        EXPECT_EQ(s.reports[0].image.size(), QSize(1280, 960));
        EXPECT_TRUE(s.reports[0].isHighResolution) << "1280 pixels for 640 points";
        EXPECT_EQ(s.reports[0].title, QStringLiteral("Terminal"));
        EXPECT_TRUE(s.desktop.grabs.empty());
        EXPECT_FALSE(s.window().visible);
        EXPECT_EQ(s.window().cursors.back(), CursorShape::Arrow);
        EXPECT_FALSE(s.controller->isCaptureActive());
        EXPECT_EQ(s.view().drawState().mode, Mode::Idle);
        EXPECT_TRUE(s.desktop.countdownImagesAsked.empty());
        EXPECT_FALSE(s.controller->canSnapPreviousArea()) << "a window is not an area";
    }
}

namespace {

enum class Option { Never, AtMouseDown, AtMouseUp };

class OptionKey : public ::testing::TestWithParam<Option> {};

} // namespace

TEST_P(OptionKey, AtTheFirstMouseDownOrUpMakesTheCaptureTimed) {
    FakeCrosshairSession s = twoScreenSession();
    s.desktop.delaySeconds = 5;
    s.begin();
    s.desktop.optionKeyDown = GetParam() == Option::AtMouseDown;
    s.view().mouseDown({100, 100});
    s.view().mouseDragged({300, 200}, 200, 100);
    s.desktop.optionKeyDown = GetParam() == Option::AtMouseUp;
    s.view().mouseUp({300, 200});

    const bool timed = GetParam() != Option::Never;
    EXPECT_EQ(s.view().isTimedSnap(), timed);
    if (!timed) {
        EXPECT_TRUE(s.waitForReports(1));
        return;
    }
    // Counting down: the overlay shows the digit and lets the mouse through; nothing is grabbed yet.
    EXPECT_TRUE(s.window().visible);
    EXPECT_TRUE(s.window().ignoresMouseEvents);
    EXPECT_EQ(s.desktop.countdownImagesAsked, std::vector<long>{5});
    const OverlayDrawState state = s.view().drawState();
    EXPECT_EQ(state.mode, Mode::Countdown);
    EXPECT_EQ(state.selection, NSMakeRect(100, 100, 200, 100));
    EXPECT_FALSE(state.timerImage.isNull());
    EXPECT_EQ(state.timerDisplayRect, NSMakeRect(177, 35, 46, 45));
    EXPECT_FALSE(s.waitForReports(1, 300));
    EXPECT_TRUE(s.controller->isCaptureActive());
}

INSTANTIATE_TEST_SUITE_P(OverlayView, OptionKey,
                         ::testing::Values(Option::Never, Option::AtMouseDown, Option::AtMouseUp));

// A selection being refined (here in the moment before its grab): a handle dragged past the opposite
// edge is normalised at mouse-up, the whole selection moves by the pointer's steps, and the cursor
// says which is which. The cursor comes back once, at the first mouse-up only.
TEST(OverlayView, RefiningDragsAHandleOrTheWholeSelection) {
    FakeCrosshairSession s = twoScreenSession();
    s.begin();
    s.drag({100, 100}, {300, 200});
    ASSERT_EQ(s.view().sanitizedSelectionRect(), NSMakeRect(100, 100, 200, 100));
    EXPECT_EQ(s.view().drawState().mode, Mode::Refining);

    // The top-right handle, past the left edge.
    s.view().mouseDown({301, 199});
    EXPECT_EQ(s.view().draggingCorner(), crosshair::kTopRightCorner);
    s.view().mouseDragged({41.5, 239.5}, -260, 40);
    EXPECT_EQ(s.view().drawState().topNumber, 60u);
    EXPECT_EQ(s.view().drawState().bottomNumber, 140u);
    s.view().mouseUp({41.5, 239.5});
    EXPECT_EQ(s.view().sanitizedSelectionRect(), NSMakeRect(40, 100, 60, 140));

    // Inside, on no handle: a move.
    s.view().mouseDown({70, 150});
    EXPECT_EQ(s.window().cursors.back(), CursorShape::ClosedHand);
    s.view().mouseDragged({75, 146}, 5, -4);
    s.view().mouseDragged({75, 146}, 0, 0); // no step: dropped
    s.view().mouseDragged({80, 140}, 5, -6);
    s.view().mouseUp({80, 140});
    EXPECT_EQ(s.view().sanitizedSelectionRect(), NSMakeRect(50, 90, 60, 140));
    EXPECT_EQ(s.window().cursors.back(), CursorShape::OpenHand);
    s.view().mouseMoved({500, 500});
    EXPECT_EQ(s.window().cursors.back(), CursorShape::Arrow);

    // Outside: a dead drag changes nothing.
    s.view().mouseDown({600, 600});
    s.view().mouseDragged({700, 650}, 100, 50);
    s.view().mouseUp({700, 650});
    EXPECT_EQ(s.view().sanitizedSelectionRect(), NSMakeRect(50, 90, 60, 140));
    EXPECT_EQ(s.desktop.cursorUnhides, 1);

    // The grab takes the selection as it is by then: flipped to y 1080 - 90 - 140.
    ASSERT_TRUE(s.waitForReports(1));
    EXPECT_EQ(s.desktop.grabs, std::vector<CGRect>{NSMakeRect(50 - 1920, 850, 60, 140)});
}
