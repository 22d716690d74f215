// The window server against the shared headless session (one 1920 x 1080 screen, openbox).

#include "XTestKit.h"
#include "x11/X11WindowServer.h"

#include <atomic>
#include <thread>

using glimra::WindowInfo;
using glimra::x11::X11WindowServer;
using namespace glimra::test;

namespace {

int indexOf(const std::vector<WindowInfo>& list, uint32_t number) {
    const auto it =
        std::find_if(list.begin(), list.end(), [&](const WindowInfo& w) { return w.number == number; });
    return it == list.end() ? -1 : int(it - list.begin());
}

const WindowInfo* find(const std::vector<WindowInfo>& list, uint32_t number) {
    const int i = indexOf(list, number);
    return i < 0 ? nullptr : &list[i];
}

class SharedSession : public ::testing::Test {
protected:
    XClient display;
    std::vector<xcb_window_t> windows;

    xcb_window_t make(const XClient::WindowSpec& request) {
        windows.push_back(display.create(request));
        return windows.back();
    }
    void TearDown() override {
        for (xcb_window_t w : windows)
            xcb_destroy_window(display.connection(), w);
        display.sync();
    }
};

} // namespace

TEST_F(SharedSession, GrabsAreExactWithAndWithoutSharedMemory) {
    const QRect patternRect(37, 53, 301, 207);
    const QRect cornerRect(1800, 1000, 120, 80); // reaches the root's bottom-right corner
    display.map(make({patternRect, 0, true}));
    display.map(make({cornerRect, 0, true}));

    for (const bool shm : {true, false}) {
        SCOPED_TRACE(shm ? "MIT-SHM" : "plain GetImage");
        auto server = X11WindowServer::connect({shm});
        ASSERT_TRUE(server);
        EXPECT_EQ(server->usesSharedMemory(), shm);
        if (shm)
            server->warmUp(); // without it the first grab reads plainly while the segment is prepared
        for (int round = 0; round < 3; ++round) { // then on the warm segment, then with none kept
            if (round == 2)
                server->releaseBuffers();
            const QImage image = server->createImage(QRectF(patternRect));
            ASSERT_EQ(image.size(), patternRect.size());
            EXPECT_EQ(image.format(), QImage::Format_RGB32);
            EXPECT_TRUE(showsPattern(image, image.rect()));
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 255);
        }
        // Half of this rectangle lies beyond the root window: that half is black.
        const QImage edge = server->createImage(QRectF(1800, 1000, 240, 160));
        ASSERT_EQ(edge.size(), QSize(240, 160));
        EXPECT_TRUE(showsPattern(edge, QRect(0, 0, 120, 80)));
        EXPECT_TRUE(showsColour(edge, QRect(120, 0, 120, 160), 0));
        EXPECT_TRUE(showsColour(edge, QRect(0, 80, 120, 80), 0));

        const QImage all = server->createImageOfAllScreens();
        ASSERT_EQ(all.size(), QSize(1920, 1080));
        EXPECT_TRUE(showsPattern(all, patternRect));
        EXPECT_EQ(server->usesSharedMemory(), shm); // no silent fallback on the way
    }
}

TEST_F(SharedSession, KeptImagesAreNeverOverwritten) {
    const QRect rect(400, 300, 64, 48);
    display.map(make({rect, 0, true}));
    auto server = X11WindowServer::connect();
    ASSERT_TRUE(server);
    const QImage kept = server->createImage(QRectF(rect));
    display.map(make({rect, 0x336699})); // now covered
    for (int i = 0; i < 3; ++i) {        // enough grabs to cycle through every pooled buffer
        const QImage later = server->createImage(QRectF(rect));
        EXPECT_EQ(later.pixel(10, 10) & 0xffffff, 0x336699u);
    }
    server.reset(); // the image also outlives the connection and its pool
    EXPECT_TRUE(showsPattern(kept, kept.rect()));
}

TEST_F(SharedSession, BadRequestsGiveNothingAndNeverCrash) {
    auto server = X11WindowServer::connect();
    ASSERT_TRUE(server);
    EXPECT_TRUE(server->createImage(QRectF(qQNaN(), 0, 10, 10)).isNull());
    EXPECT_TRUE(server->createImageOfWindow(0).isNull());
    EXPECT_TRUE(server->createImageOfWindow(0x7ffffff0).isNull());
    EXPECT_TRUE(server->displayBounds(nullptr).isEmpty());

    const xcb_window_t hidden = make({QRect(10, 10, 50, 50), 0xff0000});
    EXPECT_TRUE(server->createImageOfWindow(hidden).isNull()); // never mapped
    display.destroy(hidden);
    EXPECT_TRUE(server->createImageOfWindow(hidden).isNull());

    // Windows coming and going on another connection while the list and window images are read.
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> latest{0};
    std::thread churn([&] {
        XClient other;
        while (!stop) {
            const xcb_window_t w = other.create({QRect(5, 5, 40, 40), 0x00ff00});
            latest = w;
            xcb_map_window(other.connection(), w);
            xcb_destroy_window(other.connection(), w);
            other.sync();
        }
    });
    for (int i = 0; i < 150; ++i) {
        EXPECT_TRUE(server->copyWindowInfo(true, true).has_value());
        const QImage image = server->createImageOfWindow(latest);
        EXPECT_TRUE(image.isNull() || image.size() == QSize(40, 40));
    }
    stop = true;
    churn.join();
}

TEST_F(SharedSession, WindowListUnderAWindowManager) {
    auto server = X11WindowServer::connect();
    ASSERT_TRUE(server);
    const xcb_window_t a = make({QRect(100, 100, 300, 200), 0xff0000, false, false});
    display.setString(a, "_NET_WM_NAME", "UTF8_STRING", "Grüße ✓ A");
    const xcb_window_t b = make({QRect(150, 150, 300, 200), 0x00ff00, false, false});
    display.setString(b, "WM_NAME", "STRING", "plain b");
    display.setCardinals(b, "_NET_WM_WINDOW_OPACITY", {0});
    const xcb_window_t dock = make({QRect(0, 1040, 1920, 40), 0x0000ff, false, false});
    display.setAtoms(dock, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DOCK"});
    const xcb_window_t desktop = make({QRect(0, 0, 1920, 1080), 0x202020, false, false});
    display.setAtoms(desktop, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DESKTOP"});
    for (xcb_window_t w : {desktop, dock, a, b})
        display.map(w);
    const auto listed = [&](bool onScreenOnly, std::initializer_list<xcb_window_t> ws) {
        const auto list = server->copyWindowInfo(onScreenOnly, false);
        return list && std::all_of(ws.begin(), ws.end(), [&](xcb_window_t w) { return find(*list, w); });
    };
    ASSERT_TRUE(waitUntil([&] { return listed(true, {a, b, dock, desktop}); }));
    ASSERT_TRUE(waitUntil([&] { return display.frameRect(b) != QRect(150, 150, 300, 200); }));

    auto list = *server->copyWindowInfo(true, false);
    const WindowInfo* ia = find(list, a);
    const WindowInfo* ib = find(list, b);
    ASSERT_TRUE(ia && ib);
    EXPECT_EQ(ia->name, QString::fromUtf8("Grüße ✓ A"));
    EXPECT_EQ(ia->kind, WindowInfo::Kind::Normal);
    EXPECT_EQ(ia->bounds, QRectF(display.frameRect(a))); // the frame, decorations included
    EXPECT_GT(ia->bounds.height(), 200);
    EXPECT_EQ(ib->name, "plain b");
    EXPECT_FLOAT_EQ(ib->alpha, 0.0f);
    EXPECT_EQ(find(list, dock)->kind, WindowInfo::Kind::Dock);
    EXPECT_EQ(find(list, desktop)->kind, WindowInfo::Kind::Desktop);
    // Front to back: the dock above the normal windows, the last mapped above the first, the desktop
    // below everything.
    EXPECT_LT(indexOf(list, dock), indexOf(list, b));
    EXPECT_LT(indexOf(list, b), indexOf(list, a));
    EXPECT_EQ(indexOf(list, desktop), int(list.size()) - 1);
    EXPECT_FALSE(find(*server->copyWindowInfo(true, true), desktop));

    // A menu-like window outside the window manager's care lists under its own id, in front.
    const xcb_window_t menu = display.map(make({QRect(500, 500, 80, 120), 0xffff00}));
    list = *server->copyWindowInfo(true, true);
    EXPECT_EQ(indexOf(list, menu), 0);
    EXPECT_EQ(find(list, menu)->kind, WindowInfo::Kind::Other);
    EXPECT_EQ(find(list, menu)->bounds, QRectF(500, 500, 80, 120));

    // Raised through the window manager, a comes to the front of b.
    display.sendToWindowManager(a, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0});
    EXPECT_TRUE(waitUntil([&] {
        const auto l = *server->copyWindowInfo(true, true);
        return indexOf(l, a) >= 0 && indexOf(l, a) < indexOf(l, b);
    }));

    // Minimised, b leaves the screen but stays in the full list.
    display.sendToWindowManager(b, "WM_CHANGE_STATE", {3});
    EXPECT_TRUE(waitUntil([&] { return !find(*server->copyWindowInfo(true, true), b); }));
    list = *server->copyWindowInfo(false, false);
    ASSERT_TRUE(find(list, b));
    EXPECT_FALSE(find(list, b)->onScreen);
    EXPECT_TRUE(server->createImageOfWindow(b).isNull());
}
