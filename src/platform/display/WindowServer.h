#pragma once
// The window server as the capture code sees it, whichever display server runs: where the screens
// are, images of a rectangle, of a screen and of the whole desktop, a window's own image, the windows
// front to back, and which screen the user works on. One implementation per display server (X11,
// Wayland, none), handed out by the desktop (Desktop.h).
//
// Coordinates: "global display coordinates" are points (Qt's device-independent pixels) with the
// primary screen's top-left corner at (0, 0), y downwards; a screen left of or above the primary has
// negative coordinates. Images are in device pixels: on a screen of scale 2 a rectangle of 10 x 10
// points gives 20 x 20 pixels; they are QImage::Format_RGB32 (opaque), may be kept, copied and
// released on any thread, and later grabs never overwrite them. Whatever lies outside all screens is
// black.
//
// Grabs answer through a handler, called exactly once on the main thread: before the call returns
// where the display server answers at once (X11, a compositor's screen copy), from the event loop where
// it answers later (a desktop portal, which takes a second or two). A null image means failure, which
// has been logged.

#include "display/DesktopSnapshot.h"
#include "display/DisplayGeometry.h"
#include "display/WindowInfo.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QScreen;

namespace glimra {

class WindowServer {
public:
    using ImageHandler = std::function<void(QImage image)>;
    using SnapshotHandler = std::function<void(std::shared_ptr<const DesktopSnapshot> snapshot)>;

    virtual ~WindowServer() = default;

    // All screens as grabs see them, the primary first.
    virtual std::vector<ScreenGeometry> screens() const = 0;

    // Everything on screen inside the rectangle (global display coordinates), at the highest scale of
    // the screens it touches.
    virtual void grabRect(const QRectF& rectInGlobalDisplayPoints, ImageHandler done) = 0;
    // A whole screen at its own scale.
    virtual void grabScreen(const QScreen* screen, ImageHandler done) = 0;
    // Every screen now, for an overlay to show and to cut captures from; null on failure.
    virtual void grabDesktop(SnapshotHandler done) = 0;
    // A window's image as it shows on screen, at once; null where the display server cannot give one
    // (the window is gone, or only a picture of the whole desktop is to be had).
    virtual QImage createImageOfWindow(WindowNumber windowNumber) = 0;
    // The window's own pixels, frame included, also where other windows cover it or the screen ends:
    // what the display server keeps of a window a compositing manager redirects. Null where it keeps
    // none (no compositing manager, no such access), or when the window is gone.
    virtual QImage createImageOfWindowContents(WindowNumber windowNumber) {
        (void)windowNumber;
        return QImage();
    }

    // The windows front to back; nullopt (with a log line where it should have had one) when the
    // display server gives no list. onScreenOnly drops unmapped and minimised windows;
    // excludeDesktopElements drops desktop-type windows.
    virtual std::optional<std::vector<WindowInfo>> copyWindowInfo(bool onScreenOnly,
                                                                  bool excludeDesktopElements) = 0;

    // Where the display server tells which screen the user works on (sway's focused output), that
    // screen's name (as QScreen::name()); empty where it does not, and the pointer's position decides.
    virtual QString focusedScreenName() { return QString(); }

    // Readies the grab buffers so that the next grab is as fast as later ones; lets them go again.
    virtual void warmUp() {}
    virtual void releaseBuffers() {}

    // The primary screen's top-left corner in Qt's global coordinates: subtract it from a Qt position
    // to get global display coordinates.
    static QPointF globalDisplayOrigin();
    // Qt's screens, the primary first, in global display coordinates; where each one's pixels are is
    // nativeOf(its name, its geometry in Qt's coordinates, its scale): the display server knows.
    static std::vector<ScreenGeometry>
    qtScreens(const std::function<QRect(const QString& name, const QRect& logical, qreal scale)>& nativeOf);
};

} // namespace glimra
