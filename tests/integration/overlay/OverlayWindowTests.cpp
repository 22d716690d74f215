// The overlay window on a real X server: surfaces that fail, a hosted panel let go of, and the pointer
// hidden and shown. Where it lies and stacks, what it paints, where its events land and when Escape
// cancels are checked by the capture scenarios on the real helper.

#include "ImageCaptureCrosshairOverlayWindow.h"
#include "PrivateDisplay.h"
#include "XTestKit.h"
#include "cursor/NSCursor.h"
#include "overlay/OverlayDesktop.h"
#include "x11/X11Desktop.h"
#include "x11/X11WindowServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QLineEdit>
#include <QRasterWindow>
#include <QTimer>
#include <QWindow>

using glimra::test::pause;
using glimra::test::PrivateDisplay;

namespace {

// The view's side, inert: the overlay shows it hunting.
class InertView : public OverlayContentView {
public:
    void mouseDown(CGPoint) override {}
    void mouseDragged(CGPoint, double, double) override {}
    void mouseUp(CGPoint) override {}
    void mouseMoved(CGPoint) override {}
    OverlayDrawState drawState() const override { return {}; }
};

class Overlay : public ::testing::Test {
protected:
    void SetUp() override {
        server = glimra::x11::X11WindowServer::connect();
        ASSERT_TRUE(server);
        desktop = glimra::x11::X11Desktop().makeOverlayDesktop(*server);
        ASSERT_TRUE(desktop);
        ASSERT_TRUE(x.ok());
    }
    void TearDown() override {
        overlay.reset();
        pause(50);
    }

    std::unique_ptr<glimra::x11::X11WindowServer> server;
    std::unique_ptr<glimra::OverlayDesktop> desktop;
    glimra::test::XClient x;
    InertView view;
    std::unique_ptr<ImageCaptureCrosshairOverlayWindow> overlay;
};

// A surface of the display server's own that never comes on the screen, or that the display server
// takes away once it is.
enum class Surfaces { None, NeverShown, TakenAway };
class FailingSurface : public glimra::OverlaySurface {
public:
    FailingSurface(Surfaces kind, std::function<void(const QString&)> lost)
        : kind_(kind), lost_(std::move(lost)) {}
    void show() override {
        if (kind_ == Surfaces::TakenAway)
            QTimer::singleShot(100, [lost = lost_] { lost("taken away"); });
    }
    void hide() override {}
    bool isShown() const override { return kind_ == Surfaces::TakenAway; }
    void display(const QRegion&) override {}
    void setPassesClicksThrough(bool) override {}
    void takeKeyboard() override {}
    void setCursor(Qt::CursorShape) override {}

private:
    Surfaces kind_;
    std::function<void(const QString&)> lost_;
};

// The X11 desktop as one that cannot place a window anywhere (as on Wayland): the panel then lives
// inside the overlay's window; or one that draws the overlay on surfaces of its own, which fail.
class HostingDesktop : public glimra::OverlayDesktop {
public:
    explicit HostingDesktop(glimra::OverlayDesktop& real, Surfaces surfaces = Surfaces::None)
        : real_(real), surfaces_(surfaces) {}
    std::unique_ptr<glimra::OverlaySurface>
    makeOverlaySurface(QWidget&, const QString&, WindowPainter,
                       std::function<void(const QString&)> lost) override {
        if (surfaces_ == Surfaces::None)
            return nullptr;
        return std::make_unique<FailingSurface>(surfaces_, std::move(lost));
    }
    std::vector<glimra::ScreenGeometry> screens() override { return real_.screens(); }
    bool composites() override { return real_.composites(); }
    bool windowsSpanScreens() override { return real_.windowsSpanScreens(); }
    bool placesWindowsAnywhere() override { return false; }
    bool shapesWindows() override { return real_.shapesWindows(); }
    // What neither test looks at is left out: screen changes, the window list, clicks through, shapes.
    std::unique_ptr<QObject> observeScreenChanges(std::function<void()>) override {
        return std::make_unique<QObject>();
    }
    void takeSnapshot(SnapshotHandler done) override { real_.takeSnapshot(std::move(done)); }
    QImage imageOfWindowContents(uint32_t) override { return QImage(); }
    WindowStyle overlayWindowStyle() override { return real_.overlayWindowStyle(); }
    glimra::WindowNumber windowNumberOf(const QWindow&) override { return glimra::kNoWindow; }
    void setPassesClicksThrough(QWindow&, bool) override {}
    void setVisibleRegion(QWindow&, const std::optional<QRegion>&) override {}
    void sync() override { real_.sync(); }

private:
    glimra::OverlayDesktop& real_;
    Surfaces surfaces_;
};

// One capture, whole or not at all: where a surface never comes on the screen the overlay gives up after
// its 2 s, and where the display server takes one away at once, each time saying why.
TEST_F(Overlay, EndsWhenASurfaceNeverShowsOrIsTakenAway) {
    for (const auto& [surfaces, reason] : {std::pair{Surfaces::NeverShown, "did not come on the screen"},
                                           std::pair{Surfaces::TakenAway, "taken away"}}) {
        HostingDesktop failing(*desktop, surfaces);
        ImageCaptureCrosshairOverlayWindow o(failing, QStringLiteral(GLIMRA_CROSSHAIR_IMAGES_DIR));
        QStringList why;
        o.setFailedHandler([&](const QString& w) { why << w; });
        o.setContentView(&view);
        o.orderFrontRegardless();
        EXPECT_TRUE(glimra::test::waitUntil([&] { return !why.isEmpty(); }, 4000)) << reason;
        pause(100);
        ASSERT_EQ(why.size(), 1) << reason;
        EXPECT_TRUE(why.front().contains(QLatin1String(reason))) << why.front().toStdString();
    }
}

// A panel with the keyboard, hosted in the overlay and then let go of and deleted, leaves nothing of
// itself behind in the overlay's window: a late activation of that window once crashed the helper.
TEST_F(Overlay, AHostedPanelLeavesNoFocusBehind) {
    HostingDesktop hosting(*desktop);
    overlay = std::make_unique<ImageCaptureCrosshairOverlayWindow>(
        hosting, QStringLiteral(GLIMRA_CROSSHAIR_IMAGES_DIR));
    overlay->setContentView(&view);
    overlay->orderFrontRegardless();
    overlay->makeKeyWindow();
    auto panel = std::make_unique<QWidget>();
    auto* field = new QLineEdit(panel.get()); // owned by the panel
    overlay->keepPanelAbove(panel.get());
    ASSERT_NE(panel->parentWidget(), nullptr) << "not hosted";
    QWidget* host = panel->window();
    panel->show();
    field->setFocus();
    ASSERT_EQ(host->focusWidget(), field);
    overlay->keepPanelAbove(nullptr);
    panel.reset();
    EXPECT_EQ(host->focusWidget(), nullptr);
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
        return around.copy(0, 0, 1, 1).scaled(around.size()) != around; // not one colour
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
    display.expectChecksPass(QCoreApplication::applicationFilePath(), "InPrivateDisplay.Hiding*",
                             {{"GLIMRA_FRAMEBUFFER_DIR", framebuffer.path()}});
}

} // namespace
