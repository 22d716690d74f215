#pragma once
// The crosshair capture's overlay: windows over the bounding box of all screens, above every other
// window, that take the keyboard without activating the helper, turn mouse events into the view's
// y-up coordinates, and paint the view's frames.
//
// The windows show a picture of the desktop taken as the overlay is first ordered front (they show once
// it is there), dimmed, in opaque pixels, with or without a compositing manager: what lies beneath them is
// never needed, so a compositor that composites a damaged area over its own last picture (or cannot paint the
// desktop's background) shows exactly the overlay's frame, and a capture is cut from the very picture the
// user saw. Under a compositor the windows have an alpha channel all the same, so that they can be emptied
// before they unmap and nothing of them fades into a grab. While they ignore the mouse (a countdown)
// they show only the countdown digit and an outline of the selection, so that the live desktop shows
// and takes clicks everywhere else (cut to them where the display server cuts windows, clear
// elsewhere). A change of the screens while the overlay exists is reported, not followed. Where no
// window can be placed above the overlay, its panel lives inside the window of the pointer's screen.

#include "CrosshairOverlayContract.h"
#include "CrosshairOverlayGeometry.h"
#include "CrosshairOverlayRenderer.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMouseEvent;
class QKeyEvent;
class QPainter;

namespace glimra {
class DesktopSnapshot;
class OverlayDesktop;
class OverlaySurface;
} // namespace glimra

class ImageCaptureCrosshairOverlayWindow final : public OverlayWindow {
public:
    // desktop must outlive the window; imagesDir holds "screenshot_crosshair" and "capture_blue_handle".
    // The windows are made here (hidden); the screens' layout is read once and not followed.
    ImageCaptureCrosshairOverlayWindow(glimra::OverlayDesktop& desktop, QString imagesDir);
    ~ImageCaptureCrosshairOverlayWindow() override;
    ImageCaptureCrosshairOverlayWindow(const ImageCaptureCrosshairOverlayWindow&) = delete;
    ImageCaptureCrosshairOverlayWindow& operator=(const ImageCaptureCrosshairOverlayWindow&) = delete;

    void setContentView(OverlayContentView* view) override;
    CGPoint displayOffset() const override { return geometry_.displayOffset(); }
    CGSize boundsSize() const override { return geometry_.boundsSize(); }
    void orderFrontRegardless() override;
    void makeKeyWindow() override;
    void orderOut() override;
    void setIgnoresMouseEvents(bool ignores) override;
    void setCanBecomeKeyWindow(bool can) override;
    void keepPanelAbove(QWidget* panel) override;
    void setNeedsDisplay() override;
    void setNeedsDisplayInRect(const CGRect& rect) override;
    CGPoint convertPointToScreen(CGPoint viewPoint) const override;
    CGPoint convertPointFromScreen(CGPoint screenPoint) const override;
    CGPoint mouseLocationOutsideOfEventStream() const override;
    glimra::WindowNumber windowNumber() const override;
    void setCursor(CursorShape shape) override;
    void setEscapeKeyUpHandler(std::function<void()> handler) override;
    bool ownsWindowNumber(glimra::WindowNumber number) const override;
    QImage createImageOfRectAsShown(const QRectF& rectInGlobalDisplayPoints) const override;
    std::optional<std::vector<glimra::WindowInfo>> windowsAsShown() const override;
    QImage createImageOfWindowAsShown(glimra::WindowNumber windowNumber,
                                      const QRectF& boundsInGlobalDisplayPoints) const override;
    void setScreensChangedHandler(std::function<void()> handler) override;
    void setFailedHandler(std::function<void(const QString& why)> handler) override;

    // The picture the overlay shows; null before the first ordering front (and when the desktop could
    // not be read).
    std::shared_ptr<const glimra::DesktopSnapshot> backdropSnapshot() const { return snapshot_; }
    const CrosshairOverlayGeometry& geometry() const { return geometry_; }
    // One window per part of the geometry.
    std::vector<QWindow*> windows() const;
    bool isVisible() const { return visible_; }
    // Paints the pending changes now rather than when the event loop comes round.
    void displayIfNeeded();

private:
    class PartWindow;
    friend class PartWindow;
    struct PartWindowDeleter {
        void operator()(PartWindow* w) const;
    };

    void scheduleDisplay();
    void snapshotTaken(std::shared_ptr<const glimra::DesktopSnapshot> snapshot);
    // Paints region (the part window's own coordinates) of the last frame.
    void paintPart(std::size_t part, QPainter& painter, const QRegion& region);
    PartWindow* partUnderPointer() const;
    std::size_t partIndexUnderPointer() const;
    // Where the pointer is, in Qt's global coordinates: as the display server tells the overlay's own
    // surfaces, else as Qt knows it.
    QPointF pointerInQt() const;
    // Ends the capture through the failed handler, once.
    void fail(const QString& why);
    // Fails unless every part has come on the screen before the deadline.
    void watchShown(int generation, QDeadlineTimer deadline);
    // The frame, where windows keep the clicks while counting down: as pictures that take none.
    void showPictures();
    void mouseEvent(std::size_t part, QMouseEvent* event);
    void keyReleased(QKeyEvent* event);
    void updateVisibleRegions();
    void screensMayHaveChanged();

    glimra::OverlayDesktop& desktop_;
    CrosshairOverlayGeometry geometry_;
    CrosshairOverlayRenderer renderer_;
    QSizeF badgeSize_;
    bool composited_ = false;
    bool shapes_ = false;
    bool fullScreen_ = false;
    bool pictures_ = false;           // counting down without windows, through click-through pictures
    std::vector<QRectF> screenRects_; // every screen in overlay coordinates
    std::shared_ptr<const glimra::DesktopSnapshot> snapshot_;
    bool snapshotAsked_ = false;
    // Asked to show, or to take the keyboard, while the desktop's picture was still on its way.
    bool wantsFront_ = false;
    bool wantsKey_ = false;
    std::vector<QImage> backdrops_; // per part
    std::vector<std::unique_ptr<PartWindow, PartWindowDeleter>> windows_;
    // Per part: the display server's own surface showing its window, where it draws the overlay that
    // way; null where the window shows itself.
    std::vector<std::unique_ptr<glimra::OverlaySurface>> surfaces_;

    OverlayContentView* view_ = nullptr;
    std::function<void()> escapeHandler_;
    std::function<void()> screensChangedHandler_;
    std::function<void(const QString&)> failedHandler_;
    std::unique_ptr<QObject> screenWatch_;
    bool visible_ = false;
    bool ignoresMouse_ = false;
    bool canBecomeKey_ = true;
    QPointer<QWidget> panel_;
    bool hostsPanel_ = false; // panel_ lives inside one of the windows
    Qt::WindowFlags savedPanelFlags_;
    CGPoint lastMouse_;

    std::optional<OverlayFrame> painted_;
    std::vector<QRectF> pendingRects_;
    bool displayScheduled_ = false;
    std::vector<std::optional<QRegion>> visibleRegions_;
    std::vector<bool> shownOnce_; // per part, since the overlay last came to the front
    int showGeneration_ = 0;
    // Cleared when the window goes, so a posted repaint finds nothing to do.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
