#pragma once
// What the resize panel tells whoever refines the selection (the overlay view), and the one thing it
// asks: every decision of the user (capture, timed capture, full screen, cancel), every size change
// and the ratio lock. The ratio is the height divided by the width: a width times it gives the
// matching height.
//
// The panel holds its delegate weakly: it never keeps it alive, and once the delegate is destroyed
// every message to it is dropped (the ratio reads as 0). That needs nothing of the delegate but
// deriving from this class, whose anchor the panel watches; a copy of a delegate is another object
// with an anchor of its own.

#include "CGGeometry.h"

#include <memory>

class ImageCaptureCrosshairResizeWindowController;

class ImageCaptureCrosshairResizeProtocol {
public:
    virtual void
    crosshairResizeControllerDidCancel(ImageCaptureCrosshairResizeWindowController* controller) = 0;
    virtual void
    crosshairResizeControllerDidAcceptCapture(ImageCaptureCrosshairResizeWindowController* controller) = 0;
    // The overlay view sends this to itself too, with nullptr, when a timed capture needs no panel.
    virtual void crosshairResizeControllerDidAcceptTimedCapture(
        ImageCaptureCrosshairResizeWindowController* controller) = 0;
    virtual void crosshairResizeControllerDidAcceptFullscreenCapture(
        ImageCaptureCrosshairResizeWindowController* controller) = 0;
    virtual void
    crosshairResizeControllerDidChangeCaptureSize(ImageCaptureCrosshairResizeWindowController* controller,
                                                  CGSize size) = 0;
    virtual void
    crosshairResizeControllerDidChangeResizeRatioLock(ImageCaptureCrosshairResizeWindowController* controller,
                                                      bool locked, double widthToHeightRatio) = 0;
    virtual double crosshairResizeControllerCurrentWidthToHeightRatio(
        ImageCaptureCrosshairResizeWindowController* controller) = 0;

protected:
    ImageCaptureCrosshairResizeProtocol() = default;
    ImageCaptureCrosshairResizeProtocol(const ImageCaptureCrosshairResizeProtocol&) {}
    ImageCaptureCrosshairResizeProtocol& operator=(const ImageCaptureCrosshairResizeProtocol&) {
        return *this;
    }
    ~ImageCaptureCrosshairResizeProtocol() = default;

private:
    friend class ImageCaptureCrosshairResizeWindowController;
    // Lives exactly as long as the delegate; weak references to the delegate are weak references to it.
    std::shared_ptr<ImageCaptureCrosshairResizeProtocol*> weakAnchor_ =
        std::make_shared<ImageCaptureCrosshairResizeProtocol*>(this);
};
