// Checks that run inside a private display set up by PrivateDisplayTests.cpp (two RandR monitors,
// LEFT at native x 0 and the primary RIGHT at native x 1920, no window manager).

#include "XTestKit.h"
#include "x11/X11WindowServer.h"

#include <QGuiApplication>
#include <QScreen>

#include <gtest/gtest.h>

using glimra::WindowInfo;
using glimra::x11::X11WindowServer;
using namespace glimra::test;

namespace {

class Scenario : public ::testing::Test {
protected:
    void SetUp() override {
        if (qgetenv("GLIMRA_PRIVATE_DISPLAY") != "1")
            GTEST_SKIP() << "runs inside a private display started by x11_integration_tests";
        server = X11WindowServer::connect();
        ASSERT_TRUE(server);
        left = screenNamed("LEFT");
        right = screenNamed("RIGHT");
        ASSERT_TRUE(left && right);
        ASSERT_EQ(QGuiApplication::primaryScreen(), right);
    }

    static QScreen* screenNamed(const QString& name) {
        for (QScreen* s : QGuiApplication::screens())
            if (s->name() == name)
                return s;
        return nullptr;
    }

    xcb_window_t show(const XClient::WindowSpec& request) { return display.map(display.create(request)); }
    // Where w lies in the window list, front first; -1 when it is not listed.
    int position(uint32_t w, bool onScreenOnly = true) {
        list = server->copyWindowInfo(onScreenOnly, true).value_or(std::vector<WindowInfo>());
        const auto it =
            std::find_if(list.begin(), list.end(), [&](const WindowInfo& i) { return i.number == w; });
        return it == list.end() ? -1 : int(it - list.begin());
    }
    const WindowInfo* listed(uint32_t w, bool onScreenOnly = true) {
        const int i = position(w, onScreenOnly);
        return i < 0 ? nullptr : &list[i];
    }

    XClient display;
    std::unique_ptr<X11WindowServer> server;
    std::vector<WindowInfo> list;
    QScreen* left = nullptr;
    QScreen* right = nullptr;
};

} // namespace

TEST_F(Scenario, NoWindowManager) {
    const xcb_window_t one = show({QRect(10, 10, 100, 100), 0xff0000, false, false});
    const xcb_window_t two = show({QRect(50, 50, 100, 100), 0x0000ff, false, false});
    display.setString(two, "_NET_WM_NAME", "UTF8_STRING", "two");
    display.setCardinals(two, "_NET_WM_PID", {77});
    display.setCardinals(two, "_NET_WM_WINDOW_OPACITY", {0x80000000u});
    const xcb_window_t inputOnly = show({QRect(0, 0, 500, 500), 0, false, true, true});
    const xcb_window_t unmapped = display.create({QRect(0, 0, 500, 500), 0x00ff00, false, false});
    display.sync();

    EXPECT_EQ(position(two), 0);
    EXPECT_EQ(position(one), 1);
    EXPECT_FALSE(listed(inputOnly));
    EXPECT_FALSE(listed(unmapped, false));
    const WindowInfo* info = listed(two);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->name, "two");
    EXPECT_EQ(info->ownerPid, 77);
    EXPECT_NEAR(info->alpha, 0.5f, 1e-6);
    EXPECT_EQ(info->kind, WindowInfo::Kind::Normal);
    EXPECT_EQ(info->bounds, QRectF(50 - 1920, 50, 100, 100));

    display.raise(one);
    EXPECT_LT(position(one), position(two));
    const QImage image = server->createImageOfWindow(one);
    ASSERT_EQ(image.size(), QSize(100, 100));
    EXPECT_TRUE(showsColour(image, image.rect(), 0xff0000));
}

TEST_F(Scenario, LeftScreenAtScale2) {
    ASSERT_EQ(left->devicePixelRatio(), 2.0);
    ASSERT_EQ(right->devicePixelRatio(), 1.0);
    // Qt keeps the screen's corner and halves its size: the left screen spans -1920 to -960 in points.
    EXPECT_EQ(server->displayBounds(left), QRectF(-1920, 0, 960, 540));
    EXPECT_EQ(server->displayBounds(right), QRectF(0, 0, 1920, 1080));
    show({QRect(0, 0, 1920, 1080), 0, true});
    show({QRect(1920, 0, 1920, 1080), 0x00ff00});

    const QImage whole = server->createImageOfScreen(left); // every device pixel of the screen
    ASSERT_EQ(whole.size(), QSize(1920, 1080));
    EXPECT_TRUE(showsPattern(whole, whole.rect()));

    const QImage part = server->createImage(QRectF(-1910, 20, 30, 40));
    ASSERT_EQ(part.size(), QSize(60, 80));
    EXPECT_TRUE(showsPattern(part, part.rect(), {20, 40}));

    // From the left screen across the gap onto the primary: scale 2 throughout, the gap black, the
    // primary's pixels doubled.
    const QImage across = server->createImage(QRectF(-970, 0, 980, 5));
    ASSERT_EQ(across.size(), QSize(1960, 10));
    EXPECT_TRUE(showsPattern(across, QRect(0, 0, 20, 10), {1900, 0}));
    EXPECT_TRUE(showsColour(across, QRect(20, 0, 1920, 10), 0));
    EXPECT_TRUE(showsColour(across, QRect(1940, 0, 20, 10), 0x00ff00));

    const QImage primary = server->createImageOfScreen(right);
    ASSERT_EQ(primary.size(), QSize(1920, 1080));
    EXPECT_TRUE(showsColour(primary, primary.rect(), 0x00ff00));

    // A window on the scaled screen: its bounds in points, its image in device pixels.
    const xcb_window_t w = show({QRect(100, 100, 200, 100), 0xff0000});
    const WindowInfo* info = listed(w);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->bounds, QRectF(-1870, 50, 100, 50));
    const QImage image = server->createImageOfWindow(w);
    ASSERT_EQ(image.size(), QSize(200, 100));
    EXPECT_TRUE(showsColour(image, image.rect(), 0xff0000));
}
