#pragma once
// Runs the crosshair capture: one capture at a time, from the command that starts it to exactly one
// report to the caller's block. It shows a new overlay (window and view) for every interactive
// capture, hides the cursor, keeps the crosshair following the mouse over other applications while
// the helper is inactive, counts a timed capture down with digits and a tick, grabs the selected
// rectangle, and remembers it for the previous-area capture.
//
// Coordinates: the overlay hands over rectangles in overlay coordinates (points, origin at the
// top-left of the bounding box of all screens, y down); adding the overlay window's displayOffset
// gives global display coordinates (origin at the main screen's top-left, y down), which the grab
// and the previous area use. All calls on the main thread, except canSnapPreviousArea().

#include "CGGeometry.h"
#include "CrosshairOverlayContract.h"
#include "ImageCaptureCrosshairOverlayView.h"
#include "NSError.h"
#include "ScreensnapCompletionBlock.h"
#include "hotkeys/CarbonEvents.h"

#include <QImage>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QTimer;
class ImageCaptureCrosshairResizeWindowController;

class ImageCaptureCrosshairWindowController {
public:
    // What a capture needs from the desktop. Every member must be set; the running helper's come from
    // ScreensnapManager, tests replace the ones they observe.
    struct Services {
        // A new overlay window for each interactive capture. Left empty, an interactive capture ends
        // at once as cancelled (a desktop without the overlay).
        std::function<std::unique_ptr<OverlayWindow>()> makeOverlayWindow;
        // The system cursor, hidden and shown again desktop-wide.
        std::function<void()> hideCursor;
        std::function<void()> unhideCursor;
        std::function<void()> beep;
        // Everything on screen in a rectangle of global display coordinates, in device pixels, to the
        // handler (exactly once, on the main thread, at once or later; null when there is none).
        std::function<void(const CGRect& rect, std::function<void(QImage)> done)> createCGImageOfRect;
        // Whether the helper is the active application (then the overlay gets the mouse directly).
        std::function<bool()> isApplicationActive;
        // Seconds on a clock that does not jump.
        std::function<double()> now;
        // The digit shown with `seconds` left, at the screens' scale; null when there is none.
        std::function<QImage(long seconds)> countdownImage;
        // One tick of the countdown sound, restarted when the last one still plays.
        std::function<void()> playCountdownTick;
        // The width in points of the handle image; 0 when there is none.
        std::function<double()> cropHandleWidth;
        ImageCaptureCrosshairOverlayView::Services view;
    };

    explicit ImageCaptureCrosshairWindowController(Services services);
    ~ImageCaptureCrosshairWindowController();
    ImageCaptureCrosshairWindowController(const ImageCaptureCrosshairWindowController&) = delete;
    ImageCaptureCrosshairWindowController& operator=(const ImageCaptureCrosshairWindowController&) = delete;

    // A rectangle was captured before. Safe to ask from any thread.
    bool canSnapPreviousArea() const { return hasPreviousRect_.load(); }

    // Beeps and drops the block (never calling it) while a capture runs.
    void beginCaptureAsTimed(bool timed, ScreensnapCompletionBlock completionHandler);
    void beginCaptureWithCompletionHandler(ScreensnapCompletionBlock completionHandler);
    void beginTimedCaptureWithCompletionHandler(ScreensnapCompletionBlock completionHandler);
    // The last captured rectangle again, without any window; reports as cancelled when there is none.
    void beginCapturePreviousAreaWithCompletionHandler(ScreensnapCompletionBlock completionHandler);

    // Grabs r (overlay coordinates) and ends the capture; an empty r reports zeroDimensionError.
    void captureRect(const CGRect& r);
    // Ends whatever runs (harmless when nothing does); the block gets NO with error.
    void cancelCapture(const glimra::NSError* error);
    // Ends the capture with an image found by the overlay itself (a clicked window).
    void finishCaptureWithImage(const QImage& image, bool isHighResolution,
                                const std::optional<QString>& title);
    // Ends the capture without reporting: stops the monitor and the countdown, hides and lets go of
    // the overlay and the resize panel, and returns the block still owed its one report (the
    // full-screen choice hands it on).
    ScreensnapCompletionBlock endCapture();

    // The countdown of a timed capture: ticks every 0.1 s from now on (the first one at once) and
    // grabs 0.1 s after the deadline. A delay of 0 or less grabs on the first tick.
    void beginCountdown(double delaySeconds);
    void countdownTimerFired();

    // The mouse monitor that keeps the crosshair moving while another application is active.
    void installBackgroundEventHandler();
    void removeBackgroundEventHandler();

    bool isCaptureActive() const { return isCaptureActive_; }
    bool isCursorHidden() const { return isCursorHidden_; }
    // Shows the cursor hidden at the start (once per capture).
    void unhideCursorIfHidden();
    long snapPartialSecondsRemaining() const { return snapPartialSecondsRemaining_; }
    CGRect previousRect() const { return previousRect_; }
    // The overlay of the running capture, or nullptr.
    OverlayWindow* window() const { return window_.get(); }
    ImageCaptureCrosshairOverlayView* contentView() const { return view_.get(); }
    // The resize panel of the running capture (the view makes it after the first selection), or
    // nullptr.
    ImageCaptureCrosshairResizeWindowController* resizeController() const { return resizeController_.get(); }
    // Replaces the panel. The one let go of is hidden at once and its window goes once the event loop
    // comes round, so the panel may be let go of from inside its own actions.
    void setResizeController(std::unique_ptr<ImageCaptureCrosshairResizeWindowController> controller);
    // A new panel for the running capture: the one readied beforehand, or one made now.
    std::unique_ptr<ImageCaptureCrosshairResizeWindowController> newResizeController();
    // Readies a panel for the next capture that needs one (in a widget application only), so that
    // making it (its form, artwork and fitting, some 15 to 30 ms) does not fall between letting go of
    // the mouse and the panel showing. Done at start-up and whenever a capture has used the last one.
    void prepareResizeController();

private:
    // Grabs r (global display coordinates), unless the overlay has shown it already; ends the capture
    // and reports it.
    void captureGlobalRect(const CGRect& r, const QImage& shown);
    void releaseOverlayLater();

    Services services_;
    CGRect previousRect_;
    std::atomic<bool> hasPreviousRect_{false};
    carbon::EventHandlerRef backgroundEventHandlerRef_ = nullptr;
    ScreensnapCompletionBlock completionHandler_;
    bool isCaptureActive_ = false;
    bool isCursorHidden_ = false;
    long snapPartialSecondsRemaining_ = 0;
    double snapTime_ = 0;
    std::unique_ptr<QTimer> snapCountdownTimer_;
    std::unique_ptr<OverlayWindow> window_;
    std::unique_ptr<ImageCaptureCrosshairOverlayView> view_;
    // Declared after the view it reports to, so it goes first.
    std::unique_ptr<ImageCaptureCrosshairResizeWindowController> resizeController_;
    std::unique_ptr<ImageCaptureCrosshairResizeWindowController> preparedResizeController_;
    // Overlays of ended captures, released once the calls that ended them have returned.
    std::vector<std::pair<std::unique_ptr<OverlayWindow>, std::unique_ptr<ImageCaptureCrosshairOverlayView>>>
        released_;
    // Delayed work dies with the controller (declared last, so it goes first).
    QObject delayedWork_;
};

// The Carbon handler of the mouse monitor: moves reach the view (user data) as mouseMoved at the
// pointer's location; the other kinds go on to the next handler.
carbon::OSStatus CrosshairOverlayBackgroundEventHandler(carbon::EventHandlerCallRef nextHandler,
                                                        carbon::EventRef event, void* userData);
