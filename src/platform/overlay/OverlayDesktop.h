#pragma once
// What a full-desktop overlay needs from the display server, kept apart from the overlay itself so
// that each display server brings only this: where the screens are and when they change, whether a
// compositor composites them, the frozen picture of the desktop and a window's own pixels, and how the
// overlay's windows are shown (above everything, passing clicks through, showing only a part of
// themselves), with what the display server cannot do said as capabilities, never as its name.

#include "display/DesktopSnapshot.h"
#include "display/DisplayGeometry.h"
#include "display/WindowInfo.h"

#include <QObject>
#include <QRegion>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPainter;
class QWidget;
class QWindow;

namespace glimra {

// The overlay's window for one screen drawn on a surface of the display server's own instead of being
// shown as a window (OverlayDesktop::makeOverlaySurface): the window is never shown itself; the surface
// shows its rendering, above every window of the screen, and hands the pointer and the keyboard over it
// to the window as Qt events, as a shown window would get them.
class OverlaySurface {
public:
    virtual ~OverlaySurface() = default;
    // Puts it on its screen, the whole window drawn once the display server is ready for it.
    virtual void show() = 0;
    // Takes it off the screen; gone from the screen once OverlayDesktop::sync() returns.
    virtual void hide() = 0;
    // Whether it is on the screen: shown, and its first frame presented.
    virtual bool isShown() const = 0;
    // Draws this part of the window (its own coordinates, points) again.
    virtual void display(const QRegion& region) = 0;
    // Clicks and keys go to whatever lies beneath it, or to it again.
    virtual void setPassesClicksThrough(bool passes) = 0;
    // Keys go to this window (its focus widget), whichever of the overlay's surfaces the display
    // server hands them to.
    virtual void takeKeyboard() = 0;
    // The pointer's shape over it; the application's override cursor (a hidden pointer) comes first.
    virtual void setCursor(Qt::CursorShape shape) = 0;
};

class OverlayDesktop {
public:
    using SnapshotHandler = std::function<void(std::shared_ptr<const DesktopSnapshot>)>;

    virtual ~OverlayDesktop() = default;

    // Every screen, the primary first, in global display coordinates and native pixels.
    virtual std::vector<ScreenGeometry> screens() = 0;
    // Whether a compositor composites the desktop: a window may then have translucent pixels, and may
    // fade out from its last picture as it unmaps.
    virtual bool composites() = 0;
    // Whether one window may span several screens (else the overlay has one window per screen).
    virtual bool windowsSpanScreens() = 0;
    // Whether the display server lays its screens out in points (Wayland: a pointer that left a window for
    // another screen is still measured in points), rather than in native pixels of the window's scale.
    virtual bool laysScreensOutInPoints() { return false; }
    // Whether a window can be placed anywhere on the desktop (else a panel that belongs to the overlay
    // lives inside the overlay's window, where the pointer is).
    virtual bool placesWindowsAnywhere() = 0;
    // Whether setVisibleRegion cuts a window to a region (else the window paints what must not show
    // fully transparent, which needs composites()).
    virtual bool shapesWindows() = 0;
    // Calls changed whenever screens() may have changed (a screen added, removed, moved, resized or
    // rescaled), on the main thread, until the returned object goes.
    virtual std::unique_ptr<QObject> observeScreenChanges(std::function<void()> changed) = 0;

    // The whole desktop now, to done exactly once on the main thread: before returning where the
    // display server answers at once, later where it does not (a desktop portal). Null (with a log
    // line) when it cannot be read.
    virtual void takeSnapshot(SnapshotHandler done) = 0;
    // A top-level window's own pixels (its frame's, where a window manager framed it), also where other
    // windows cover it, in native pixels; null where the display server keeps none (no compositing
    // manager, no such access) or the window is gone.
    virtual QImage imageOfWindowContents(WindowNumber window) = 0;

    // The flags an overlay window is made with: no frame, above every other window (full-screen ones
    // too), untouched by the window manager; fullScreen asks for it to be shown full screen on its
    // screen (where a window cannot otherwise cover one).
    struct WindowStyle {
        Qt::WindowFlags flags;
        bool fullScreen = false;
    };
    virtual WindowStyle overlayWindowStyle() = 0;
    // The number the window server's list gives one of the overlay's windows; kNoWindow where the list
    // never holds the helper's own windows.
    virtual WindowNumber windowNumberOf(const QWindow& window) = 0;
    // Whether clicks go through the window to whatever lies beneath it.
    virtual void setPassesClicksThrough(QWindow& window, bool passes) = 0;
    // Only this part of the window shows (native pixels of the window); nullopt shows all of it. Does
    // nothing where shapesWindows() is false.
    virtual void setVisibleRegion(QWindow& window, const std::optional<QRegion>& nativeRegion) = 0;
    // Returns once the display server has carried out every request so far, as far as it can tell: a
    // window hidden before is off the screen.
    virtual void sync() = 0;

    // The overlay's window for a screen (by its name) on a surface of the display server's own, where it
    // draws the overlay that way; nullptr where the window is to be shown as a window. lost is called
    // with the reason when the display server takes the surface away (its "close window", an output
    // gone, a protocol refusal), on the main thread, possibly after the surface went.
    // paint draws a region of the window (its own coordinates, points) with its children onto a painter
    // of the surface's pixels; the window itself paints nothing of its own meanwhile.
    using WindowPainter = std::function<void(QPainter& painter, const QRegion& region)>;
    virtual std::unique_ptr<OverlaySurface> makeOverlaySurface(QWidget& window, const QString& screenName,
                                                               WindowPainter paint,
                                                               std::function<void(const QString&)> lost) {
        (void)window;
        (void)screenName;
        (void)paint;
        (void)lost;
        return nullptr;
    }
    // Where the pointer is (Qt's global coordinates), where the display server tells its own surfaces
    // rather than Qt's windows; nullopt: ask Qt.
    virtual std::optional<QPointF> pointerPosition() { return std::nullopt; }

    // Whether a window passing clicks through (setPassesClicksThrough) lets them reach the windows
    // beneath it. Where it does not, what must still show while clicks go through is shown with
    // showClickThroughPicture instead, and the overlay's windows are hidden meanwhile.
    virtual bool windowsPassClicksThrough() { return true; }
    // Shows picture (the screen's device pixels, transparent where the desktop shows) above every window
    // of the screen named, taking no input; a null picture takes it away. False where it cannot.
    virtual bool showClickThroughPicture(const QString& screenName, const QImage& picture) {
        (void)screenName;
        (void)picture;
        return false;
    }
};

} // namespace glimra
