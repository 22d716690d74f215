// The capture commands: refuse while a capture runs, ask a running main application for
// permission, start the capture, and turn its result into a screenshot message.

#include "Bundle.h"
#include "HelperAppDelegate.h"
#include "Log.h"
#include "ScreenshotMessage.h"
#include "ScreensnapManager.h"
#include "SharedHelperCommunication.h"
#include "sound/NSBeep.h"
#include "sound/NSSound.h"

using namespace xpc;
using dispatch::dispatch_async;
using dispatch::dispatch_get_main_queue;

void HelperAppDelegate::crosshairSnapshot() {
    crosshairSnapshotAsTimed(false);
}

void HelperAppDelegate::timedSnapshot() {
    crosshairSnapshotAsTimed(true);
}

void HelperAppDelegate::crosshairSnapshotAsTimed(bool timed) {
    startCapture(
        [timed](ScreensnapManager& manager, ScreensnapCompletionBlock block) {
            if (timed)
                manager.performTimedCrosshairSnapshotWithCompletionBlock(std::move(block));
            else
                manager.performCrosshairSnapshotWithCompletionBlock(std::move(block));
        },
        completionBlock(false), true);
}

void HelperAppDelegate::previousCrosshairSnapshot() {
    startCapture(
        [](ScreensnapManager& manager, ScreensnapCompletionBlock block) {
            manager.performCrosshairSnapshotOfPreviousAreaWithCompletionBlock(std::move(block));
        },
        completionBlock(false), false);
}

void HelperAppDelegate::fullscreenSnapshot() {
    startCapture(
        [](ScreensnapManager& manager, ScreensnapCompletionBlock block) {
            manager.performFullScreenSnapshotWithCompletionBlock(block);
        },
        completionBlock(true), false);
}

// The full-screen capture images the screen under the mouse, which is what "all screens" means here.
void HelperAppDelegate::allScreenSnapshot() {
    fullscreenSnapshot();
}

void HelperAppDelegate::startCapture(const Perform& perform, ScreensnapCompletionBlock block,
                                     bool interactive) {
    ScreensnapManager& manager = ScreensnapManager::sharedManager();
    if (manager.isSnapping()) {
        glimra::NSBeep();
        return;
    }
    // In progress from here on, also while the main application is asked: a second capture started
    // meanwhile would photograph this one's overlay.
    manager.setSnapping(true);
    auto capture = std::make_shared<AcceptedCapture>(AcceptedCapture{perform, std::move(block)});
    if (interactive)
        grabEscapeKey(capture);
    if (!isMainAppRunning()) {
        performAcceptedCapture(*capture);
        return;
    }
    xpc_object_t request = xpc_dictionary_create();
    xpc_dictionary_set_uint64(request, kXPCMessageIdentifierKey, kXPCMessageRequestScreenSnap);
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    dispatch_async(_xpc_dispatch_queue, [weak, request, capture] {
        auto self = weak.lock();
        if (!self)
            return;
        const xpc_connection_t peer = self->peerConnection();
        // A main application that runs but has not connected gets no say, and no capture happens.
        if (!peer) {
            dispatch_async(dispatch_get_main_queue(),
                           [self, capture] { self->dropAcceptedCapture(*capture); });
            return;
        }
        xpc_connection_send_message_with_reply(
            peer, request, dispatch_get_main_queue(), [weak, capture](xpc_object_t reply) {
                // Escape may have cancelled it while the main application thought it over.
                auto self = weak.lock();
                if (!self || !capture->block)
                    return;
                const bool allowed = xpc_get_type(reply) == xpc_type_t::Dictionary &&
                                     xpc_dictionary_get_bool(reply, kXPCBooleanKey);
                if (!allowed) {
                    glimra::NSBeep();
                    self->dropAcceptedCapture(*capture);
                    return;
                }
                dispatch_async(dispatch_get_main_queue(),
                               [self, capture] { self->performAcceptedCapture(*capture); });
            });
    });
}

void HelperAppDelegate::performAcceptedCapture(AcceptedCapture& capture) {
    if (!capture.block)
        return;
    capture.perform(ScreensnapManager::sharedManager(), std::exchange(capture.block, nullptr));
}

void HelperAppDelegate::dropAcceptedCapture(AcceptedCapture& capture) {
    if (!capture.block)
        return;
    capture.block = nullptr;
    releaseEscapeKey();
    ScreensnapManager::sharedManager().setSnapping(false);
}

void HelperAppDelegate::cancelCaptureByEscape() {
    const std::shared_ptr<AcceptedCapture> capture = escapeCancels_;
    if (!capture)
        return;
    // Before the capture has started it ends here, as a cancelled capture does; the answer of the main
    // application then finds nothing to start.
    if (capture->block)
        std::exchange(capture->block, nullptr)(false, QImage(), false, std::nullopt, nullptr);
    else
        ScreensnapManager::sharedManager().crosshairWindowController().cancelCapture(nullptr);
}

ScreensnapCompletionBlock HelperAppDelegate::completionBlock(bool fullScreen) {
    std::weak_ptr<HelperAppDelegate> weak = weak_from_this();
    return [weak, fullScreen](bool success, const QImage& image, bool isHighResolution,
                              const std::optional<QString>& title, const glimra::NSError* error) {
        if (auto self = weak.lock())
            self->releaseEscapeKey();
        ScreensnapManager& manager = ScreensnapManager::sharedManager();
        if (!success) {
            dispatch_async(dispatch_get_main_queue(), [weak] {
                if (auto self = weak.lock())
                    self->showGlimraAppByLaunching(false, false);
                ScreensnapManager::sharedManager().setSnapping(false);
            });
            // A capture without an error was cancelled (Escape, the panel's Cancel, the main application's
            // no), or is a full screen the display server gave no picture of, which it logged itself.
            if (error)
                NSLog("Error: %@", error->localizedDescription);
            else if (fullScreen)
                NSLog("The full-screen capture gave no picture");
            else
                NSLog("The capture was cancelled");
            return;
        }
        dispatch_async(dispatch_get_main_queue(), [] {
            if (auto sound = glimra::NSSound::soundNamed(QStringLiteral("snap")))
                sound->play();
        });
        std::optional<QString> docTitle = title;
        if (!docTitle && !fullScreen)
            docTitle = glimra::Bundle::mainBundle().localizedStringWithFormat(
                QT_TRANSLATE_NOOP("Localizable", "Screenshot %@"), shortDateTimeString());
        // A grab says the scale it took the image at; one without says nothing, and halving stands.
        const PointSize size = screenshotPointSize(
            image.size(), isHighResolution, image.devicePixelRatio() > 1.0 ? image.devicePixelRatio() : 2.0);
        if (auto self = weak.lock())
            self->sendScreenshot(image, size.width, size.height, docTitle);
        manager.setSnapping(false);
    };
}
