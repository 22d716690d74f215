#pragma once
// The records behind the Carbon references, and the handler list every event target keeps: which
// handlers are installed for which event types, and how an event travels along them.

#include "CarbonEvents.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace carbon {

class EventHandlerTable;
class HotKeyCenter;

enum class HandlerDelivery {
    // Every matching handler sees the event, whatever the ones before it return (hot keys).
    Everyone,
    // Carbon's chain: a handler's status other than eventNotHandledErr ends the event's way, and
    // CallNextEventHandler passes it on explicitly.
    Chain,
};

// A target owns a handler table; the application target also has a hot-key center behind it.
struct OpaqueEventTargetRef {
    EventHandlerTable* handlers = nullptr;
    HotKeyCenter* hotKeys = nullptr;
};

// A table keeps its records until it is destroyed, so a stale reference to a removed handler is
// refused rather than followed into freed memory.
struct OpaqueEventHandlerRef {
    EventHandlerTable* table = nullptr;
    EventHandlerUPP handler = nullptr;
    std::vector<EventTypeSpec> types;
    void* userData = nullptr;
    bool installed = false;
};

struct OpaqueEventRef {
    OSType eventClass = 0;
    UInt32 eventKind = 0;
    EventHotKeyID hotKeyID{};
};

// Where a handler stands in the chain of one event: CallNextEventHandler goes on from there.
struct OpaqueEventHandlerCallRef {
    const std::vector<OpaqueEventHandlerRef*>* chain = nullptr;
    size_t next = 0;
    HandlerDelivery delivery = HandlerDelivery::Everyone;
    bool passedOn = false;
};

class EventHandlerTable {
public:
    explicit EventHandlerTable(HandlerDelivery delivery) : delivery_(delivery) {}
    EventHandlerTable(const EventHandlerTable&) = delete;
    EventHandlerTable& operator=(const EventHandlerTable&) = delete;

    // Asked before a handler goes in: noErr, or the status InstallEventHandler reports.
    std::function<OSStatus()> canInstall;
    // Told the number of installed handlers after each install and remove.
    std::function<void(size_t installed)> installedCountChanged;

    OSStatus install(EventHandlerUPP handler, ItemCount numTypes, const EventTypeSpec* list, void* userData,
                     EventHandlerRef* outRef);
    OSStatus remove(EventHandlerRef handlerRef);
    size_t installedCount() const;
    // Whether an installed handler takes events of this class and kind.
    bool wants(OSType eventClass, UInt32 eventKind) const;

    // Most recently installed first. Handlers installed or removed by a handler take effect from the
    // next event on. Returns the status of the chain (eventNotHandledErr when nobody took it).
    OSStatus dispatch(OpaqueEventRef& event);

    // CallNextEventHandler: the rest of the chain after the caller.
    static OSStatus callNext(EventHandlerCallRef callRef, EventRef event);

private:
    static OSStatus callFrom(const std::vector<OpaqueEventHandlerRef*>& chain, size_t index,
                             HandlerDelivery delivery, EventRef event);

    HandlerDelivery delivery_;
    std::vector<std::unique_ptr<OpaqueEventHandlerRef>> handlers_;
};

} // namespace carbon
