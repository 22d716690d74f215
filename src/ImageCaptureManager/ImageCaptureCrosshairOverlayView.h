#pragma once
// What the overlay of a crosshair capture knows and decides: the selection with its anchor and moving
// points, the refinement drags (handles, move), the ratio lock, the two numbers of the badge, the
// timed flag and the countdown digit; the mouse rules that change them; and the frame they make. The
// window it lives in paints the frame and feeds it the mouse (CrosshairOverlayContract.h).
//
// States, by the flags: hunting (no button, no selection), selecting (button down, first selection
// being dragged out), refining (a selection exists: handle drag, move drag, or a dead drag that
// started outside it), counting down (a timed capture waits; the overlay lets the mouse through).
//
// The first selection of a capture that is not timed opens the resize panel with its Capture button
// under the pointer; the view is the panel's delegate, keeps its fields in step with the selection
// and carries out its choices. The session controller owns the panel; the view reaches it there.

#include "CrosshairOverlayContract.h"
#include "CrosshairSelectionGeometry.h"
#include "DarkPanelProtocol.h"
#include "ImageCaptureCrosshairResizeProtocol.h"
#include "ScreensnapCompletionBlock.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class ImageCaptureCrosshairWindowController;
class ImageCaptureCrosshairResizeWindowController;

namespace glimra {
struct WindowInfo;
}

class ImageCaptureCrosshairOverlayView final : public OverlayContentView,
                                               public ImageCaptureCrosshairResizeProtocol,
                                               public DarkPanelProtocol {
public:
    // What the view asks the desktop. Every member must be set.
    struct Services {
        // The frontmost window under a screen point (y up), leaving out the windows named (the
        // overlay's own), in the list given or, without one, the window list now.
        std::function<std::optional<glimra::WindowInfo>(
            CGPoint screenPoint, const std::function<bool(glimra::WindowNumber)>& ignores,
            const std::optional<std::vector<glimra::WindowInfo>>& windows)>
            windowInformationForLocation;
        // A window's image at full pixel resolution; null when it cannot be read.
        std::function<QImage(glimra::WindowNumber windowNumber)> createCGImageOfWindow;
        // Whether Option (Alt) is held at the moment of the call.
        std::function<bool()> isOptionKeyDown;
        // The user's countdown length in whole seconds.
        std::function<int64_t()> timedSnapDelaySeconds;
        // The frames of the screens in screen coordinates, the main screen first.
        std::function<std::vector<CGRect>()> screenFrames;
        // The full-screen capture of the screen under the mouse, reporting to the block given.
        std::function<void(const ScreensnapCompletionBlock&)> performFullScreenSnapshot;
    };

    // Lives inside window, which outlives it; controller runs the session.
    ImageCaptureCrosshairOverlayView(ImageCaptureCrosshairWindowController& controller, OverlayWindow& window,
                                     Services services, crosshair::HandleMetrics handles);
    ~ImageCaptureCrosshairOverlayView() override;
    ImageCaptureCrosshairOverlayView(const ImageCaptureCrosshairOverlayView&) = delete;
    ImageCaptureCrosshairOverlayView& operator=(const ImageCaptureCrosshairOverlayView&) = delete;

    OverlayWindow& window() const { return window_; }

    // OverlayContentView
    void mouseDown(CGPoint locationInWindow) override;
    void mouseDragged(CGPoint locationInWindow, double deltaX, double deltaY) override;
    void mouseUp(CGPoint locationInWindow) override;
    void mouseMoved(CGPoint locationInWindow) override;
    OverlayDrawState drawState() const override;

    // The first selection as the two points of the current drag span it; the zero rectangle when no
    // button is down and there is no selection yet.
    CGRect selectionRect() const;
    // The stored selection, normalised (it may hold negative sizes during a handle drag).
    CGRect sanitizedSelectionRect() const;
    // Hands the selection, in overlay coordinates, to the controller's captureRect.
    void captureSelectionRect();
    // captureSelectionRect once the hidden overlay has left the screen (0.1 s), unless the view goes
    // first.
    void performCaptureSelectionRectAfterDelay();
    // Keeps the resize panel's fields in step with the selection; nothing while there is no panel.
    void updateResizePanel();

    // ImageCaptureCrosshairResizeProtocol: the panel's choices and edits.
    // Ends the capture without an image.
    void crosshairResizeControllerDidCancel(ImageCaptureCrosshairResizeWindowController* panel) override;
    // Hides the panel and the overlay and grabs the selection once they have left the screen.
    void
    crosshairResizeControllerDidAcceptCapture(ImageCaptureCrosshairResizeWindowController* panel) override;
    // Lets go of the panel (nullptr: there is none) and counts down, the overlay showing the digits
    // and letting the mouse through.
    void crosshairResizeControllerDidAcceptTimedCapture(
        ImageCaptureCrosshairResizeWindowController* panel) override;
    // Ends the session at once and hands its block to the full-screen capture 0.2 s later, once the
    // overlay has left the screen.
    void crosshairResizeControllerDidAcceptFullscreenCapture(
        ImageCaptureCrosshairResizeWindowController* panel) override;
    // Resizes the selection from its bottom-left corner, kept on the desktop, unless a handle is being
    // dragged.
    void crosshairResizeControllerDidChangeCaptureSize(ImageCaptureCrosshairResizeWindowController* panel,
                                                       CGSize size) override;
    void crosshairResizeControllerDidChangeResizeRatioLock(ImageCaptureCrosshairResizeWindowController* panel,
                                                           bool locked, double widthToHeightRatio) override;
    double crosshairResizeControllerCurrentWidthToHeightRatio(
        ImageCaptureCrosshairResizeWindowController* panel) override;

    // DarkPanelProtocol: the pointer over the panel shows the cursor it would show over the overlay.
    void darkPanelWindowDidMouseMove(DarkPanel* panel, QMouseEvent* event) override;

    double topNumber() const { return topNumber_; }
    void setTopNumber(double value) { topNumber_ = value; }
    double bottomNumber() const { return bottomNumber_; }
    void setBottomNumber(double value) { bottomNumber_ = value; }
    bool isTimedSnap() const { return timedSnap_; }
    void setTimedSnap(bool timed) { timedSnap_ = timed; }
    const QImage& timerImage() const { return timerImage_; }
    // Repaints only the digit's square.
    void setTimerImage(const QImage& image);
    CGRect timerDisplayRect() const;

    bool isRefiningSelection() const { return isRefiningSelection_; }
    bool isDuringCountdown() const { return isDuringCountdown_; }
    crosshair::Corner draggingCorner() const { return draggingCorner_; }

private:
    // The click's window captured and the session ended; false (the overlay back) when there is no
    // window there or it cannot be imaged.
    bool snapWindowUnderMouse();
    void setCursorForPoint(CGPoint p);
    // The screens' frames in the view's coordinates.
    std::vector<CGRect> screensInView() const;
    // Makes the resize panel, puts it beside the pointer on a screen and shows it above the overlay
    // with the keyboard.
    void showResizePanel();
    ImageCaptureCrosshairResizeWindowController* resizePanel() const;

    ImageCaptureCrosshairWindowController& controller_;
    OverlayWindow& window_;
    Services services_;
    crosshair::HandleMetrics handles_;

    bool isMouseDown_ = false;
    bool isRefiningSelection_ = false;
    bool isDuringCountdown_ = false;
    bool isDraggingEntireSelection_ = false;
    bool isRatioLocked_ = false;
    double widthToHeightRatio_ = 0; // height divided by width
    CGPoint initialMouseDown_;
    CGPoint initialRefinementMouseDown_;
    CGPoint previousMouseDown_;
    CGPoint currentMouseDown_;
    CGRect selectionRect_;
    CGRect initialRefinementRect_;
    crosshair::Corner draggingCorner_ = crosshair::kNoCorner;
    bool timedSnap_ = false;
    double bottomNumber_ = 0;
    QImage timerImage_;
    double topNumber_ = 0;
    // Delayed work dies with the view.
    QObject delayedWork_;
};
