#pragma once
// The owner behind an event target: the installed handlers, the registered hot keys and the backend
// that holds their combinations on the desktop (HotKeyBackend.h). The application's own center sits
// behind GetApplicationEventTarget(), with the desktop's backend (Desktop.h); tests may build more,
// each with a backend of its own.

#include "CarbonEvents.h"
#include "EventHandlers.h"
#include "HotKeyBackend.h"

#include <QObject>

#include <memory>
#include <vector>

namespace carbon {

// The record behind a hot-key reference. A center keeps them until it is destroyed, so a stale
// reference to an unregistered hot key is refused rather than followed into freed memory; registering
// the same combination and id again gives the same record back.
struct OpaqueEventHotKeyRef {
    HotKeyCenter* center = nullptr;
    UInt32 keyCode = 0;
    UInt32 modifiers = 0;
    EventHotKeyID hotKeyID{};
    uint64_t token = 0;
    bool registered = false;
};

class HotKeyCenter : public QObject {
    Q_OBJECT
public:
    // Over the backend given; none (null) stands for NoHotKeys, where registering fails with
    // eventInternalErr. Events are delivered by the event loop of the thread that builds the backend.
    explicit HotKeyCenter(std::unique_ptr<HotKeyBackend> backend, QObject* parent = nullptr);
    ~HotKeyCenter() override;

    HotKeyCenter(const HotKeyCenter&) = delete;
    HotKeyCenter& operator=(const HotKeyCenter&) = delete;

    // The application event target's center, over the desktop's backend; destroyed with the
    // QCoreApplication, which lets go of every combination it holds (a quit by SIGTERM or SIGINT too,
    // as the helper quits through the event loop then).
    static HotKeyCenter& application();

    EventTargetRef target() { return &m_target; }
    HotKeyBackend& backend() const { return *m_backend; }
    // The keyboard layout the backend follows, to name the hot keys by.
    const glimra::hotkeys::KeyboardLayout& layout() const { return m_backend->layout(); }

    OSStatus registerHotKey(UInt32 keyCode, UInt32 modifiers, EventHotKeyID hotKeyID, OptionBits options,
                            EventHotKeyRef* outRef);
    OSStatus unregisterHotKey(EventHotKeyRef hotKeyRef);

signals:
    // X11: the keyboard mapping changed and every hot key has been grabbed again for it.
    void keyboardMappingApplied();
    // layout() changed: the keys may be named differently now.
    void layoutChanged();

private:
    void dispatch(quint64 token, quint32 kind);

    EventHandlerTable m_handlers{HandlerDelivery::Everyone};
    OpaqueEventTargetRef m_target{&m_handlers, this};
    std::unique_ptr<HotKeyBackend> m_backend;
    uint64_t m_nextToken = 1;
    std::vector<std::unique_ptr<OpaqueEventHotKeyRef>> m_hotKeys;
};

} // namespace carbon
