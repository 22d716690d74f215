#include "ImageCaptureCrosshairWindowController.h"

#include "ImageCaptureManagerError.h"
#include "ScreensnapManager.h"
#include "sound/NSBeep.h"

ImageCaptureCrosshairWindowController::ImageCaptureCrosshairWindowController() = default;

void ImageCaptureCrosshairWindowController::beginCaptureAsTimed(bool timed,
                                                                ScreensnapCompletionBlock completionHandler) {
    (void)timed;
    if (isCaptureActive_) {
        glimra::NSBeep();
        return;
    }
    isCaptureActive_ = true;
    completionHandler_ = std::move(completionHandler);
    // The interactive overlay is not part of this build yet: the capture ends as if cancelled.
    cancelCapture(nullptr);
}

void ImageCaptureCrosshairWindowController::beginCaptureWithCompletionHandler(
    ScreensnapCompletionBlock completionHandler) {
    beginCaptureAsTimed(false, std::move(completionHandler));
}

void ImageCaptureCrosshairWindowController::beginTimedCaptureWithCompletionHandler(
    ScreensnapCompletionBlock completionHandler) {
    beginCaptureAsTimed(true, std::move(completionHandler));
}

void ImageCaptureCrosshairWindowController::beginCapturePreviousAreaWithCompletionHandler(
    ScreensnapCompletionBlock completionHandler) {
    completionHandler_ = std::move(completionHandler);
    if (_previousRect.isNull()) {
        cancelCapture(nullptr);
        return;
    }
    // Already in global display coordinates: no overlay offset applies.
    captureGlobalRect(_previousRect);
}

void ImageCaptureCrosshairWindowController::captureRect(const QRectF& r) {
    isCaptureActive_ = false;
    captureGlobalRect(r.translated(displayOffset_));
}

void ImageCaptureCrosshairWindowController::captureGlobalRect(const QRectF& r) {
    // Taken out first: the block may start the next capture.
    ScreensnapCompletionBlock handler = std::move(completionHandler_);
    completionHandler_ = nullptr;
    if (r.width() == 0 || r.height() == 0) {
        const glimra::NSError error = ImageCaptureManagerError::zeroDimensionError();
        if (handler)
            handler(false, QImage(), false, std::nullopt, &error);
        return;
    }
    _previousRect = r;
    hasPreviousRect_.store(true);
    const QImage image = ScreensnapManager::sharedManager().createCGImageOfRect(r);
    if (handler)
        handler(true, image, double(image.width()) != r.width(), std::nullopt, nullptr);
}

void ImageCaptureCrosshairWindowController::cancelCapture(const glimra::NSError* error) {
    isCaptureActive_ = false;
    ScreensnapCompletionBlock handler = std::move(completionHandler_);
    completionHandler_ = nullptr;
    if (handler)
        handler(false, QImage(), false, std::nullopt, error);
}
