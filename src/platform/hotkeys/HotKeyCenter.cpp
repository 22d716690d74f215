#include "HotKeyCenter.h"

#include "Desktop.h"
#include "HotKeyLogic.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <iterator>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace carbon {

namespace {

std::unique_ptr<HotKeyCenter>& applicationCenter() {
    static std::unique_ptr<HotKeyCenter> center;
    return center;
}

// Runs while QCoreApplication is being destroyed, when its event dispatcher still exists for the
// backend's sockets to leave cleanly.
void destroyApplicationCenter() {
    applicationCenter().reset();
}

} // namespace

HotKeyCenter& HotKeyCenter::application() {
    auto& center = applicationCenter();
    if (!center) {
        center = std::make_unique<HotKeyCenter>(glimra::Desktop::current().makeHotKeyBackend());
        if (center->backend().holdsKeys())
            qCInfo(lcHotKeys, "Hot keys through %s", qPrintable(center->backend().objectName()));
        if (QCoreApplication::instance())
            qAddPostRoutine(destroyApplicationCenter);
    }
    return *center;
}

HotKeyCenter::HotKeyCenter(std::unique_ptr<HotKeyBackend> backend, QObject* parent)
    : QObject(parent), m_backend(backend ? std::move(backend) : std::make_unique<NoHotKeys>()) {
    connect(m_backend.get(), &HotKeyBackend::hotKey, this, &HotKeyCenter::dispatch);
    connect(m_backend.get(), &HotKeyBackend::keyboardMappingApplied, this,
            &HotKeyCenter::keyboardMappingApplied);
    connect(m_backend.get(), &HotKeyBackend::layoutChanged, this, &HotKeyCenter::layoutChanged);
}

HotKeyCenter::~HotKeyCenter() = default;

OSStatus HotKeyCenter::registerHotKey(UInt32 keyCode, UInt32 modifiers, EventHotKeyID hotKeyID,
                                      OptionBits options, EventHotKeyRef* outRef) {
    const QString name = glimra::hotkeys::describeHotKey(keyCode, modifiers, layout());
    if (options & ~kEventHotKeyExclusive) {
        qCWarning(lcHotKeys, "Hot key: unknown options 0x%x for %s", options, qPrintable(name));
        return paramErr;
    }
    constexpr UInt32 known = cmdKey | shiftKey | optionKey | controlKey;
    if (!glimra::hotkeys::keysymForVirtualKey(keyCode) || (modifiers & ~known)) {
        qCWarning(lcHotKeys, "Hot key: %s has no counterpart on this desktop", qPrintable(name));
        return eventHotKeyInvalidErr;
    }
    for (const auto& hotKey : m_hotKeys)
        if (hotKey->registered && hotKey->keyCode == keyCode && hotKey->modifiers == modifiers) {
            qCWarning(lcHotKeys, "Hot key: %s is already registered", qPrintable(name));
            return eventHotKeyExistsErr;
        }

    // A hot key held only at times (Escape during a capture) comes back to its earlier record, so
    // registering it over and over does not pile records up.
    auto reused = std::find_if(m_hotKeys.begin(), m_hotKeys.end(), [&](const auto& record) {
        return !record->registered && record->keyCode == keyCode && record->modifiers == modifiers &&
               record->hotKeyID.signature == hotKeyID.signature && record->hotKeyID.id == hotKeyID.id;
    });
    const uint64_t token = m_nextToken++;
    if (const OSStatus status = m_backend->add(token, keyCode, modifiers, hotKeyID); status != noErr)
        return status;
    if (reused == m_hotKeys.end()) {
        m_hotKeys.push_back(std::make_unique<OpaqueEventHotKeyRef>());
        reused = std::prev(m_hotKeys.end());
    }
    OpaqueEventHotKeyRef& record = **reused;
    record.center = this;
    record.keyCode = keyCode;
    record.modifiers = modifiers;
    record.hotKeyID = hotKeyID;
    record.token = token;
    record.registered = true;
    if (outRef)
        *outRef = &record;
    return noErr;
}

OSStatus HotKeyCenter::unregisterHotKey(EventHotKeyRef hotKeyRef) {
    auto it = std::find_if(m_hotKeys.begin(), m_hotKeys.end(),
                           [hotKeyRef](const auto& record) { return record.get() == hotKeyRef; });
    if (it == m_hotKeys.end() || !(*it)->registered) {
        qCWarning(lcHotKeys, "Hot key: the hot key is not registered");
        return paramErr;
    }
    (*it)->registered = false;
    m_backend->remove((*it)->token);
    return noErr;
}

void HotKeyCenter::dispatch(quint64 token, quint32 kind) {
    auto it = std::find_if(m_hotKeys.begin(), m_hotKeys.end(),
                           [token](const auto& record) { return record->token == token; });
    if (it == m_hotKeys.end() || !(*it)->registered)
        return;
    OpaqueEventRef event{kEventClassKeyboard, kind, (*it)->hotKeyID};
    m_handlers.dispatch(event);
}

} // namespace carbon
