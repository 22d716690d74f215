#include "ImageCaptureCrosshairOverlayView.h"

#include "DarkPanel.h"
#include "ImageCaptureCrosshairResizeWindowController.h"
#include "ImageCaptureCrosshairWindowController.h"
#include "dispatch/Dispatch.h"
#include "display/WindowInfo.h"

#include <QTimer>

#include <chrono>
#include <cmath>
#include <limits>

using namespace crosshair;

namespace {

// A badge number without its fraction; the badge shows no negative or unbounded counts.
uint64_t badgeNumber(double value) {
    if (!(value > 0))
        return 0;
    if (value >= double(std::numeric_limits<uint64_t>::max()))
        return std::numeric_limits<uint64_t>::max();
    return uint64_t(value);
}

} // namespace

ImageCaptureCrosshairOverlayView::ImageCaptureCrosshairOverlayView(
    ImageCaptureCrosshairWindowController& controller, OverlayWindow& window, Services services,
    HandleMetrics handles)
    : controller_(controller), window_(window), services_(std::move(services)), handles_(handles) {}

ImageCaptureCrosshairOverlayView::~ImageCaptureCrosshairOverlayView() = default;

CGRect ImageCaptureCrosshairOverlayView::selectionRect() const {
    if (!isMouseDown_ && !isRefiningSelection_)
        return NSZeroRect;
    return rectSpannedBy(initialMouseDown_, currentMouseDown_);
}

CGRect ImageCaptureCrosshairOverlayView::sanitizedSelectionRect() const {
    return sanitizedRect(selectionRect_);
}

void ImageCaptureCrosshairOverlayView::mouseDown(CGPoint p) {
    // The overlay lets the mouse through while counting down; whatever still arrives is not for it.
    if (isDuringCountdown_)
        return;
    isMouseDown_ = true;
    previousMouseDown_ = truncatedPoint(p);
    if (isRefiningSelection_) {
        initialRefinementMouseDown_ = previousMouseDown_;
        initialRefinementRect_ = selectionRect_;
        draggingCorner_ = handleAtPoint(p, selectionRect_, handles_);
        if (draggingCorner_ == kNoCorner)
            isDraggingEntireSelection_ = NSPointInRect(p, selectionRect_);
        if (isDraggingEntireSelection_)
            window_.setCursor(CursorShape::ClosedHand);
        return;
    }
    initialMouseDown_ = previousMouseDown_;
    currentMouseDown_ = previousMouseDown_;
    timedSnap_ = timedSnap_ || services_.isOptionKeyDown();
    window_.setNeedsDisplay();
}

void ImageCaptureCrosshairOverlayView::mouseDragged(CGPoint p, double deltaX, double deltaY) {
    if (isDuringCountdown_ || (deltaX == 0 && deltaY == 0))
        return;
    // A button pressed before the overlay showed drags nothing: the pointer only moves.
    if (!isMouseDown_) {
        mouseMoved(p);
        return;
    }
    const CGPoint pointer = truncatedPoint(p);
    const double dx = pointer.x - previousMouseDown_.x;
    const double dy = pointer.y - previousMouseDown_.y;
    previousMouseDown_ = pointer;

    if (!isRefiningSelection_) {
        currentMouseDown_ = pointReachingScreenEdges(pointer, screensInView());
        const CGRect selection = selectionRect();
        topNumber_ = selection.size.width;
        bottomNumber_ = selection.size.height;
        window_.setNeedsDisplay();
        return;
    }
    if (isDraggingEntireSelection_) {
        selectionRect_ = NSOffsetRect(selectionRect_, dx, dy);
    } else if (draggingCorner_ != kNoCorner) {
        selectionRect_ = resizedRect({initialRefinementRect_, initialRefinementMouseDown_, draggingCorner_,
                                      isRatioLocked_, widthToHeightRatio_},
                                     pointer);
        const CGRect selection = sanitizedSelectionRect();
        topNumber_ = selection.size.width;
        bottomNumber_ = selection.size.height;
    }
    updateResizePanel();
    window_.setNeedsDisplay();
}

void ImageCaptureCrosshairOverlayView::mouseUp(CGPoint p) {
    // The session has ended (a window was captured, the capture was cancelled), or the press went
    // elsewhere before the overlay showed: nothing to finish.
    if (!controller_.isCaptureActive() || isDuringCountdown_ || !isMouseDown_)
        return;
    currentMouseDown_ = truncatedPoint(p);
    if (isRefiningSelection_) {
        // A handle drag that crossed an edge is normalised here.
        selectionRect_ = sanitizedSelectionRect();
    } else {
        currentMouseDown_ = pointReachingScreenEdges(currentMouseDown_, screensInView());
        selectionRect_ = selectionRect();
        timedSnap_ = timedSnap_ || services_.isOptionKeyDown();
    }
    selectionRect_ = withMinimumSize(selectionRect_);
    isMouseDown_ = false;
    isRefiningSelection_ = true;
    isDraggingEntireSelection_ = false;
    draggingCorner_ = kNoCorner;
    controller_.unhideCursorIfHidden();

    // A click (and a selection refined down to 1 x 1) captures the window under the pointer, at once
    // even in a timed capture.
    if (isWindowSnapSize(selectionRect_) && snapWindowUnderMouse())
        return;

    window_.setNeedsDisplay();
    if (timedSnap_) {
        crosshairResizeControllerDidAcceptTimedCapture(nullptr);
        return;
    }
    // The panel comes with the first selection and then stays where the user may have moved it.
    if (!resizePanel())
        showResizePanel();
    updateResizePanel();
    setCursorForPoint(p);
}

void ImageCaptureCrosshairOverlayView::mouseMoved(CGPoint p) {
    if (isDuringCountdown_)
        return;
    if (!isRefiningSelection_) {
        topNumber_ = p.x;
        bottomNumber_ = window_.boundsSize().height - p.y;
        window_.setNeedsDisplay();
        return;
    }
    if (!isDraggingEntireSelection_)
        setCursorForPoint(p);
}

std::vector<CGRect> ImageCaptureCrosshairOverlayView::screensInView() const {
    std::vector<CGRect> screens = services_.screenFrames();
    for (CGRect& s : screens)
        s.origin = window_.convertPointFromScreen(s.origin);
    return screens;
}

void ImageCaptureCrosshairOverlayView::setCursorForPoint(CGPoint p) {
    window_.setCursor(NSPointInRect(p, selectionRect_) ? CursorShape::OpenHand : CursorShape::Arrow);
}

bool ImageCaptureCrosshairOverlayView::snapWindowUnderMouse() {
    window_.orderOut();
    const CGPoint screenPoint = window_.convertPointToScreen(previousMouseDown_);
    const std::optional<glimra::WindowInfo> info = services_.windowInformationForLocation(
        screenPoint, [this](glimra::WindowNumber number) { return window_.ownsWindowNumber(number); },
        window_.windowsAsShown());
    const bool boundsReadable = info && info->bounds.isValid() && std::isfinite(info->bounds.width());
    QImage image;
    if (boundsReadable) {
        // Read as the overlay knows it (its own pixels, or cut from what the user saw), never grabbed
        // from a screen the hidden overlay may still be fading from.
        image = window_.createImageOfWindowAsShown(info->number, info->bounds);
        if (image.isNull())
            image = services_.createCGImageOfWindow(info->number);
    }
    if (image.isNull()) {
        window_.orderFrontRegardless();
        window_.makeKeyWindow();
        return false;
    }
    const bool isHighResolution = double(image.width()) != info->bounds.width();
    controller_.finishCaptureWithImage(
        image, isHighResolution, info->name.isEmpty() ? std::nullopt : std::optional<QString>(info->name));
    isRefiningSelection_ = false;
    return true;
}

void ImageCaptureCrosshairOverlayView::captureSelectionRect() {
    controller_.captureRect(flippedIntoOverlay(sanitizedSelectionRect(), window_.boundsSize().height));
}

void ImageCaptureCrosshairOverlayView::performCaptureSelectionRectAfterDelay() {
    // The overlay has been told to hide; the screen shows it no more by the time this runs.
    QTimer::singleShot(100, &delayedWork_, [this] { captureSelectionRect(); });
}

ImageCaptureCrosshairResizeWindowController* ImageCaptureCrosshairOverlayView::resizePanel() const {
    return controller_.resizeController();
}

void ImageCaptureCrosshairOverlayView::showResizePanel() {
    auto made = controller_.newResizeController();
    ImageCaptureCrosshairResizeWindowController& panel = *made;
    controller_.setResizeController(std::move(made));
    panel.setDelegate(this);
    DarkPanel& w = *panel.window();
    window_.keepPanelAbove(&w);
    // The panel's fields keep the keyboard; its Escape is the way out.
    window_.setCanBecomeKeyWindow(false);
    panel.setMaxCrosshairSize(window_.boundsSize());

    const CGPoint mouse = window_.convertPointToScreen(window_.mouseLocationOutsideOfEventStream());
    w.setFrameOrigin(resizePanelOrigin(mouse, panel.captureButtonFrame()));
    w.setFrameOrigin(resizePanelOriginOnScreens(w.frame(), services_.screenFrames()));
    // Filled before it takes the keyboard, which selects the width to be typed over.
    updateResizePanel();
    w.orderFrontRegardless();
    w.makeKeyWindow();
    w.setAuxiliaryMouseMovedResponder(this);
}

void ImageCaptureCrosshairOverlayView::updateResizePanel() {
    if (ImageCaptureCrosshairResizeWindowController* panel = resizePanel())
        panel->setCrosshairSize(sanitizedSelectionRect().size);
}

void ImageCaptureCrosshairOverlayView::crosshairResizeControllerDidCancel(
    ImageCaptureCrosshairResizeWindowController* /*panel*/) {
    controller_.cancelCapture(nullptr);
}

void ImageCaptureCrosshairOverlayView::crosshairResizeControllerDidAcceptCapture(
    ImageCaptureCrosshairResizeWindowController* panel) {
    if (panel)
        panel->window()->orderOut();
    window_.orderOut();
    performCaptureSelectionRectAfterDelay();
}

void ImageCaptureCrosshairOverlayView::crosshairResizeControllerDidAcceptTimedCapture(
    ImageCaptureCrosshairResizeWindowController* panel) {
    isDuringCountdown_ = true;
    window_.setNeedsDisplay();
    window_.setIgnoresMouseEvents(true);
    if (panel)
        panel->window()->orderOut();
    controller_.setResizeController(nullptr);
    // Shown before the first tick: with no delay left that tick hides the overlay for the grab, which
    // must not bring it back.
    window_.setCanBecomeKeyWindow(true);
    window_.orderFrontRegardless();
    window_.makeKeyWindow();
    controller_.beginCountdown(double(services_.timedSnapDelaySeconds()));
}

void ImageCaptureCrosshairOverlayView::crosshairResizeControllerDidAcceptFullscreenCapture(
    ImageCaptureCrosshairResizeWindowController* /*panel*/) {
    // Hides the overlay and the panel, puts the arrow back and ends the session now.
    const ScreensnapCompletionBlock handler = controller_.endCapture();
    dispatch::dispatch_after(std::chrono::milliseconds(200), dispatch::dispatch_get_main_queue(),
                             [perform = services_.performFullScreenSnapshot, handler] { perform(handler); });
}

void ImageCaptureCrosshairOverlayView::crosshairResizeControllerDidChangeCaptureSize(
    ImageCaptureCrosshairResizeWindowController* /*panel*/, CGSize size) {
    // The handle being dragged decides the size until it is let go.
    if (draggingCorner_ != kNoCorner)
        return;
    selectionRect_ = resizedWithinBounds(selectionRect_, size, window_.boundsSize());
    window_.setNeedsDisplay();
    updateResizePanel();
}

void ImageCaptureCrosshairOverlayView::crosshairResizeControllerDidChangeResizeRatioLock(
    ImageCaptureCrosshairResizeWindowController* /*panel*/, bool locked, double widthToHeightRatio) {
    isRatioLocked_ = locked;
    widthToHeightRatio_ = widthToHeightRatio;
}

double ImageCaptureCrosshairOverlayView::crosshairResizeControllerCurrentWidthToHeightRatio(
    ImageCaptureCrosshairResizeWindowController* /*panel*/) {
    return widthToHeightRatio_;
}

void ImageCaptureCrosshairOverlayView::darkPanelWindowDidMouseMove(DarkPanel* panel, QMouseEvent* event) {
    if (!isRefiningSelection_ || isDraggingEntireSelection_ || !panel)
        return;
    setCursorForPoint(
        window_.convertPointFromScreen(panel->convertPointToScreen(panel->locationInWindow(event))));
}

void ImageCaptureCrosshairOverlayView::setTimerImage(const QImage& image) {
    timerImage_ = image;
    window_.setNeedsDisplayInRect(timerDisplayRect());
}

CGRect ImageCaptureCrosshairOverlayView::timerDisplayRect() const {
    return crosshair::timerDisplayRect(sanitizedSelectionRect());
}

OverlayDrawState ImageCaptureCrosshairOverlayView::drawState() const {
    OverlayDrawState state;
    state.topNumber = badgeNumber(topNumber_);
    state.bottomNumber = badgeNumber(bottomNumber_);
    state.cropHandleSize = handles_.size;
    state.cropHandleCenter = handles_.center;
    if (!isRefiningSelection_) {
        state.mode = isMouseDown_ ? OverlayDrawState::Mode::FirstDrag : OverlayDrawState::Mode::Idle;
        state.selection = isMouseDown_ ? selectionRect() : NSZeroRect;
        return state;
    }
    state.selection = sanitizedSelectionRect();
    if (!isDuringCountdown_) {
        state.mode = OverlayDrawState::Mode::Refining;
        return state;
    }
    state.mode = OverlayDrawState::Mode::Countdown;
    state.timerImage = timerImage_;
    state.timerDisplayRect = timerDisplayRect();
    return state;
}
