// The overlay's mouse rules on a fake desktop of two 1920 x 1080 screens, the main one on the right:
// hunting, the first drag, the click that captures a window, Option, refinement and the cursor.

#include "FakeCrosshairDesktop.h"

#include <gtest/gtest.h>

using glimra::test::FakeCrosshairSession;
using Mode = OverlayDrawState::Mode;

namespace {

class OverlayView : public ::testing::Test {
protected:
    void SetUp() override {
        s.overlayTemplate.displayOffset = {-1920, 0};
        s.overlayTemplate.boundsSize = {3840, 1080};
        s.overlayTemplate.screenOffset = {-1920, 0};
    }
    FakeCrosshairSession s;
};

} // namespace

TEST_F(OverlayView, ADragCapturesTheSpannedRectangleOnceTheOverlayHasGone) {
    s.overlayTemplate.mouseLocation = {500, 300};
    s.begin();
    EXPECT_EQ(s.view().drawState().bottomNumber, 780u) << "the pointer's distance from the top";
    s.view().mouseMoved({640.6, 200.2});
    EXPECT_EQ(s.view().drawState().topNumber, 640u);
    EXPECT_EQ(s.view().drawState().bottomNumber, 879u);

    s.view().mouseUp({5, 5}); // of a press the overlay never saw
    s.view().mouseDown({100.6, 100.2});
    s.view().mouseDragged({400.9, 300.5}, 300.3, 200.3);
    const OverlayDrawState state = s.view().drawState();
    EXPECT_EQ(state.mode, Mode::FirstDrag);
    EXPECT_EQ(state.selection, NSMakeRect(100, 100, 300, 200));
    EXPECT_EQ(state.topNumber, 300u);
    s.view().mouseUp({400.9, 300.5});
    EXPECT_FALSE(s.window().visible) << "hidden before the grab";
    EXPECT_TRUE(s.reports.empty()) << "the grab waits for the overlay to leave the screen";

    ASSERT_TRUE(s.waitForReports(1));
    // Flipped into the overlay (1080 - 100 - 200) and moved by the display offset.
    const CGRect global = NSMakeRect(-1820, 780, 300, 200);
    EXPECT_EQ(s.grabs, std::vector<CGRect>{global});
    EXPECT_TRUE(s.windowQueries.empty());
    EXPECT_TRUE(s.reports[0].success);
    EXPECT_FALSE(s.reports[0].isHighResolution);
    EXPECT_FALSE(s.reports[0].title);
    EXPECT_EQ(s.controller->previousRect(), global);
    EXPECT_TRUE(glimra::test::waitUntil([&] { return s.window().destroyed; }, 1000));
    EXPECT_EQ(s.cursorHides, 1);
    EXPECT_EQ(s.cursorUnhides, 1);
}

namespace {

struct Release {
    const char* name;
    CGPoint down;
    CGPoint up;
    bool asksForAWindow;
    CGSize grabbed;
};

void PrintTo(const Release& r, std::ostream* os) {
    *os << r.name;
}

class MouseUp : public OverlayView, public ::testing::WithParamInterface<Release> {};

} // namespace

// Only a selection of at most 1 x 1 is a click on a window; with no window there, it is captured as
// the 1 x 1 selection it is, and the overlay comes back meanwhile.
TEST_P(MouseUp, OnlyAClickAsksForTheWindowUnderIt) {
    const Release& r = GetParam();
    s.begin();
    s.drag(r.down, r.up);
    ASSERT_EQ(s.windowQueries.size(), r.asksForAWindow ? 1u : 0u);
    if (r.asksForAWindow) {
        EXPECT_EQ(s.windowQueries[0].first, CGPoint(200 - 1920, 300)) << "the truncated pressed point";
        EXPECT_TRUE(s.windowQueries[0].second) << "the overlay's windows are left out";
        EXPECT_EQ(s.window().timesShown, 2);
    }
    ASSERT_TRUE(s.waitForReports(1));
    ASSERT_EQ(s.grabs.size(), 1u);
    EXPECT_EQ(s.grabs[0].size, r.grabbed);
}

INSTANTIATE_TEST_SUITE_P(OverlayView, MouseUp,
                         ::testing::Values(Release{"OneByFive", {100, 100}, {101, 105}, false, {1, 5}},
                                           Release{"ZeroByTen", {100, 100}, {100, 110}, false, {1, 10}},
                                           Release{
                                               "UnderAPoint", {200.7, 300.2}, {200.9, 300.6}, true, {1, 1}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OverlayView, AClickCapturesTheWindowUnderItAtOnceEvenWhenTimed) {
    glimra::x11::WindowInfo window;
    window.bounds = QRectF(100, 100, 640, 480);
    window.name = QStringLiteral("Terminal");
    s.windowUnderPoint = window;
    s.windowImage = QImage(1280, 960, QImage::Format_RGB32);
    for (const bool timed : {false, true}) {
        s.begin(timed);
        s.view().mouseDown({300, 300});
        s.view().mouseUp({300, 300});
        ASSERT_EQ(s.reports.size(), timed ? 2u : 1u) << "reported inside the mouse-up";
        EXPECT_TRUE(s.reports.back().success);
        EXPECT_TRUE(s.reports.back().isHighResolution) << "1280 pixels for 640 points";
        EXPECT_EQ(s.reports.back().title, QStringLiteral("Terminal"));
        EXPECT_EQ(s.window().cursors.back(), CursorShape::Arrow);
        EXPECT_FALSE(s.controller->isCaptureActive());
    }
    EXPECT_TRUE(s.grabs.empty());
    EXPECT_TRUE(s.digits.empty());
    EXPECT_FALSE(s.controller->canSnapPreviousArea()) << "a window is not an area";
}

// Over a picture of the desktop, a selection and a clicked window are cut from what the user saw.
TEST_F(OverlayView, OverAPictureOfTheDesktopTheCaptureIsWhatTheUserSaw) {
    s.overlayTemplate.showsSnapshot = true;
    s.begin();
    s.drag({100, 100}, {300, 200});
    ASSERT_TRUE(s.waitForReports(1));
    EXPECT_EQ(s.window().cuts, std::vector<QRectF>{QRectF(-1820, 880, 200, 100)});

    glimra::x11::WindowInfo window;
    window.bounds = QRectF(100, 100, 640, 480);
    s.windowUnderPoint = window;
    s.begin();
    s.drag({500, 500}, {500, 500});
    ASSERT_EQ(s.reports.size(), 2u);
    EXPECT_EQ(s.window().cuts, std::vector<QRectF>{window.bounds});
    EXPECT_TRUE(s.grabs.empty());
    EXPECT_EQ(s.reports[1].image.size(), QSize(640, 480));
}

namespace {

class OptionKey : public OverlayView, public ::testing::WithParamInterface<bool> {};

} // namespace

TEST_P(OptionKey, AtTheFirstMouseDownOrUpMakesTheCaptureTimed) {
    const bool atMouseUp = GetParam();
    s.delaySeconds = 5;
    s.begin();
    s.optionKeyDown = !atMouseUp;
    s.view().mouseDown({100, 100});
    s.view().mouseDragged({300, 200}, 200, 100);
    s.optionKeyDown = atMouseUp;
    s.view().mouseUp({300, 200});
    // Counting down: the overlay shows the digit and lets the mouse through; nothing is grabbed yet.
    EXPECT_TRUE(s.window().visible);
    EXPECT_TRUE(s.window().ignoresMouseEvents);
    EXPECT_EQ(s.digits, std::vector<long>{5});
    const OverlayDrawState state = s.view().drawState();
    EXPECT_EQ(state.mode, Mode::Countdown);
    EXPECT_FALSE(state.timerImage.isNull());
    EXPECT_EQ(state.timerDisplayRect, NSMakeRect(177, 35, 46, 45));
    EXPECT_FALSE(s.waitForReports(1, 300));
}

INSTANTIATE_TEST_SUITE_P(OverlayView, OptionKey, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "AtMouseUp" : "AtMouseDown"; });

// A selection being refined (here in the moment before its grab): a handle dragged past the opposite
// edge is normalised at mouse-up, the whole selection moves by the pointer's steps, a drag outside
// changes nothing, and the cursor says which is which. The cursor came back at the first mouse-up only.
TEST_F(OverlayView, RefiningDragsAHandleOrTheWholeSelection) {
    s.begin();
    s.drag({100, 100}, {300, 200});
    EXPECT_EQ(s.view().drawState().mode, Mode::Refining);

    s.view().mouseDown({301, 199}); // the top-right handle
    EXPECT_EQ(s.view().draggingCorner(), crosshair::kTopRightCorner);
    s.view().mouseDragged({41.5, 239.5}, -260, 40);
    EXPECT_EQ(s.view().drawState().topNumber, 60u);
    s.view().mouseUp({41.5, 239.5});
    EXPECT_EQ(s.view().sanitizedSelectionRect(), NSMakeRect(40, 100, 60, 140));

    s.view().mouseDown({70, 150});
    EXPECT_EQ(s.window().cursors.back(), CursorShape::ClosedHand);
    s.view().mouseDragged({75, 146}, 5, -4);
    s.view().mouseDragged({75, 146}, 0, 0); // no step: dropped
    s.view().mouseDragged({80, 140}, 5, -6);
    s.view().mouseUp({80, 140});
    EXPECT_EQ(s.window().cursors.back(), CursorShape::OpenHand);
    s.view().mouseMoved({500, 500});
    EXPECT_EQ(s.window().cursors.back(), CursorShape::Arrow);
    s.drag({600, 600}, {700, 650});
    EXPECT_EQ(s.view().sanitizedSelectionRect(), NSMakeRect(50, 90, 60, 140));
    EXPECT_EQ(s.cursorUnhides, 1);

    // The grab takes the selection as it is by then: flipped to y 1080 - 90 - 140.
    ASSERT_TRUE(s.waitForReports(1));
    EXPECT_EQ(s.grabs, std::vector<CGRect>{NSMakeRect(50 - 1920, 850, 60, 140)});
}
