#pragma once
// Hot keys as passive key grabs on the root window of a private xcb connection, in every Caps Lock and
// Num Lock state, taken again whenever the keyboard mapping changes. A virtual key code is a physical
// key: it is found by its xkb name in the server's keymap, whatever the layout puts on it, and the
// layout in use (the keymap and its active group, read with xkbcommon) names it.

#include "hotkeys/HotKeyBackend.h"
#include "hotkeys/HotKeyLogic.h"
#include "x11/XConnection.h"

#include <QByteArray>
#include <QTimer>

#include <deque>
#include <map>
#include <memory>
#include <vector>

class QSocketNotifier;
struct _XCBKeySymbols;
struct xkb_context;

namespace glimra::x11 {

class X11HotKeys final : public carbon::HotKeyBackend {
    Q_OBJECT
public:
    // Connects to displayName, or to $DISPLAY when it is empty; null, with a log line, when there is
    // no display to talk to.
    static std::unique_ptr<X11HotKeys> make(const QByteArray& displayName = {});
    ~X11HotKeys() override;

    carbon::OSStatus add(Token token, carbon::UInt32 keyCode, carbon::UInt32 modifiers,
                         carbon::EventHotKeyID id) override;
    void remove(Token token) override;

private:
    struct FreeKeySymbols {
        void operator()(_XCBKeySymbols* symbols) const;
    };
    struct FreeContext {
        void operator()(xkb_context* context) const;
    };
    struct Pending {
        bool mappingChanged = false;
        hotkeys::KeyEvent key;
    };
    // What is grabbed for a token right now; no key codes while the current keyboard mapping has no key
    // for it.
    struct Grab {
        carbon::UInt32 keyCode = 0;
        carbon::UInt32 modifiers = 0;
        std::vector<hotkeys::Keycode> keycodes;
        uint16_t xModifiers = 0;
    };

    X11HotKeys(XConnection connection, uint32_t root);
    void loadKeyboard();
    // The server's keymap and active group, as xkbcommon reads them; a US keyboard without XKB.
    hotkeys::KeyboardLayout readLayout();
    std::vector<hotkeys::Keycode> keycodesFor(carbon::UInt32 keyCode) const;
    carbon::OSStatus grab(const std::vector<hotkeys::Keycode>& keycodes, uint16_t modifiers);
    void ungrab(const Grab& grab);
    void grabAgain();

    void readEvents();
    void scheduleProcessing();
    void processPending();
    void connectionLost();

    XConnection m_connection;
    std::unique_ptr<_XCBKeySymbols, FreeKeySymbols> m_keySymbols;
    std::unique_ptr<xkb_context, FreeContext> m_xkbContext;
    std::unique_ptr<QSocketNotifier> m_notifier;
    uint32_t m_root = 0;
    int m_xkbEventBase = -1;
    uint8_t m_coreKeyboard = 0;
    bool m_detectableAutoRepeat = false;
    hotkeys::ModifierLayout m_layout;
    hotkeys::HotKeyMatcher m_matcher;
    std::map<Token, Grab> m_grabs;
    std::deque<Pending> m_pending;
    // Events read while waiting for a reply, which the socket notifier will not report again.
    QTimer m_processLater;
};

} // namespace glimra::x11
