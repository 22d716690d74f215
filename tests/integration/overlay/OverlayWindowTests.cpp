// The overlay window on a real X server: where it lies and stacks, what its events say in the view's
// y-up coordinates, what it paints, and the pointer hidden and shown. The region capture's tests
// drive it on the real helper, also at mixed scales, under a compositor and during a countdown.

#include "ImageCaptureCrosshairOverlayWindow.h"
#include "PrivateDisplay.h"
#include "XTestKit.h"
#include "cursor/NSCursor.h"
#include "overlay/OverlayDesktop.h"
#include "x11/WindowServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QRasterWindow>
#include <QWindow>

#include <gtest/gtest.h>

#include <X11/keysym.h>

#include <cmath>

using glimra::test::patternPixel;
using glimra::test::pause;
using glimra::test::PrivateDisplay;
using Mode = OverlayDrawState::Mode;

namespace {

// The view's side, scripted: it records the events and shows whatever frame the test sets.
class ScriptedView : public OverlayContentView {
public:
    struct Event {
        char kind; // d down, g dragged, u up, m moved
        CGPoint at;
        double dx = 0, dy = 0;
    };
    void mouseDown(CGPoint p) override { events.push_back({'d', p}); }
    void mouseDragged(CGPoint p, double dx, double dy) override { events.push_back({'g', p, dx, dy}); }
    void mouseUp(CGPoint p) override { events.push_back({'u', p}); }
    void mouseMoved(CGPoint p) override { events.push_back({'m', p}); }
    OverlayDrawState drawState() const override { return state; }

    const Event* last(char kind) const {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->kind == kind)
                return &*it;
        return nullptr;
    }
    std::vector<Event> events;
    OverlayDrawState state;
};

// Dimming and line colours over a pixel, as the overlay blends them.
int dimmed(int c) {
    return int(std::lround(0.33 * 255 * 0.65 + c * 0.35));
}
int lined(int c) {
    return int(std::lround(255 * 0.65 + c * 0.35));
}
QRgb map(QRgb p, int (*f)(int)) {
    return qRgb(f(qRed(p)), f(qGreen(p)), f(qBlue(p)));
}
::testing::AssertionResult near(QRgb actual, QRgb expected, const char* where) {
    const int d =
        std::max({std::abs(qRed(actual) - qRed(expected)), std::abs(qGreen(actual) - qGreen(expected)),
                  std::abs(qBlue(actual) - qBlue(expected))});
    if (d <= 3)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << where << ": got " << std::hex << actual << ", expected " << expected;
}

class Overlay : public ::testing::Test {
protected:
    void SetUp() override {
        server = glimra::x11::WindowServer::connect();
        ASSERT_TRUE(server);
        desktop = glimra::makeOverlayDesktop(*server);
        ASSERT_TRUE(desktop);
        ASSERT_TRUE(x.ok());
    }
    void TearDown() override {
        overlay.reset();
        pause(50);
    }

    void open(const OverlayDrawState& state = {}) {
        view.state = state;
        overlay = std::make_unique<ImageCaptureCrosshairOverlayWindow>(
            *desktop, QStringLiteral(GLIMRA_CROSSHAIR_IMAGES_DIR));
        overlay->setContentView(&view);
        overlay->setEscapeKeyUpHandler([this] { ++escapes; });
        overlay->orderFrontRegardless();
        overlay->makeKeyWindow();
        for (QWindow* w : overlay->windows())
            ASSERT_TRUE(glimra::test::waitUntil([&] { return w->isExposed(); }));
        pause(150);
    }
    void show(const OverlayDrawState& state) {
        view.state = state;
        overlay->setNeedsDisplay();
        pause(150);
    }
    // Root pixels now, as the X server shows them.
    QImage screen() { return server->createImageOfWindow(x.root()); }

    std::unique_ptr<glimra::x11::WindowServer> server;
    std::unique_ptr<glimra::OverlayDesktop> desktop;
    glimra::test::XClient x;
    ScriptedView view;
    std::unique_ptr<ImageCaptureCrosshairOverlayWindow> overlay;
    int escapes = 0;
};

OverlayDrawState selecting(Mode mode, CGRect selection) {
    OverlayDrawState s;
    s.mode = mode;
    s.selection = selection;
    s.cropHandleSize = 13;
    s.cropHandleCenter = 6;
    return s;
}

TEST_F(Overlay, CoversTheDesktopAboveAFullScreenWindowAndTakesTheKeyboard) {
    const xcb_window_t full = x.map(x.create({QRect(100, 100, 400, 300), 0x336699, false, false}));
    x.sendToWindowManager(full, "_NET_WM_STATE", {1, x.atom("_NET_WM_STATE_FULLSCREEN"), 0, 1});
    ASSERT_TRUE(glimra::test::waitUntil([&] { return x.frameRect(full) == QRect(0, 0, 1920, 1080); }));

    open();
    ASSERT_EQ(overlay->windows().size(), 1u);
    ASSERT_TRUE(overlay->backdropSnapshot());
    const xcb_window_t w = overlay->windowNumber();
    EXPECT_TRUE(overlay->ownsWindowNumber(w));
    // Above the full-screen window's frame, the root's children listed bottom to top.
    const std::vector<xcb_window_t> stack = x.children(x.root());
    EXPECT_NE(std::find(std::find(stack.begin(), stack.end(), x.topLevel(full)), stack.end(), w),
              stack.end());
    EXPECT_EQ(x.frameRect(w), QRect(0, 0, 1920, 1080));
    EXPECT_TRUE(x.overrideRedirect(w));
    EXPECT_EQ(x.inputFocus(), w);
    EXPECT_EQ(overlay->displayOffset(), (CGPoint{0, 0}));
    EXPECT_EQ(overlay->boundsSize(), (CGSize{1920, 1080}));

    overlay->orderOut();
    EXPECT_FALSE(x.viewable(w));
    x.destroy(full);
}

TEST_F(Overlay, MouseEventsArriveInViewCoordinatesAndEscapeReleaseCancels) {
    open();
    x.motion(100, 100);
    pause(50);
    ASSERT_TRUE(view.last('m'));
    EXPECT_EQ(view.last('m')->at, (CGPoint{100, 980}));
    x.button(1, true);
    x.motion(250, 200);
    x.motion(400, 300);
    x.button(1, false);
    x.button(3, true); // a right click is not the view's
    x.button(3, false);
    pause(150);
    ASSERT_TRUE(view.last('d') && view.last('g') && view.last('u'));
    EXPECT_EQ(view.last('d')->at, (CGPoint{100, 980}));
    EXPECT_EQ(view.last('g')->at, (CGPoint{400, 780}));
    // However the server and Qt group the motion, the deltas add up to it, y positive downwards.
    double dx = 0, dy = 0;
    for (const auto& e : view.events)
        if (e.kind == 'g') {
            dx += e.dx;
            dy += e.dy;
        }
    EXPECT_EQ(dx, 300);
    EXPECT_EQ(dy, 200);
    EXPECT_EQ(view.last('u')->at, (CGPoint{400, 780}));
    EXPECT_EQ(std::count_if(view.events.begin(), view.events.end(), [](auto& e) { return e.kind == 'd'; }),
              1);
    EXPECT_EQ(overlay->mouseLocationOutsideOfEventStream(), (CGPoint{400, 780}));

    x.key(XK_Escape, true);
    x.sync();
    pause(50);
    EXPECT_EQ(escapes, 0); // not on the press
    x.key(XK_Escape, false);
    x.key(XK_a, true);
    x.key(XK_a, false);
    x.sync();
    ASSERT_TRUE(glimra::test::waitUntil([&] { return escapes == 1; }));
    overlay->setCanBecomeKeyWindow(false);
    x.tap(XK_Escape);
    pause(150);
    EXPECT_EQ(escapes, 1);
}

TEST_F(Overlay, PaintsDimmingHoleLinesAndBadgeOverWhatTheUserSaw) {
    x.map(x.create({QRect(0, 0, 1920, 1080), 0, true}));
    x.warpPointer(600, 500);
    open();
    QImage shot = screen();
    // Hunting: dimmed everywhere; the lines at column 599 and row 498 (the pointer truncated).
    EXPECT_TRUE(near(shot.pixel(1500, 900), map(patternPixel(1500, 900), dimmed), "dimming"));
    EXPECT_TRUE(near(shot.pixel(599, 900), map(map(patternPixel(599, 900), dimmed), lined), "vertical line"));
    EXPECT_TRUE(
        near(shot.pixel(1500, 498), map(map(patternPixel(1500, 498), dimmed), lined), "horizontal line"));
    EXPECT_TRUE(near(shot.pixel(600, 900), map(patternPixel(600, 900), dimmed), "beside the line"));
    EXPECT_NE(shot.pixel(630, 500), map(patternPixel(630, 500), dimmed))
        << "the badge is right of the pointer";

    // Dragging out (100, 100, 300, 200) in overlay coordinates: y-up origin 1080 - 300.
    show(selecting(Mode::FirstDrag, NSMakeRect(100, 780, 300, 200)));
    shot = screen();
    EXPECT_EQ(shot.pixel(101, 101) & 0xffffff, patternPixel(101, 101)) << "inside the hole";
    EXPECT_EQ(shot.pixel(399, 299) & 0xffffff, patternPixel(399, 299));
    EXPECT_TRUE(near(shot.pixel(99, 200), map(patternPixel(99, 200), dimmed), "left of the hole"));
    EXPECT_TRUE(near(shot.pixel(250, 300), map(patternPixel(250, 300), dimmed), "below the hole"));
    EXPECT_TRUE(near(shot.pixel(599, 900), map(patternPixel(599, 900), dimmed), "no more lines"));
}

// ---- desktops of their own ----

class InPrivateDisplay : public Overlay {
protected:
    void SetUp() override {
        if (qgetenv("GLIMRA_PRIVATE_DISPLAY") != "1")
            GTEST_SKIP() << "runs inside a private display started by the PrivateDisplays tests";
        Overlay::SetUp();
    }
};

// The pixels around the pointer in Xvfb's framebuffer file (XWD), which, unlike GetImage, show the
// pointer's image.
QImage framebufferAround(const QString& dir, QPoint p) {
    QFile f(dir + QStringLiteral("/Xvfb_screen0"));
    if (!f.open(QIODevice::ReadOnly))
        return QImage();
    const QByteArray d = f.readAll();
    const auto field = [&](int i) {
        const auto* b = reinterpret_cast<const uchar*>(d.constData()) + 4 * i;
        return quint32(b[0]) << 24 | quint32(b[1]) << 16 | quint32(b[2]) << 8 | b[3];
    };
    const quint32 header = field(0), bytesPerLine = field(12), colours = field(19);
    QImage out(32, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            out.setPixel(x, y,
                         *reinterpret_cast<const quint32*>(d.constData() + header + colours * 12 +
                                                           (p.y() + y) * bytesPerLine + (p.x() + x) * 4));
    return out;
}

TEST_F(InPrivateDisplay, HidingThePointerIsGlobalAndBalanced) {
    // A window of ours under the pointer, showing Qt's arrow over a plain grey.
    QRasterWindow grey;
    grey.setFlags(Qt::Window | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    grey.setGeometry(0, 0, 1920, 1080);
    grey.setCursor(Qt::ArrowCursor);
    grey.show();
    ASSERT_TRUE(glimra::test::waitUntil([&] { return grey.isExposed(); }));
    x.motion(400, 400);
    x.motion(500, 500);
    const QString dir = qEnvironmentVariable("GLIMRA_FRAMEBUFFER_DIR");
    const auto pointerShows = [&] {
        pause(100);
        const QImage around = framebufferAround(dir, QPoint(490, 490));
        for (int y = 0; y < around.height(); ++y)
            for (int x = 0; x < around.width(); ++x)
                if ((around.pixel(x, y) & 0xffffff) != (around.pixel(0, 0) & 0xffffff))
                    return true;
        return false;
    };
    ASSERT_TRUE(pointerShows());
    glimra::NSCursor::hide();
    glimra::NSCursor::hide();
    EXPECT_FALSE(pointerShows());
    glimra::NSCursor::unhide();
    EXPECT_FALSE(pointerShows()) << "still hidden once more";
    glimra::NSCursor::unhide();
    EXPECT_TRUE(pointerShows());
    glimra::NSCursor::unhide(); // nothing left to undo
    EXPECT_EQ(glimra::NSCursor::hiddenCount(), 0);
    EXPECT_TRUE(pointerShows());
}

TEST(PrivateDisplays, PointerHiding) {
    QTemporaryDir framebuffer;
    PrivateDisplay display(QSize(1920, 1080), {QStringLiteral("-fbdir"), framebuffer.path()});
    ASSERT_TRUE(display.ready());
    display.expectChecksPass(QCoreApplication::applicationFilePath(),
                             QStringLiteral("InPrivateDisplay.Hiding*"),
                             {{"GLIMRA_FRAMEBUFFER_DIR", framebuffer.path()}});
}

} // namespace
