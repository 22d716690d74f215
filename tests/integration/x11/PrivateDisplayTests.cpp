// Desktops that must not disturb the shared session: several RandR monitors, scale factors, no
// window manager. Each test starts an Xvfb of its own, sets it up, and runs x11_display_checks in it,
// so that the Qt application under test sees that desktop from its start.

#include "PrivateDisplay.h"

#include <gtest/gtest.h>

using glimra::test::PrivateDisplay;

// The checks run one after the other on one display: their windows go with their connections.
TEST(PrivateDisplays, PrimaryRightOfAnotherScreenWithoutWindowManagerAtScaleOneAndTwo) {
    PrivateDisplay display(QSize(3840, 1080));
    ASSERT_TRUE(display.ready());
    ASSERT_TRUE(display.twoMonitors());
    display.expectChecksPass(X11_DISPLAY_CHECKS, "Scenario.NoWindowManager");
    display.expectChecksPass(X11_DISPLAY_CHECKS, "Scenario.LeftScreenAtScale2",
                             {{"QT_SCREEN_SCALE_FACTORS", "LEFT=2;RIGHT=1"}});
}
