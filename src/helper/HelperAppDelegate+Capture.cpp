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
        completionBlock(false));
}

void HelperAppDelegate::previousCrosshairSnapshot() {
    startCapture(
        [](ScreensnapManager& manager, ScreensnapCompletionBlock block) {
            manager.performCrosshairSnapshotOfPreviousAreaWithCompletionBlock(std::move(block));
        },
        completionBlock(false));
}

void HelperAppDelegate::fullscreenSnapshot() {
    startCapture(
        [](ScreensnapManager& manager, ScreensnapCompletionBlock block) {
            manager.performFullScreenSnapshotWithCompletionBlock(block);
        },
        completionBlock(true));
}

// The full-screen capture images the screen under the mouse, which is what "all screens" means here.
void HelperAppDelegate::allScreenSnapshot() {
    fullscreenSnapshot();
}

void HelperAppDelegate::startCapture(const Perform& perform, ScreensnapCompletionBlock block) {
    ScreensnapManager& manager = ScreensnapManager::sharedManager();
    if (manager.isSnapping()) {
        glimra::NSBeep();
        return;
    }
    if (!isMainAppRunning()) {
        perform(manager, std::move(block));
        return;
    }
    xpc_object_t request = xpc_dictionary_create();
    xpc_dictionary_set_uint64(request, kXPCMessageIdentifierKey, kXPCMessageRequestScreenSnap);
    std::weak_ptr<HelperAppDelegate> weak = shared_from_this();
    dispatch_async(_xpc_dispatch_queue, [weak, request, perform, block = std::move(block)]() mutable {
        auto self = weak.lock();
        if (!self)
            return;
        const xpc_connection_t peer = self->peerConnection();
        // A main application that runs but has not connected gets no say, and no capture happens.
        if (!peer)
            return;
        xpc_connection_send_message_with_reply(
            peer, request, dispatch_get_main_queue(),
            [perform, block = std::move(block)](xpc_object_t reply) mutable {
                const bool allowed = xpc_get_type(reply) == xpc_type_t::Dictionary &&
                                     xpc_dictionary_get_bool(reply, kXPCBooleanKey);
                if (!allowed) {
                    glimra::NSBeep();
                    ScreensnapManager::sharedManager().setSnapping(false);
                    return;
                }
                dispatch_async(dispatch_get_main_queue(), [perform, block = std::move(block)]() mutable {
                    perform(ScreensnapManager::sharedManager(), std::move(block));
                });
            });
    });
}

ScreensnapCompletionBlock HelperAppDelegate::completionBlock(bool fullScreen) {
    auto self = shared_from_this();
    return [self, fullScreen](bool success, const QImage& image, bool isHighResolution,
                              const std::optional<QString>& title, const glimra::NSError* error) {
        ScreensnapManager& manager = ScreensnapManager::sharedManager();
        if (!success) {
            dispatch_async(dispatch_get_main_queue(), [self] {
                self->showGlimraAppByLaunching(false, false);
                ScreensnapManager::sharedManager().setSnapping(false);
            });
            NSLog("Error: %@", error ? error->localizedDescription : QStringLiteral("(null)"));
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
        const PointSize size = screenshotPointSize(image.size(), isHighResolution);
        self->sendScreenshot(image, size.width, size.height, docTitle);
        manager.setSnapping(false);
    };
}
