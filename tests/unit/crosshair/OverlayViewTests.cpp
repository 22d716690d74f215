// The overlay's mouse rules on a fake desktop of two 1920 x 1080 screens, the main one on the right:
// the click that captures a window, Option, refinement and the cursor, and the resize panel's edits
// against a held handle. The region capture's tests drive the plain drag, the desktop's last row and
// column and the panel's placement on the real helper.

#include "FakeCrosshairDesktop.h"

#include <QCoreApplication>
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
        s.screens = {NSMakeRect(0, 0, 1920, 1080), NSMakeRect(-1920, 0, 1920, 1080)};
    }
    void TearDown() override {
        s.controller.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // The one grab after the panel's Capture, once the overlay has left the screen.
    void expectGrabAfterCapture(const CGRect& global) {
        s.panel()->acceptCapture();
        EXPECT_FALSE(s.window().visible) << "hidden before the grab";
        EXPECT_TRUE(s.grabs.empty()) << "the grab waits for the overlay to leave the screen";
        ASSERT_TRUE(s.waitForReports(1));
        EXPECT_EQ(s.grabs, std::vector<CGRect>{global});
    }
    FakeCrosshairSession s;
};

struct Release {
    const char* name;
    CGPoint down;
    CGPoint up;
    bool asksForAWindow;
    CGSize selected;
};

class MouseUp : public OverlayView, public ::testing::WithParamInterface<Release> {};

// Only a selection of at most 1 x 1 is a click on a window; with no window there, it is the 1 x 1
// selection it is, with the panel, and the overlay comes back meanwhile.
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
    ASSERT_TRUE(s.panel());
    EXPECT_EQ(s.panel()->crosshairSize(), r.selected);
    EXPECT_TRUE(s.reports.empty());
}

INSTANTIATE_TEST_SUITE_P(OverlayView, MouseUp,
                         ::testing::Values(Release{"OneByFive", {100, 100}, {101, 105}, false, {1, 5}},
                                           Release{"ZeroByTen", {100, 100}, {100, 110}, false, {1, 10}},
                                           Release{
                                               "UnderAPoint", {200.7, 300.2}, {200.9, 300.6}, true, {1, 1}}),
                         glimra::test::caseName);

class OptionKey : public OverlayView, public ::testing::WithParamInterface<bool> {};

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
    EXPECT_TRUE(s.window().ignoresMouseEvents);
    EXPECT_EQ(s.digits, std::vector<long>{5});
    EXPECT_EQ(s.view().drawState().mode, Mode::Countdown);
    EXPECT_EQ(s.view().drawState().timerDisplayRect, NSMakeRect(177, 35, 46, 45));
    EXPECT_FALSE(s.waitForReports(1, 300));
}

INSTANTIATE_TEST_SUITE_P(OverlayView, OptionKey, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "AtMouseUp" : "AtMouseDown"; });

// A selection being refined, the panel open beside it: a handle dragged past the opposite edge is
// normalised at mouse-up, the whole selection moves by the pointer's steps, a drag outside changes
// nothing, and the cursor says which is which. The cursor came back at the first mouse-up only.
TEST_F(OverlayView, RefiningDragsAHandleOrTheWholeSelection) {
    s.begin();
    s.drag({100, 100}, {300, 200});
    EXPECT_EQ(s.view().drawState().mode, Mode::Refining);

    s.view().mouseDown({301, 199}); // the top-right handle
    EXPECT_EQ(s.view().draggingCorner(), crosshair::kTopRightCorner);
    s.view().mouseDragged({41.5, 239.5}, -260, 40);
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
    EXPECT_EQ(s.cursorHides, 1);
    EXPECT_EQ(s.cursorUnhides, 1);
    // The grab takes the selection as it is by then: flipped to y 1080 - 90 - 140.
    expectGrabAfterCapture(NSMakeRect(50 - 1920, 850, 60, 140));
}

// Typed sizes reach the selection from its bottom-left corner, kept on the desktop, through the
// lock, and come back to the panel as the selection has them; while a handle is held the handle
// decides.
TEST_F(OverlayView, PanelSizesResizeTheSelectionUnlessAHandleIsHeld) {
    s.begin();
    s.drag({100, 100}, {500, 400});
    ImageCaptureCrosshairResizeWindowController* panel = s.panel();
    panel->setCaptureHeight(QStringLiteral("1000"));
    EXPECT_EQ(s.view().sanitizedSelectionRect(), NSMakeRect(100, 80, 400, 1000)) << "past the top edge";
    panel->setCaptureHeight(QStringLiteral("300"));
    panel->toggleLockRatio();
    panel->setCaptureWidth(QStringLiteral("640"));
    EXPECT_EQ(s.view().sanitizedSelectionRect(), NSMakeRect(100, 80, 640, 480));

    s.view().mouseDown({740, 560}); // the top-right handle
    panel->setCaptureHeight(QStringLiteral("50"));
    EXPECT_EQ(s.view().sanitizedSelectionRect(), NSMakeRect(100, 80, 640, 480));
    s.view().mouseDragged({760, 565}, 20, -5);
    s.view().mouseUp({760, 565});
    EXPECT_EQ(panel->crosshairSize(), CGSize(660, 495)) << "the lock holds the handle too";
    expectGrabAfterCapture(NSMakeRect(100 - 1920, 1080 - 80 - 495, 660, 495));
}

} // namespace
