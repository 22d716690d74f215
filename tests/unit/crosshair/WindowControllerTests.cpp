// The capture session on a fake desktop: the countdown on a clock the test moves, a busy capture, a
// desktop without an overlay, and the one report every block gets; the helper's own on the null one. The
// previous area, Escape and screens that change are driven on the real helper by the region capture's tests.

#include "Desktop.h"
#include "FakeCrosshairDesktop.h"
#include "ScreensnapManager.h"

#include <gtest/gtest.h>

using glimra::test::CaptureReport;
using glimra::test::FakeCrosshairSession;

namespace {

class TimedCapture : public ::testing::TestWithParam<int64_t> {};

} // namespace

// The digits N .. 1 each shown with one tick as their second begins, and the grab 0.1 s after the
// first tick past the deadline; no delay grabs on the first tick with neither digit nor tick.
TEST_P(TimedCapture, CountsDownThenGrabsTheSelection) {
    FakeCrosshairSession s;
    const int64_t delay = GetParam();
    s.delaySeconds = delay;
    s.overlayTemplate.showsSnapshot = true; // out of date by the deadline: the screen is grabbed
    s.begin(true);
    const double start = s.clock;
    s.drag({100, 100}, {300, 200});
    for (double t = 0.25; t < double(delay); t += 0.25) {
        s.clock = start + t;
        s.controller->countdownTimerFired();
        ASSERT_TRUE(s.window().visible) << t;
    }
    s.clock = start + double(std::max<int64_t>(delay, 0)) + 0.01;
    s.controller->countdownTimerFired();
    std::vector<long> digits;
    for (long n = long(delay); n > 0; --n)
        digits.push_back(n);
    EXPECT_EQ(s.digits, digits);
    EXPECT_EQ(s.ticks, int(digits.size()));
    EXPECT_FALSE(s.window().visible);
    EXPECT_TRUE(s.view().drawState().timerImage.isNull());
    EXPECT_TRUE(s.grabs.empty()) << "the grab waits for the overlay to leave the screen";

    ASSERT_TRUE(s.waitForReports(1));
    EXPECT_EQ(s.grabs, std::vector<CGRect>{NSMakeRect(100, 880, 200, 100)});
    EXPECT_EQ(s.reports.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(WindowController, TimedCapture, ::testing::Values(0, -2, 3), [](const auto& info) {
    return info.param < 0 ? std::string("NegativeDelay") : "Delay" + std::to_string(info.param);
});

// A second capture beeps and its block is never called; a cancel ends the first one with one report
// and is harmless once nothing runs; a desktop without an overlay ends a capture as failed, and a
// selection without area is refused with its error and leaves no previous area.
TEST(WindowController, ABusyCaptureBeepsAndEveryBlockIsCalledOnce) {
    FakeCrosshairSession s;
    s.applicationActive = false; // the mouse monitor comes and goes with the capture
    s.begin();
    std::vector<CaptureReport> dropped;
    s.capture().beginCapturePreviousAreaWithCompletionHandler(s.recorder(dropped));
    EXPECT_EQ(s.beeps, 1);
    s.controller->cancelCapture(nullptr);
    s.controller->cancelCapture(nullptr);
    ASSERT_EQ(s.reports.size(), 1u);
    EXPECT_FALSE(s.reports[0].errorCode) << "a plain cancel";
    EXPECT_TRUE(dropped.empty());

    s.hasOverlay = false;
    s.begin();
    ASSERT_EQ(s.reports.size(), 2u);
    EXPECT_FALSE(s.reports[1].success);
    s.hasOverlay = true;
    s.begin();
    s.controller->captureRect(NSMakeRect(5, 5, 0, 10));
    ASSERT_EQ(s.reports.size(), 3u);
    EXPECT_EQ(s.reports[2].errorCode, 2);
    EXPECT_FALSE(s.controller->canSnapPreviousArea());
    EXPECT_FALSE(s.controller->isCaptureActive());
}

// Offscreen the helper's own services stand on the null desktop: every capture ends at once without a
// picture, as where no display can be reached.
TEST(NullDesktop, EveryCaptureEndsAtOnceWithoutAPicture) {
    ASSERT_EQ(glimra::Desktop::current().capabilities(), glimra::DesktopCapabilities{});
    ScreensnapManager manager;
    std::vector<bool> pictures;
    const auto block = [&](bool success, const QImage& image, bool, const std::optional<QString>&,
                           const glimra::NSError*) { pictures.push_back(success || !image.isNull()); };
    manager.performFullScreenSnapshotWithCompletionBlock(block);
    manager.performCrosshairSnapshotWithCompletionBlock(block);
    manager.performTimedCrosshairSnapshotWithCompletionBlock(block);
    EXPECT_EQ(pictures, (std::vector<bool>{false, false, false}));
}
