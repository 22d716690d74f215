#include "x11/X11OverlayDesktop.h"

#include "Log.h"
#include "display/WindowServer.h"
#include "overlay/ScreenChangeWatch.h"
#include "x11/Compositor.h"
#include "x11/WindowShape.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QWindow>

#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace glimra::x11 {

namespace {

// Also tells of every RandR notification Qt's connection receives (the root resized, a monitor set, an
// output or CRTC changed): Qt's own screens do not follow all of them.
class ScreenWatch final : public ScreenChangeWatch, public QAbstractNativeEventFilter {
public:
    ScreenWatch(xcb_connection_t* c, std::function<void()> changed) : ScreenChangeWatch(std::move(changed)) {
        const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
        randrEvents_ = randr && randr->present ? randr->first_event : 0;
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~ScreenWatch() override {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->removeNativeEventFilter(this);
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (randrEvents_ == 0 || type != "xcb_generic_event_t")
            return false;
        const uint8_t kind = static_cast<xcb_generic_event_t*>(message)->response_type & 0x7f;
        if (kind == randrEvents_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY || kind == randrEvents_ + XCB_RANDR_NOTIFY)
            post();
        return false;
    }

private:
    uint8_t randrEvents_ = 0;
};

class X11OverlayDesktop final : public OverlayDesktop {
public:
    X11OverlayDesktop(WindowServer& server, xcb_connection_t* c)
        : server_(server), c_(c), shape_(shapeExtensionPresent(c)) {}

    std::vector<ScreenGeometry> screens() override { return server_.screens(); }

    bool composites() override {
        // Qt talks to one screen of the display: the default one.
        return compositingManagerRuns(c_, displayScreenNumber());
    }

    // One X window spans every screen it lies on (at one scale), goes wherever it is put and is cut to
    // any region (X Shape).
    bool windowsSpanScreens() override { return true; }
    bool placesWindowsAnywhere() override { return true; }
    bool shapesWindows() override { return shape_; }

    std::unique_ptr<QObject> observeScreenChanges(std::function<void()> changed) override {
        return std::make_unique<ScreenWatch>(c_, std::move(changed));
    }

    void takeSnapshot(SnapshotHandler done) override { server_.grabDesktop(std::move(done)); }

    QImage imageOfWindowContents(WindowNumber window) override {
        return server_.createImageOfWindowContents(window);
    }

    WindowStyle overlayWindowStyle() override {
        // Override-redirect: no frame, no placement, above managed windows (full-screen ones too) once
        // mapped. The window still takes the keyboard focus when asked (requestActivate).
        return {Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                    Qt::X11BypassWindowManagerHint | Qt::NoDropShadowWindowHint,
                false};
    }

    // An X window's number is its id.
    WindowNumber windowNumberOf(const QWindow& window) override { return WindowNumber(window.winId()); }

    void setPassesClicksThrough(QWindow& window, bool passes) override {
        setInputShape(c_, xcb_window_t(window.winId()),
                      passes ? std::optional<QRegion>(QRegion()) : std::nullopt);
        xcb_flush(c_);
    }

    void setVisibleRegion(QWindow& window, const std::optional<QRegion>& region) override {
        if (!shape_)
            return;
        setBoundingShape(c_, xcb_window_t(window.winId()), region);
        xcb_flush(c_);
    }

    void sync() override { std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr)); }

private:
    WindowServer& server_;
    xcb_connection_t* c_;
    bool shape_;
};

} // namespace

std::unique_ptr<OverlayDesktop> makeX11OverlayDesktop(WindowServer& server, xcb_connection_t* c) {
    if (!c) {
        writeLogLine(QStringLiteral("The overlay needs Qt's connection to the X server, which it has not"));
        return nullptr;
    }
    if (!shapeExtensionPresent(c))
        writeLogLine(QStringLiteral("The X server has no SHAPE extension: a countdown covers the desktop "
                                    "unless a compositing manager runs"));
    return std::make_unique<X11OverlayDesktop>(server, c);
}

} // namespace glimra::x11
