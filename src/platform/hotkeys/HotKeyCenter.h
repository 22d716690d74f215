#pragma once
// The owner behind an event target: the X connection, its key grabs, the installed handlers and the
// registered hot keys. The application's own center sits behind GetApplicationEventTarget(); tests may
// build more, each with a connection and grabs of its own.

#include "CarbonEvents.h"
#include "EventHandlers.h"
#include "HotKeyLogic.h"
#include "XConnection.h"

#include <QByteArray>
#include <QObject>

#include <deque>
#include <memory>
#include <vector>

class QSocketNotifier;
struct xcb_connection_t;
struct _XCBKeySymbols;

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
    // What is grabbed right now; empty while the current keyboard mapping has no key for it.
    std::vector<glimra::hotkeys::Keycode> keycodes;
    uint16_t xModifiers = 0;
};

class HotKeyCenter : public QObject {
    Q_OBJECT
public:
    // Connects to displayName, or to $DISPLAY when it is empty. Without a display the center is still a
    // target for handlers, but registering a hot key fails with eventInternalErr. Events are delivered
    // by the event loop of the thread that builds the center.
    explicit HotKeyCenter(const QByteArray& displayName = {}, QObject* parent = nullptr);
    ~HotKeyCenter() override;

    HotKeyCenter(const HotKeyCenter&) = delete;
    HotKeyCenter& operator=(const HotKeyCenter&) = delete;

    // The application event target's center; destroyed with the QCoreApplication.
    static HotKeyCenter& application();

    EventTargetRef target() { return &m_target; }
    bool hasDisplay() const { return m_connection != nullptr; }
    // Whether the server reports a held key as one press instead of press and release pairs.
    bool hasDetectableAutoRepeat() const { return m_detectableAutoRepeat; }

    OSStatus registerHotKey(UInt32 keyCode, UInt32 modifiers, EventHotKeyID hotKeyID, OptionBits options,
                            EventHotKeyRef* outRef);
    OSStatus unregisterHotKey(EventHotKeyRef hotKeyRef);

signals:
    // The keyboard mapping changed and every hot key has been grabbed again for it.
    void keyboardMappingApplied();

private:
    struct FreeKeySymbols {
        void operator()(_XCBKeySymbols* symbols) const;
    };
    struct Pending {
        bool mappingChanged = false;
        glimra::hotkeys::KeyEvent key;
    };

    void loadKeyboard();
    std::vector<glimra::hotkeys::Keycode> keycodesFor(glimra::hotkeys::Keysym keysym) const;
    OSStatus grab(const std::vector<glimra::hotkeys::Keycode>& keycodes, uint16_t modifiers);
    void ungrab(const OpaqueEventHotKeyRef& hotKey);
    void grabAgain();

    void readEvents();
    void scheduleProcessing();
    void processPending();
    void dispatch(uint64_t token, UInt32 kind);
    void connectionLost();

    EventHandlerTable m_handlers{HandlerDelivery::Everyone};
    OpaqueEventTargetRef m_target{&m_handlers, this};
    detail::XConnection m_connection;
    std::unique_ptr<_XCBKeySymbols, FreeKeySymbols> m_keySymbols;
    std::unique_ptr<QSocketNotifier> m_notifier;
    uint32_t m_root = 0;
    int m_xkbEventBase = -1;
    uint8_t m_coreKeyboard = 0;
    bool m_detectableAutoRepeat = false;
    bool m_processingScheduled = false;
    glimra::hotkeys::ModifierLayout m_layout;
    glimra::hotkeys::HotKeyMatcher m_matcher;
    uint64_t m_nextToken = 1;
    std::vector<std::unique_ptr<OpaqueEventHotKeyRef>> m_hotKeys;
    std::deque<Pending> m_pending;
};

} // namespace carbon
