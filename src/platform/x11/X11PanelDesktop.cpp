#include "x11/X11PanelDesktop.h"

#include "x11/Compositor.h"
#include "x11/WindowShape.h"

#include <QWindow>

#include <xcb/xcb.h>

namespace glimra::x11 {

namespace {

class X11PanelDesktop final : public PanelDesktop {
public:
    explicit X11PanelDesktop(xcb_connection_t* c) : c_(c) {}

    bool showsDesktopThroughTranslucentWindows() override {
        // Qt talks to one screen of the display: the default one.
        return compositingManagerRuns(c_, displayScreenNumber());
    }

    void setVisibleRegion(QWindow& window, const std::optional<QRegion>& region) override {
        setBoundingShape(c_, xcb_window_t(window.winId()), region);
    }

    void flush() override { xcb_flush(c_); }

private:
    xcb_connection_t* c_;
};

} // namespace

std::unique_ptr<PanelDesktop> makeX11PanelDesktop(xcb_connection_t* qtConnection) {
    if (!qtConnection)
        return std::make_unique<TranslucentPanelDesktop>();
    return std::make_unique<X11PanelDesktop>(qtConnection);
}

} // namespace glimra::x11
