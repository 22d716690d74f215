// The five global hot keys.

#include "HelperAppDelegate.h"
#include "Log.h"
#include "ScreensnapManager.h"
#include "StatusMenu.h"
#include "hotkeys/CarbonEvents.h"
#include "hotkeys/HotKeyCenter.h"
#include "hotkeys/HotKeyNames.h"
#include "sound/NSBeep.h"

#include <exception>

using namespace carbon;

namespace {

constexpr OSType kHotKeySignature = makeFourCharCode("GlHk");

struct HotKey {
    UInt32 keyCode;
    UInt32 modifiers;
    UInt32 id;
    StatusMenuAction item; // the menu item that shows it
    const char* failure;
};

// In order of registration.
constexpr HotKey kHotKeys[] = {
    {kVK_ANSI_5, cmdKey | shiftKey, 1, StatusMenuAction::CrosshairSnapshot,
     "Could not register the screen snap hot key.  Error = %d"},
    {kVK_ANSI_5, cmdKey | shiftKey | optionKey, 2, StatusMenuAction::PreviousCrosshairSnapshot,
     "Could not register the previous area snap hot key.  Error = %d"},
    {kVK_ANSI_5, cmdKey | shiftKey | controlKey, 5, StatusMenuAction::TimedSnapshot,
     "Could not register the timed snap hot key.  Error = %d"},
    {kVK_ANSI_6, cmdKey | shiftKey, 3, StatusMenuAction::FullscreenSnapshot,
     "Could not register the fullscreen snap hot key.  Error = %d"},
    {kVK_ANSI_1, cmdKey | shiftKey | optionKey, 4, StatusMenuAction::ShowGlimra,
     "Could not register the show Glimra hot key.  Error = %d"},
};

// The status in words, with the keys as the layout in use shows them: the number alone tells a user
// nothing.
QString statusInWords(OSStatus status, const HotKey& hotKey) {
    const QString keys = glimra::hotkeys::describeHotKey(hotKey.keyCode, hotKey.modifiers,
                                                         HotKeyCenter::application().layout());
    switch (status) {
    case eventHotKeyExistsErr:
        return QStringLiteral("%1 is held by another program or by the desktop's own settings").arg(keys);
    case eventInternalErr:
        return QStringLiteral("the desktop takes no hot keys for %1 now").arg(keys);
    case eventHotKeyInvalidErr:
        return QStringLiteral("%1 is no key this keyboard has").arg(keys);
    default:
        return QStringLiteral("%1 could not be taken").arg(keys);
    }
}

glimra::hotkeys::HotKeyAction actionOf(const HotKey& hotKey) {
    return glimra::hotkeys::hotKeyAction(EventHotKeyID{kHotKeySignature, hotKey.id}, hotKey.keyCode,
                                         hotKey.modifiers);
}

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
        delegate->performHotKeyCommand(hotKeyID.id);
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

void HelperAppDelegate::performHotKeyCommand(UInt32 id) {
    switch (id) {
    case 1:
        crosshairSnapshot();
        break;
    case 2:
        if (ScreensnapManager::sharedManager().canSnapPreviousArea())
            previousCrosshairSnapshot();
        else
            glimra::NSBeep();
        break;
    case 3:
        fullscreenSnapshot();
        break;
    case 4:
        showGlimraAppByLaunching(true, true);
        break;
    case 5:
        timedSnapshot();
        break;
    }
}

std::vector<std::string> HelperAppDelegate::actionNames() {
    std::vector<std::string> names;
    for (const HotKey& hotKey : kHotKeys)
        names.push_back(actionOf(hotKey).name.toStdString());
    return names;
}

void HelperAppDelegate::activateAction(const std::string& name) {
    for (const HotKey& hotKey : kHotKeys)
        if (actionOf(hotKey).name.toStdString() == name) {
            try {
                performHotKeyCommand(hotKey.id);
            } catch (const std::exception& exception) {
                NSLog("The action %@ caught exception: %@", name, exception.what());
            }
            return;
        }
}

std::vector<glimra::hotkeys::HotKeyCommand> HelperAppDelegate::hotKeyCommands() {
    std::vector<glimra::hotkeys::HotKeyCommand> commands;
    for (const HotKey& hotKey : kHotKeys)
        commands.push_back({hotKey.keyCode, hotKey.modifiers, actionOf(hotKey)});
    return commands;
}

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

void HelperAppDelegate::nameHotKeysInMenu() {
    if (!statusMenu)
        return;
    const glimra::hotkeys::KeyboardLayout& layout = HotKeyCenter::application().layout();
    for (QAction* item : statusMenu->actions())
        for (const HotKey& hotKey : kHotKeys)
            if (menuItemAction(item) == hotKey.item) {
                // Shown for reference; the global hot keys do the work, so the menu must not grab them.
                item->setShortcut(glimra::hotkeys::keySequence(hotKey.keyCode, hotKey.modifiers, layout));
                item->setShortcutContext(Qt::WidgetShortcut);
            }
}

void HelperAppDelegate::installHotKeys() {
    escapeKey_ = glimra::makeEscapeKey();
    // The menu names the keys as the keyboard layout in use shows them, also after it changes.
    nameHotKeysInMenu();
    connect(&HotKeyCenter::application(), &HotKeyCenter::layoutChanged, this,
            [this] { nameHotKeysInMenu(); });
    const EventTypeSpec eventType{kEventClassKeyboard, kEventHotKeyReleased};
    OSStatus status =
        InstallEventHandler(GetApplicationEventTarget(), &GlobalHotKeyHandler, 1, &eventType, this, nullptr);
    if (status != noErr) {
        NSLog("Could not install hot key handler.  Error = %d", status);
        return;
    }
    const EventTypeSpec pressed{kEventClassKeyboard, kEventHotKeyPressed};
    InstallEventHandler(GetApplicationEventTarget(), &HotKeyPressedHandler, 1, &pressed, this, nullptr);
    // A helper killed before it could let go may have left its keys bound (Escape too, when it died in
    // a capture): they go before this one takes its own.
    carbon::HotKeyBackend& backend = HotKeyCenter::application().backend();
    backend.releaseLeftBehind(kVK_Escape, 0);
    for (const HotKey& hotKey : kHotKeys)
        backend.releaseLeftBehind(hotKey.keyCode, hotKey.modifiers);
    for (const HotKey& hotKey : kHotKeys) {
        EventHotKeyRef reference = nullptr;
        status =
            RegisterEventHotKey(hotKey.keyCode, hotKey.modifiers, EventHotKeyID{kHotKeySignature, hotKey.id},
                                GetApplicationEventTarget(), 0, &reference);
        if (status != noErr)
            NSLog("%@ (%@)", glimra::stringWithFormat(hotKey.failure, status), statusInWords(status, hotKey));
        else
            ++registeredHotKeys_;
    }
}
