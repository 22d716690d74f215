#pragma once
// What a full-desktop overlay needs from the display server, kept apart from the overlay itself so
// that another display server brings only this: where the screens are and when they change, whether
// a compositing manager composites them, the frozen picture of the desktop and a window's own pixels,
// and how the overlay's windows are shown (above everything, passing clicks through, showing only a
// part of themselves).

#include "overlay/DesktopSnapshot.h"
#include "x11/DisplayGeometry.h"

#include <QObject>
#include <QRegion>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWindow;

namespace glimra {

namespace x11 {
class WindowServer;
}

class OverlayDesktop {
public:
    virtual ~OverlayDesktop() = default;

    // Every screen, the primary first, in global display coordinates and native pixels.
    virtual std::vector<x11::ScreenGeometry> screens() = 0;
    // Whether a compositing manager composites the desktop: a window may then have translucent pixels,
    // and may fade out from its last picture as it unmaps.
    virtual bool composites() = 0;
    // Calls changed whenever screens() may have changed (a screen added, removed, moved, resized or
    // rescaled), on the main thread, until the returned object goes.
    virtual std::unique_ptr<QObject> observeScreenChanges(std::function<void()> changed) = 0;

    // The whole desktop now; null (with a log line) when it cannot be read.
    virtual std::shared_ptr<const DesktopSnapshot> takeSnapshot() = 0;
    // A top-level window's own pixels (its frame's, where a window manager framed it), also where other
    // windows cover it, in native pixels; null where the display server keeps none (no compositing
    // manager) or the window is gone.
    virtual QImage imageOfWindowContents(uint32_t window) = 0;

    // Before a window is first shown: no frame, above every other window (full-screen ones too),
    // untouched by the window manager.
    virtual void prepareOverlayWindow(QWindow& window) = 0;
    // Whether clicks go through the window to whatever lies beneath it.
    virtual void setPassesClicksThrough(QWindow& window, bool passes) = 0;
    // Only this part of the window shows (native pixels of the window); nullopt shows all of it.
    virtual void setVisibleRegion(QWindow& window, const std::optional<QRegion>& nativeRegion) = 0;
    // Returns once the display server has carried out every request so far: a window hidden before
    // is off the screen.
    virtual void sync() = 0;
};

// The X11 desktop: screens and snapshots through the window server (which must outlive it), the
// windows through Qt's own connection. nullptr when Qt does not talk to an X server.
std::unique_ptr<OverlayDesktop> makeX11OverlayDesktop(x11::WindowServer& windowServer);

} // namespace glimra
