#include "CarbonEvents.h"

#include "HotKeyCenter.h"
#include "MouseEventMonitor.h"

#include <QLoggingCategory>

#include <cstring>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace carbon {

namespace {

HotKeyCenter* centerOf(EventTargetRef target, const char* call) {
    if (!target || !target->hotKeys)
        qCWarning(lcHotKeys, "%s: no hot-key event target", call);
    return target ? target->hotKeys : nullptr;
}

} // namespace

EventTargetRef GetApplicationEventTarget() {
    return HotKeyCenter::application().target();
}

EventTargetRef GetEventMonitorTarget() {
    return MouseEventMonitor::application().target();
}

OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler, ItemCount inNumTypes,
                             const EventTypeSpec* inList, void* inUserData, EventHandlerRef* outRef) {
    if (!inTarget || !inTarget->handlers) {
        qCWarning(lcHotKeys, "Hot keys: no event target");
        return paramErr;
    }
    return inTarget->handlers->install(inHandler, inNumTypes, inList, inUserData, outRef);
}

OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef) {
    if (!inHandlerRef || !inHandlerRef->table) {
        qCWarning(lcHotKeys, "RemoveEventHandler: no handler");
        return paramErr;
    }
    return inHandlerRef->table->remove(inHandlerRef);
}

OSStatus CallNextEventHandler(EventHandlerCallRef inHandlerCallRef, EventRef inEvent) {
    return EventHandlerTable::callNext(inHandlerCallRef, inEvent);
}

OSStatus RegisterEventHotKey(UInt32 inHotKeyCode, UInt32 inHotKeyModifiers, EventHotKeyID inHotKeyID,
                             EventTargetRef inTarget, OptionBits inOptions, EventHotKeyRef* outRef) {
    HotKeyCenter* center = centerOf(inTarget, "RegisterEventHotKey");
    return center ? center->registerHotKey(inHotKeyCode, inHotKeyModifiers, inHotKeyID, inOptions, outRef)
                  : paramErr;
}

OSStatus UnregisterEventHotKey(EventHotKeyRef inHotKey) {
    if (!inHotKey || !inHotKey->center) {
        qCWarning(lcHotKeys, "Hot key: no hot key");
        return paramErr;
    }
    return inHotKey->center->unregisterHotKey(inHotKey);
}

OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType* outActualType, ByteCount inBufferSize, ByteCount* outActualSize,
                           void* outData) {
    if (!inEvent) {
        qCWarning(lcHotKeys, "GetEventParameter: no event");
        return paramErr;
    }
    if (inName != kEventParamDirectObject)
        return eventParameterNotFoundErr;
    if (inDesiredType != typeEventHotKeyID && inDesiredType != typeWildCard)
        return errAECoercionFail;
    if (outActualType)
        *outActualType = typeEventHotKeyID;
    if (outActualSize)
        *outActualSize = sizeof(EventHotKeyID);
    // Without a buffer the call only reports type and size.
    if (!outData)
        return noErr;
    if (inBufferSize < sizeof(EventHotKeyID)) {
        qCWarning(lcHotKeys, "GetEventParameter: a buffer of %zu bytes cannot hold a hot key id",
                  inBufferSize);
        return paramErr;
    }
    std::memcpy(outData, &inEvent->hotKeyID, sizeof(EventHotKeyID));
    return noErr;
}

OSType GetEventClass(EventRef inEvent) {
    return inEvent ? inEvent->eventClass : 0;
}

UInt32 GetEventKind(EventRef inEvent) {
    return inEvent ? inEvent->eventKind : 0;
}

} // namespace carbon
