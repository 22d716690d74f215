#pragma once
// What holds a key combination for the whole desktop and reports its presses and releases: X11 key
// grabs, sway's bindings over its IPC, or the desktop portal's global shortcuts; NoHotKeys where the
// desktop takes none. A hot-key center owns one, the application's from the desktop (Desktop.h), and
// keeps everything the Carbon calls need above it: handlers, references, ids and the checks of key
// codes and modifiers.

#include "CarbonEvents.h"
#include "KeyboardLayout.h"

#include <QObject>
#include <QString>

#include <memory>

namespace carbon {

class HotKeyBackend : public QObject {
    Q_OBJECT
public:
    using Token = uint64_t;

    // Takes keyCode with modifiers (a key the center knows, Carbon modifiers only) under token; id is the
    // caller's, for desktops that name their shortcuts. noErr; eventHotKeyExistsErr when another program
    // or the user's own configuration holds the combination; eventInternalErr when the desktop cannot be
    // reached. A backend that asks the desktop asynchronously answers noErr for a request it has sent
    // and logs what the desktop makes of it later.
    virtual OSStatus add(Token token, UInt32 keyCode, UInt32 modifiers, EventHotKeyID id) = 0;
    // Lets go of what add took; harmless for a token it does not hold.
    virtual void remove(Token token) = 0;
    // Whether it holds anything at all: false for NoHotKeys.
    virtual bool holdsKeys() const { return true; }
    // Whether a key can be taken for a moment and given back (Escape during a capture) without the
    // desktop asking the user.
    virtual bool holdsKeysBriefly() const { return true; }
    // Lets go of the combination where a helper that no longer runs left it bound (one killed before it
    // could), unless the user's own configuration binds it. Where the display server frees a client's
    // keys with the client (X11) or the desktop keeps them (the portal), there is nothing to do.
    virtual void releaseLeftBehind(UInt32 keyCode, UInt32 modifiers) {
        (void)keyCode;
        (void)modifiers;
    }
    // The keyboard layout in use as far as the desktop tells: it names the keys, and on X11 and sway
    // places them. A US keyboard until the desktop says otherwise.
    const glimra::hotkeys::KeyboardLayout& layout() const { return m_layout; }

signals:
    // A combination went down or came up (kEventHotKeyPressed, kEventHotKeyReleased), on the thread
    // that built the backend.
    void hotKey(quint64 token, quint32 kind);
    // X11: the keyboard mapping changed and every combination was taken again for it.
    void keyboardMappingApplied();
    // layout() changed: another keymap, or another of its layouts active.
    void layoutChanged();

protected:
    void setLayout(glimra::hotkeys::KeyboardLayout layout) {
        m_layout = std::move(layout);
        emit layoutChanged();
    }

private:
    glimra::hotkeys::KeyboardLayout m_layout;
};

// A desktop that takes no hot keys from programs (a Wayland desktop with neither sway's IPC nor the
// portal, a process without a display): every combination stays off, each with a log line.
class NoHotKeys final : public HotKeyBackend {
public:
    NoHotKeys();
    OSStatus add(Token token, UInt32 keyCode, UInt32 modifiers, EventHotKeyID id) override;
    void remove(Token) override {}
    bool holdsKeys() const override { return false; }
};

// The backend made, or NoHotKeys where none could be made.
inline std::unique_ptr<HotKeyBackend> orNoHotKeys(std::unique_ptr<HotKeyBackend> backend) {
    return backend ? std::move(backend) : std::make_unique<NoHotKeys>();
}

} // namespace carbon
