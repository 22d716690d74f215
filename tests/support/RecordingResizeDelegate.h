#pragma once
// A resize panel's delegate that writes down what the panel tells it, in order, and acts as the
// overlay view does where a test needs it: it keeps the ratio it is told and can push every size
// change back into the panel.

#include "ImageCaptureCrosshairResizeWindowController.h"

#include <QString>

#include <vector>

namespace glimra::test {

class RecordingResizeDelegate final : public ImageCaptureCrosshairResizeProtocol {
public:
    // "cancel", "capture", "timer", "fullscreen", "size 640x480", "lock 1 0.75"
    std::vector<QString> messages;
    double ratio = 0;
    bool pushesSizeBack = false;

    void crosshairResizeControllerDidCancel(ImageCaptureCrosshairResizeWindowController*) override {
        messages.push_back(QStringLiteral("cancel"));
    }
    void crosshairResizeControllerDidAcceptCapture(ImageCaptureCrosshairResizeWindowController*) override {
        messages.push_back(QStringLiteral("capture"));
    }
    void
    crosshairResizeControllerDidAcceptTimedCapture(ImageCaptureCrosshairResizeWindowController*) override {
        messages.push_back(QStringLiteral("timer"));
    }
    void crosshairResizeControllerDidAcceptFullscreenCapture(
        ImageCaptureCrosshairResizeWindowController*) override {
        messages.push_back(QStringLiteral("fullscreen"));
    }
    void crosshairResizeControllerDidChangeCaptureSize(ImageCaptureCrosshairResizeWindowController* panel,
                                                       CGSize size) override {
        messages.push_back(QStringLiteral("size %1x%2").arg(size.width).arg(size.height));
        if (pushesSizeBack)
            panel->setCrosshairSize(size);
    }
    void crosshairResizeControllerDidChangeResizeRatioLock(ImageCaptureCrosshairResizeWindowController*,
                                                           bool locked, double widthToHeightRatio) override {
        ratio = widthToHeightRatio;
        messages.push_back(QStringLiteral("lock %1 %2").arg(int(locked)).arg(widthToHeightRatio));
    }
    double crosshairResizeControllerCurrentWidthToHeightRatio(
        ImageCaptureCrosshairResizeWindowController*) override {
        return ratio;
    }
};

} // namespace glimra::test
