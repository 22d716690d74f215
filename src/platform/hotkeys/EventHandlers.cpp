#include "EventHandlers.h"

#include <QLoggingCategory>

#include <algorithm>
#include <exception>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace carbon {

OSStatus EventHandlerTable::install(EventHandlerUPP handler, ItemCount numTypes, const EventTypeSpec* list,
                                    void* userData, EventHandlerRef* outRef) {
    if (!handler || numTypes == 0 || !list) {
        qCWarning(lcHotKeys, "Hot keys: refused a handler without a function or event types");
        return paramErr;
    }
    if (canInstall)
        if (const OSStatus status = canInstall(); status != noErr)
            return status;
    auto record = std::make_unique<OpaqueEventHandlerRef>();
    record->table = this;
    record->handler = handler;
    record->types.assign(list, list + numTypes);
    record->userData = userData;
    record->installed = true;
    if (outRef)
        *outRef = record.get();
    handlers_.push_back(std::move(record));
    if (installedCountChanged)
        installedCountChanged(installedCount());
    return noErr;
}

OSStatus EventHandlerTable::remove(EventHandlerRef handlerRef) {
    auto it = std::find_if(handlers_.begin(), handlers_.end(),
                           [handlerRef](const auto& record) { return record.get() == handlerRef; });
    if (it == handlers_.end() || !(*it)->installed) {
        qCWarning(lcHotKeys, "RemoveEventHandler: the handler is not installed");
        return paramErr;
    }
    (*it)->installed = false;
    if (installedCountChanged)
        installedCountChanged(installedCount());
    return noErr;
}

size_t EventHandlerTable::installedCount() const {
    return size_t(std::count_if(handlers_.begin(), handlers_.end(),
                                [](const auto& record) { return record->installed; }));
}

bool EventHandlerTable::wants(OSType eventClass, UInt32 eventKind) const {
    return std::any_of(handlers_.begin(), handlers_.end(), [&](const auto& record) {
        return record->installed &&
               std::any_of(record->types.begin(), record->types.end(), [&](const EventTypeSpec& type) {
                   return type.eventClass == eventClass && type.eventKind == eventKind;
               });
    });
}

OSStatus EventHandlerTable::dispatch(OpaqueEventRef& event) {
    std::vector<OpaqueEventHandlerRef*> chain;
    for (auto record = handlers_.rbegin(); record != handlers_.rend(); ++record) {
        const auto& types = (*record)->types;
        if ((*record)->installed && std::any_of(types.begin(), types.end(), [&](const EventTypeSpec& type) {
                return type.eventClass == event.eventClass && type.eventKind == event.eventKind;
            }))
            chain.push_back(record->get());
    }
    return callFrom(chain, 0, delivery_, &event);
}

OSStatus EventHandlerTable::callNext(EventHandlerCallRef callRef, EventRef event) {
    if (!callRef || !callRef->chain || !event)
        return paramErr;
    if (callRef->passedOn)
        return eventNotHandledErr;
    callRef->passedOn = true;
    return callFrom(*callRef->chain, callRef->next, callRef->delivery, event);
}

OSStatus EventHandlerTable::callFrom(const std::vector<OpaqueEventHandlerRef*>& chain, size_t index,
                                     HandlerDelivery delivery, EventRef event) {
    for (; index < chain.size(); ++index) {
        OpaqueEventHandlerRef* handler = chain[index];
        // Removed by a handler earlier in this event's way.
        if (!handler->installed)
            continue;
        OpaqueEventHandlerCallRef call{&chain, index + 1, delivery};
        OSStatus status = eventNotHandledErr;
        // An exception must not unwind through the Qt event loop.
        try {
            status = handler->handler(&call, event, handler->userData);
        } catch (const std::exception& exception) {
            qCWarning(lcHotKeys, "An event handler threw: %s", exception.what());
        } catch (...) {
            qCWarning(lcHotKeys, "An event handler threw");
        }
        // The handler has sent the event on to the rest already.
        if (call.passedOn)
            return status;
        if (delivery == HandlerDelivery::Chain && status != eventNotHandledErr)
            return status;
    }
    return eventNotHandledErr;
}

} // namespace carbon
