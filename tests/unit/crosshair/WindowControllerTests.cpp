// The capture session on a fake desktop: the countdown on a clock the test moves, the previous area,
// a capture that is busy or has no overlay, and the one report every block gets.

#include "FakeCrosshairDesktop.h"

#include <gtest/gtest.h>

using glimra::test::FakeCrosshairSession;

namespace {

struct Countdown {
    int64_t delay;
    std::vector<long> digits;
};

void PrintTo(const Countdown& c, std::ostream* os) {
    *os << "delay " << c.delay;
}

class TimedCapture : public ::testing::TestWithParam<Countdown> {};

} // namespace

// The digits N .. 1 each shown with one tick as their second begins, and the grab 0.1 s after the
// first tick past the deadline; no delay grabs on the first tick with neither digit nor tick.
TEST_P(TimedCapture, CountsDownThenGrabsTheSelection) {
    FakeCrosshairSession s;
    s.desktop.delaySeconds = GetParam().delay;
    s.begin(true);
    const double start = s.desktop.clock;
    s.drag({100, 100}, {300, 200});
    for (double t = 0.25; t < double(GetParam().delay); t += 0.25) {
        s.desktop.clock = start + t;
        s.controller->countdownTimerFired();
        ASSERT_TRUE(s.window().visible) << t;
    }
    s.desktop.clock = start + std::max<double>(double(GetParam().delay), 0) + 0.01;
    s.controller->countdownTimerFired();
    EXPECT_EQ(s.desktop.countdownImagesAsked, GetParam().digits);
    EXPECT_EQ(s.desktop.ticks, int(GetParam().digits.size()));
    EXPECT_FALSE(s.window().visible);
    EXPECT_TRUE(s.view().drawState().timerImage.isNull());
    EXPECT_TRUE(s.desktop.grabs.empty()) << "the grab waits for the overlay to leave the screen";

    ASSERT_TRUE(s.waitForReports(1));
    EXPECT_EQ(s.desktop.grabs, std::vector<CGRect>{NSMakeRect(100, 880, 200, 100)});
    EXPECT_TRUE(s.reports[0].success);
    EXPECT_FALSE(s.controller->isCaptureActive());
}

INSTANTIATE_TEST_SUITE_P(WindowController, TimedCapture,
                         ::testing::Values(Countdown{0, {}}, Countdown{-2, {}}, Countdown{3, {3, 2, 1}}),
                         [](const auto& info) {
                             return info.param.delay < 0 ? std::string("NegativeDelay")
                                                         : "Delay" + std::to_string(info.param.delay);
                         });

TEST(WindowController, PreviousAreaGrabsTheSameGlobalRectangleWithoutAWindow) {
    FakeCrosshairSession s;
    // The main screen's top-left lies at (1920, 200) of a desktop that starts left of and above it.
    s.desktop.overlayTemplate.displayOffset = {-1920, -200};
    s.desktop.overlayTemplate.boundsSize = {3840, 1280};

    s.capture().beginCapturePreviousAreaWithCompletionHandler(s.desktop.recorder(s.reports));
    ASSERT_EQ(s.reports.size(), 1u) << "nothing to capture yet: reported at once";
    EXPECT_FALSE(s.reports[0].success);
    EXPECT_FALSE(s.reports[0].errorCode) << "a plain cancel";

    // A selection without area is refused and leaves no previous area.
    s.begin();
    s.controller->captureRect(NSMakeRect(5, 5, 0, 10));
    ASSERT_EQ(s.reports.size(), 2u);
    EXPECT_EQ(s.reports[1].errorCode, 2);
    EXPECT_FALSE(s.controller->canSnapPreviousArea());

    s.begin();
    s.drag({100, 100}, {200, 150});
    ASSERT_TRUE(s.waitForReports(3));
    const CGRect global = NSMakeRect(100 - 1920, 1280 - 150 - 200, 100, 50);
    EXPECT_EQ(s.desktop.grabs, std::vector<CGRect>{global});
    EXPECT_TRUE(s.controller->canSnapPreviousArea());

    const size_t overlays = s.desktop.overlays.size();
    s.desktop.scale = 2;
    for (size_t again = 4; again <= 5; ++again) {
        s.capture().beginCapturePreviousAreaWithCompletionHandler(s.desktop.recorder(s.reports));
        ASSERT_EQ(s.reports.size(), again);
        EXPECT_TRUE(s.reports.back().success);
        EXPECT_TRUE(s.reports.back().isHighResolution) << "200 pixels for 100 points";
    }
    EXPECT_EQ(s.desktop.grabs, std::vector<CGRect>(3, global));
    EXPECT_EQ(s.controller->previousRect(), global);
    EXPECT_EQ(s.desktop.overlays.size(), overlays) << "no window for the previous area";
    EXPECT_EQ(s.desktop.cursorHides, 2);
}

// Beeps for a second capture, whose block is never called; a cancel ends the first one with one
// report, shows the cursor again, and is harmless once nothing runs.
TEST(WindowController, ABusyCaptureBeepsAndEveryBlockIsCalledOnce) {
    FakeCrosshairSession s;
    s.desktop.applicationActive = false; // the mouse monitor comes and goes with the capture
    s.begin();
    std::vector<glimra::test::CaptureReport> dropped;
    s.capture().beginTimedCaptureWithCompletionHandler(s.desktop.recorder(dropped));
    s.capture().beginCapturePreviousAreaWithCompletionHandler(s.desktop.recorder(dropped));
    EXPECT_EQ(s.desktop.beeps, 2);
    EXPECT_EQ(s.desktop.overlays.size(), 1u);
    EXPECT_TRUE(s.window().visible);

    s.controller->cancelCapture(nullptr);
    s.controller->cancelCapture(nullptr);
    ASSERT_EQ(s.reports.size(), 1u);
    EXPECT_FALSE(s.reports[0].success);
    EXPECT_FALSE(s.reports[0].errorCode);
    EXPECT_FALSE(s.window().visible);
    EXPECT_EQ(s.desktop.cursorUnhides, 1);
    EXPECT_TRUE(glimra::test::waitUntil([&] { return s.window().destroyed; }, 1000));
    EXPECT_TRUE(dropped.empty());

    // Without an overlay on the desktop a capture ends as cancelled, and the next one starts.
    s.desktop.hasOverlay = false;
    s.begin();
    ASSERT_EQ(s.reports.size(), 2u);
    EXPECT_FALSE(s.reports[1].success);
    s.desktop.hasOverlay = true;
    s.begin();
    EXPECT_TRUE(s.controller->isCaptureActive());
    EXPECT_EQ(s.desktop.beeps, 2);
}
