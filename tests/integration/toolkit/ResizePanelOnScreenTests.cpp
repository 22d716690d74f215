// The crosshair capture's resize panel on the X server, shown over an overlay as a capture shows it
// and driven through XTest: typing into its fields without the helper becoming active, Return, Tab,
// Up, Down and Escape, clicks on the lock and on Capture, and its rounded outline over the overlay
// without a compositor.

#include "DarkPanel.h"
#include "NSButton.h"
#include "RecordingResizeDelegate.h"
#include "TestSupport.h"
#include "ToolkitOnScreen.h"
#include "XTestKit.h"
#include "x11/Compositor.h"

#include <QLineEdit>
#include <QWindow>
#include <gtest/gtest.h>

#include <X11/keysym.h>

using glimra::test::waitUntil;
using Messages = std::vector<QString>;

namespace {

const QColor kOverlayColour(90, 140, 60);

class ResizePanelOnScreen : public testing::Test {
protected:
    void SetUp() override {
        // The overlay as a capture shows it: above everything, holding the keyboard until the panel
        // comes.
        overlay.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::X11BypassWindowManagerHint);
        overlay.setAutoFillBackground(true);
        overlay.setPalette(QPalette(kOverlayColour));
        overlay.setGeometry(0, 0, 1000, 700);
        overlay.show();
        overlay.activateWindow();
        ASSERT_TRUE(waitUntil([&] { return overlay.isActiveWindow(); }));

        delegate.pushesSizeBack = true;
        panel.setDelegate(&delegate);
        panel.setCrosshairSize({400, 300});
        delegate.messages.clear();
        DarkPanel* window = panel.window();
        window->setFrameOrigin({300, double(QGuiApplication::primaryScreen()->geometry().height() - 500)});
        window->winId();
        window->windowHandle()->setTransientParent(overlay.windowHandle());
        window->makeKeyAndOrderFront();
        ASSERT_TRUE(waitUntil([&] { return panel.widthField()->hasFocus(); }));
        // The picture is painted once the server has mapped the window.
        waitUntil([] { return false; }, 200);
    }

    void type(std::initializer_list<xcb_keysym_t> keys) {
        for (xcb_keysym_t key : keys) {
            x.key(key, true);
            x.key(key, false);
        }
        x.sync();
    }
    // Waits until the delegate heard `count` messages (and a little more, for one too many).
    const Messages& heard(std::size_t count) {
        waitUntil([&] { return delegate.messages.size() >= count; }, 3000);
        waitUntil([] { return false; }, 100);
        return delegate.messages;
    }
    void click(QPoint global) {
        x.motion(global.x(), global.y());
        x.button(1, true);
        x.button(1, false);
    }
    // The centre of a control of the panel, in Qt's global coordinates.
    QPoint centreOf(QWidget* control) { return control->mapToGlobal(control->rect().center()); }

    capturetest::XClient x;
    QWidget overlay;
    glimra::test::RecordingResizeDelegate delegate;
    ImageCaptureCrosshairResizeWindowController panel;
};

TEST_F(ResizePanelOnScreen, TypedWidthFollowsTheLockAndReturnCaptures) {
    click(centreOf(panel.lockRatioButton()));
    type({XK_6, XK_4, XK_0, XK_Return});
    EXPECT_EQ(heard(3), (Messages{"lock 1 0.75", "size 640x480", "capture"}));
    EXPECT_EQ(panel.heightField()->text(), QStringLiteral("480"));
}

TEST_F(ResizePanelOnScreen, TabMovesToTheHeightWhereUpAndDownStepAndEscapeCancels) {
    type({XK_Tab});
    ASSERT_TRUE(waitUntil([&] { return panel.heightField()->hasFocus(); }));
    type({XK_Up, XK_Down, XK_Down, XK_Escape});
    EXPECT_EQ(heard(4), (Messages{"size 400x301", "size 400x300", "size 400x299", "cancel"}));
}

TEST_F(ResizePanelOnScreen, ShowsItsRoundedBoxOverTheOverlayAndCapturesOnAClick) {
    ASSERT_FALSE(glimra::x11::compositingManagerRuns(x.connection(), 0)) << "this road needs no compositor";
    const QRect r = panel.window()->geometry();
    const QImage shown = toolkittest::screenRect(r);
    const QRgb overlay = kOverlayColour.rgb();
    for (QPoint corner : {QPoint(0, 0), QPoint(r.width() - 1, 0), QPoint(0, r.height() - 1),
                          QPoint(r.width() - 1, r.height() - 1)})
        EXPECT_EQ(shown.pixel(corner), overlay) << corner.x() << "," << corner.y();
    // Inside, the dark box over nothing: no trace of the overlay.
    EXPECT_LT(qGreen(shown.pixel(r.width() / 2, 4)), 60);

    // The frame the panel gives for placing it under the pointer is where the button shows.
    const CGRect f = panel.captureButtonFrame();
    click({r.x() + int(NSMidX(f)), r.y() + r.height() - int(NSMidY(f))});
    EXPECT_EQ(heard(1), (Messages{"capture"}));
}

} // namespace
