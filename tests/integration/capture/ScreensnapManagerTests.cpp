// The snapshot manager in this process, against real windows on the session's display (with its
// window manager).

#include "ScreensnapManager.h"
#include "XTestKit.h"

#include <QGuiApplication>
#include <QScreen>

using glimra::test::XClient;

namespace {

// Screen coordinates (y up from the primary screen's bottom) of a root pixel.
QPointF screenPoint(int x, int y) {
    return {double(x), QGuiApplication::primaryScreen()->geometry().height() - double(y)};
}

uint32_t windowAt(int x, int y, uint32_t ignoring = 0) {
    const auto info =
        ScreensnapManager::sharedManager().windowInformationForLocation(screenPoint(x, y), ignoring);
    return info ? info->number : 0;
}

} // namespace

TEST(WindowUnderPoint, IsTheFrontmostVisibleWindowThatIsNeitherIgnoredNorADock) {
    ASSERT_EQ(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1920, 1080));
    XClient d;
    // A window the window manager frames, with windows of every kind over it.
    const xcb_window_t managed = d.map(d.create({QRect(100, 100, 900, 700), 0x336699, false, false}));
    ASSERT_TRUE(glimra::test::waitUntil([&] { return windowAt(700, 500) == managed; }));
    const xcb_window_t top = d.create({QRect(200, 200, 300, 300), 0xaa0000});
    const xcb_window_t clear = d.create({QRect(250, 250, 100, 100), 0x00aa00});
    d.setCardinals(clear, "_NET_WM_WINDOW_OPACITY", {0});
    const xcb_window_t dock = d.create({QRect(600, 150, 200, 100), 0x0000aa});
    d.setAtoms(dock, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DOCK"});
    for (const xcb_window_t w : {top, clear, dock})
        d.map(w);

    EXPECT_EQ(windowAt(210, 210), top);
    EXPECT_EQ(windowAt(210, 210, top), managed) << "the ignored window is looked through";
    EXPECT_EQ(windowAt(300, 300), top) << "a fully transparent window is looked through";
    EXPECT_EQ(windowAt(300, 300, managed), top);
    EXPECT_EQ(windowAt(700, 200), managed) << "a dock is looked through";
    EXPECT_EQ(windowAt(1500, 950), 0u) << "nothing there";

    // The top-left pixel is the window's; the one past its right edge is not.
    EXPECT_EQ(windowAt(200, 200), top);
    EXPECT_EQ(windowAt(500, 350), managed);
    EXPECT_EQ(windowAt(499, 499), top);
    EXPECT_EQ(windowAt(350, 500), managed);

    for (const xcb_window_t w : {dock, clear, top, managed})
        d.destroy(w);
}
