#pragma once
// The one process-wide entry point for screen images: the four kinds of capture, the flag that says
// one is in progress, and the image primitives of the window server of whichever display server runs.
// Images come through handlers, called exactly once on the main thread: at once where the display
// server answers at once, seconds later where a desktop portal answers.

#include "ImageCaptureCrosshairWindowController.h"
#include "ScreensnapCompletionBlock.h"
#include "display/WindowServer.h"
#include "overlay/OverlayDesktop.h"

#include <QImage>
#include <QPointF>
#include <QRectF>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class QScreen;

class ScreensnapManager {
public:
    // Created once, thread-safely, on first use. Start-up makes it on the main thread, where its
    // crosshair capture keeps windows and timers; from then on any thread may ask for it.
    static ScreensnapManager& sharedManager();

    ScreensnapManager();
    ~ScreensnapManager();
    ScreensnapManager(const ScreensnapManager&) = delete;
    ScreensnapManager& operator=(const ScreensnapManager&) = delete;

    ImageCaptureCrosshairWindowController& crosshairWindowController() { return *crosshairWindowController_; }
    void setCrosshairWindowController(std::unique_ptr<ImageCaptureCrosshairWindowController> controller);
    // What the crosshair capture uses of the desktop: this manager's grabs and window list, the
    // user's settings, the bundle's artwork and sounds.
    ImageCaptureCrosshairWindowController::Services crosshairServices();

    // Read from the XPC queue while the main thread writes it.
    bool isSnapping() const { return snapping_.load(); }
    void setSnapping(bool snapping) { snapping_.store(snapping); }

    bool canSnapPreviousArea() const;

    // The frontmost window under point (screen coordinates) that is visible, not the ignored window and
    // not a dock; nullopt when there is none or no window list.
    std::optional<glimra::WindowInfo> windowInformationForLocation(QPointF point,
                                                                   glimra::WindowNumber ignoringWindowNumber);
    // The same, leaving out every window the predicate names (an overlay of several windows), in the
    // list given (the windows as they were when the desktop's picture was taken) or, without one, in the
    // window server's list now.
    std::optional<glimra::WindowInfo> windowInformationForLocation(
        QPointF point, const std::function<bool(glimra::WindowNumber)>& ignores,
        const std::optional<std::vector<glimra::WindowInfo>>& windows = std::nullopt);

    // Images owned by the handler; null when the display server gives none.
    using ImageHandler = glimra::WindowServer::ImageHandler;
    void createCGImageOfRect(const QRectF& rectInGlobalDisplayCoordinates, ImageHandler done);
    void createCGImageOfScreen(const QScreen* screen, ImageHandler done);
    void createCGImageOfAllScreens(ImageHandler done);
    QImage createCGImageOfWindow(glimra::WindowNumber windowNumber);

    // The screen under the mouse (where the display server tells which screen the user works on, that
    // one); the primary screen when none contains it.
    QScreen* screenContainingMouse();

    void performCrosshairSnapshotWithCompletionBlock(ScreensnapCompletionBlock block);
    void performTimedCrosshairSnapshotWithCompletionBlock(ScreensnapCompletionBlock block);
    void performCrosshairSnapshotOfPreviousAreaWithCompletionBlock(ScreensnapCompletionBlock block);
    void performFullScreenSnapshotWithCompletionBlock(const ScreensnapCompletionBlock& block);

    // Connects to the window server and readies its grab buffers and the region capture's resize
    // panel, so the first capture is as fast as later ones.
    void warmUp();
    // Lets the grab buffers go (see WindowServer::releaseBuffers).
    void releaseBuffers();

private:
    glimra::WindowServer* windowServer();
    // What the crosshair overlay needs of the display server, made with the first capture; nullptr
    // where the desktop cannot show one.
    glimra::OverlayDesktop* overlayDesktop();

    std::atomic<bool> snapping_{false};
    std::unique_ptr<glimra::WindowServer> windowServer_;
    bool triedWindowServer_ = false;
    std::unique_ptr<glimra::OverlayDesktop> overlayDesktop_;
    bool triedOverlayDesktop_ = false;
    // Declared last: its overlays use the desktop and the window server, so it goes first.
    std::unique_ptr<ImageCaptureCrosshairWindowController> crosshairWindowController_;
};

// "%@" of a capture title: now, in the locale's short date and short time styles.
QString shortDateTimeString();
