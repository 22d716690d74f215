// The five global hot keys.

#include "HelperAppDelegate.h"
#include "Log.h"
#include "ScreensnapManager.h"
#include "hotkeys/CarbonEvents.h"
#include "sound/NSBeep.h"

#include <exception>

using namespace carbon;

namespace {

constexpr OSType kHotKeySignature = makeFourCharCode("GlHk");

struct HotKey {
    UInt32 keyCode;
    UInt32 modifiers;
    UInt32 id;
    const char* failure;
};

// In order of registration.
constexpr HotKey kHotKeys[] = {
    {kVK_ANSI_5, cmdKey | shiftKey, 1, "Could not register the screen snap hot key.  Error = %d"},
    {kVK_ANSI_5, cmdKey | shiftKey | optionKey, 2,
     "Could not register the previous area snap hot key.  Error = %d"},
    {kVK_ANSI_5, cmdKey | shiftKey | controlKey, 5, "Could not register the timed snap hot key.  Error = %d"},
    {kVK_ANSI_6, cmdKey | shiftKey, 3, "Could not register the fullscreen snap hot key.  Error = %d"},
    {kVK_ANSI_1, cmdKey | shiftKey | optionKey, 4, "Could not register the show Glimra hot key.  Error = %d"},
};

} // namespace

OSStatus GlobalHotKeyHandler(EventHandlerCallRef, EventRef event, void* userData) {
    auto* delegate = static_cast<HelperAppDelegate*>(userData);
    EventHotKeyID hotKeyID{};
    const OSStatus status = GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr,
                                              sizeof(hotKeyID), nullptr, &hotKeyID);
    if (status != noErr || hotKeyID.signature != kHotKeySignature || hotKeyID.id < 1 || hotKeyID.id > 5 ||
        !delegate)
        return noErr;
    try {
        switch (hotKeyID.id) {
        case 1:
            delegate->crosshairSnapshot();
            break;
        case 2:
            if (ScreensnapManager::sharedManager().canSnapPreviousArea())
                delegate->previousCrosshairSnapshot();
            else
                glimra::NSBeep();
            break;
        case 3:
            delegate->fullscreenSnapshot();
            break;
        case 4:
            delegate->showGlimraAppByLaunching(true, true);
            break;
        case 5:
            delegate->timedSnapshot();
            break;
        }
    } catch (const std::exception& exception) {
        NSLog("GlobalHotKeyHandler() caught exception: %@", exception.what());
    } catch (...) {
        NSLog("GlobalHotKeyHandler() caught exception: %@", "unknown exception");
    }
    return noErr;
}

namespace {

// Captures fire on the release; the press comes a tenth of a second or so before it, time enough to
// ready the grab buffers the helper let go while it was quiet.
OSStatus HotKeyPressedHandler(EventHandlerCallRef, EventRef event, void* userData) {
    EventHotKeyID hotKeyID{};
    if (GetEventParameter(event, kEventParamDirectObject, typeEventHotKeyID, nullptr, sizeof(hotKeyID),
                          nullptr, &hotKeyID) == noErr &&
        hotKeyID.signature == kHotKeySignature && hotKeyID.id != 4 && userData)
        static_cast<HelperAppDelegate*>(userData)->rewarmBuffers();
    return noErr;
}

} // namespace

void HelperAppDelegate::grabEscapeKey(std::shared_ptr<AcceptedCapture> capture) {
    escapeCancels_ = std::move(capture);
    if (escapeKey_ && !escapeKey_->grab([this] { cancelCaptureByEscape(); }))
        NSLog(
            "Could not grab the Escape key: it cancels the capture only while the capture's windows have the "
            "keyboard");
}

void HelperAppDelegate::releaseEscapeKey() {
    escapeCancels_.reset();
    if (escapeKey_)
        escapeKey_->release();
}

void HelperAppDelegate::installHotKeys() {
    escapeKey_ = glimra::makeEscapeKey();
    const EventTypeSpec eventType{kEventClassKeyboard, kEventHotKeyReleased};
    OSStatus status =
        InstallEventHandler(GetApplicationEventTarget(), &GlobalHotKeyHandler, 1, &eventType, this, nullptr);
    if (status != noErr) {
        NSLog("Could not install hot key handler.  Error = %d", status);
        return;
    }
    const EventTypeSpec pressed{kEventClassKeyboard, kEventHotKeyPressed};
    InstallEventHandler(GetApplicationEventTarget(), &HotKeyPressedHandler, 1, &pressed, this, nullptr);
    for (const HotKey& hotKey : kHotKeys) {
        EventHotKeyRef reference = nullptr;
        status =
            RegisterEventHotKey(hotKey.keyCode, hotKey.modifiers, EventHotKeyID{kHotKeySignature, hotKey.id},
                                GetApplicationEventTarget(), 0, &reference);
        if (status != noErr)
            NSLog(hotKey.failure, status);
        else
            ++registeredHotKeys_;
    }
}
