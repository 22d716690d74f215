#pragma once
// Runs the crosshair capture: one capture at a time, exactly one report to the caller's block, and
// the memory of the last captured rectangle for the previous-area capture.

#include "NSError.h"
#include "ScreensnapCompletionBlock.h"

#include <QRectF>

#include <atomic>

class ImageCaptureCrosshairWindowController {
public:
    ImageCaptureCrosshairWindowController();

    // A rectangle was captured before. Safe to ask from any thread.
    bool canSnapPreviousArea() const { return hasPreviousRect_.load(); }

    void beginCaptureAsTimed(bool timed, ScreensnapCompletionBlock completionHandler);
    void beginCaptureWithCompletionHandler(ScreensnapCompletionBlock completionHandler);
    void beginTimedCaptureWithCompletionHandler(ScreensnapCompletionBlock completionHandler);
    void beginCapturePreviousAreaWithCompletionHandler(ScreensnapCompletionBlock completionHandler);

    // r in overlay coordinates: the overlay's display offset turns it into global display coordinates.
    void captureRect(const QRectF& r);
    void cancelCapture(const glimra::NSError* error);

    bool isCaptureActive() const { return isCaptureActive_; }
    QRectF previousRect() const { return _previousRect; }

private:
    // Grabs r (global display coordinates) and reports it; remembers it when it is not empty.
    void captureGlobalRect(const QRectF& r);

    QRectF _previousRect;
    std::atomic<bool> hasPreviousRect_{false};
    ScreensnapCompletionBlock completionHandler_;
    bool isCaptureActive_ = false;
    // Where the overlay's top-left corner lies in global display coordinates.
    QPointF displayOffset_;
};
