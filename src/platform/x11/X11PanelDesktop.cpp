#include "panel/PanelDesktop.h"

#include "x11/Compositor.h"
#include "x11/WindowShape.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

namespace glimra {

namespace {

class X11PanelDesktop final : public PanelDesktop {
public:
    explicit X11PanelDesktop(xcb_connection_t* c) : c_(c) {}

    bool showsDesktopThroughTranslucentWindows() override {
        // Qt talks to one screen of the display: the default one.
        return x11::compositingManagerRuns(c_, x11::displayScreenNumber());
    }

    void setVisibleRegion(QWindow& window, const std::optional<QRegion>& region) override {
        x11::setBoundingShape(c_, xcb_window_t(window.winId()), region);
    }

    void flush() override { xcb_flush(c_); }

private:
    xcb_connection_t* c_;
};

// Wayland compositors, and Qt's offscreen stand-in, always show a window's transparency.
class CompositedPanelDesktop final : public PanelDesktop {
public:
    bool showsDesktopThroughTranslucentWindows() override { return true; }
    void setVisibleRegion(QWindow&, const std::optional<QRegion>&) override {}
    void flush() override {}
};

} // namespace

std::unique_ptr<PanelDesktop> makePanelDesktop() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (xcb_connection_t* c = x11 ? x11->connection() : nullptr)
        return std::make_unique<X11PanelDesktop>(c);
    return std::make_unique<CompositedPanelDesktop>();
}

} // namespace glimra
