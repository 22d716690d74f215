#pragma once
// The window server on X11 (display/WindowServer.h has what it is to the capture code): images of the
// desktop, of a rectangle and of one window, the list of windows front to back, and where each screen
// lies, through an xcb connection of its own (Qt's connection is not touched), for use on the Qt main
// thread. Grabs answer at once. The work is done by XcbConnection, ScreenList, ScreenGrabber and
// WindowList; this class ties them together.

#include "display/DisplayGeometry.h"
#include "display/WindowServer.h"
#include "x11/WindowList.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QScreen;

namespace glimra::x11 {

class X11WindowServer final : public glimra::WindowServer {
public:
    struct Options {
        // MIT-SHM grabs; off makes every grab a plain GetImage. The environment variable
        // GLIMRA_X11_NO_SHM=1 turns it off as well.
        bool useSharedMemory = true;
        // Qt's screens (their scales and points) where the application shows its windows on this X
        // server, as the X11 desktop's does; off, or without a QGuiApplication, the RandR monitors
        // alone at scale 1.
        bool screensFromQt = true;
    };

    // A connection to $DISPLAY; nullptr (with a log line) when there is no display to talk to.
    static std::unique_ptr<X11WindowServer> connect();
    static std::unique_ptr<X11WindowServer> connect(const Options& options);
    ~X11WindowServer() override;
    X11WindowServer(const X11WindowServer&) = delete;
    X11WindowServer& operator=(const X11WindowServer&) = delete;

    // Images are QImage::Format_RGB32 (opaque) in device pixels; null (with a log line) on failure.
    // They may be kept, copied and released on any thread; later grabs never overwrite them.
    // Whatever lies outside all screens is black.

    // Everything on screen inside the rectangle (global display coordinates), at the highest scale of
    // the screens it touches.
    QImage createImage(const QRectF& rectInGlobalDisplayPoints);
    // A whole screen: createImage(displayBounds(screen)).
    QImage createImageOfScreen(const QScreen* screen);
    // The bounding box of all screens.
    QImage createImageOfAllScreens();
    // A window pixel for pixel, frame included: its own pixels where a compositing manager keeps them
    // (createImageOfWindowContents), else its frame rectangle as it shows on screen (windows above it
    // included: nothing else is there to read). Null when the window does not exist or is not mapped.
    // Takes a client id, a frame id or an override-redirect window's id; the root gives the screen.
    QImage createImageOfWindow(WindowNumber windowNumber) override;
    // The window's own pixels, frame included, also where other windows cover it or the screen ends:
    // what the display server keeps of a window a compositing manager redirects. Null where it keeps
    // none (no compositing manager: quietly), or when the window is gone or not mapped.
    QImage createImageOfWindowContents(WindowNumber windowNumber) override;

    // The windows front to back. onScreenOnly drops unmapped and hidden (minimised) windows;
    // excludeDesktopElements drops desktop-type windows. nullopt (with a log line) when the server
    // gives no list. With a window manager: its clients (_NET_CLIENT_LIST_STACKING) plus the mapped
    // windows it does not manage (menus, overlays). Without one: the root's mapped children.
    std::optional<std::vector<WindowInfo>> copyWindowInfo(bool onScreenOnly,
                                                          bool excludeDesktopElements) override;

    // The screen in global display coordinates (points); empty (with a log line) for an unknown
    // screen.
    QRectF displayBounds(const QScreen* screen) const;

    // All screens as the grabs see them, the primary first.
    std::vector<ScreenGeometry> screens() const override;

    // The capture code's grabs: the ones above, answered at once. The desktop is the root window
    // pixel for pixel, every screen at its own scale, in one grab.
    void grabRect(const QRectF& rectInGlobalDisplayPoints, ImageHandler done) override;
    void grabScreen(const QScreen* screen, ImageHandler done) override;
    void grabDesktop(SnapshotHandler done) override;

    bool usesSharedMemory() const;

    // Prepares the shared memory segment and a pixel buffer for a grab of all screens, so that the
    // first real grab is as fast as later ones. Takes a few milliseconds here; the X server spends
    // about 100 ms (4K) faulting the segment in afterwards, so call it well before a capture, e.g.
    // shortly after start-up. Without it the first grab reads through plain GetImage.
    void warmUp() override;
    // Lets go of the grab buffers kept warm between grabs (a 4K screen's take 33 MB): for an idle
    // process. The next grab reads through plain GetImage (about 25 ms for 4K here) and readies them again.
    void releaseBuffers() override;

private:
    struct Private;
    explicit X11WindowServer(std::unique_ptr<Private> d);
    QImage contentsOf(const WindowList::Shown& shown);
    std::unique_ptr<Private> d;
};

} // namespace glimra::x11
