#pragma once
// Hot keys on sway, with no configuration on the user's side: each combination is bound at run time
// through sway's IPC, twice (`bindcode COMBO nop ...` for the press, `bindcode --release COMBO nop ...`
// for the release), and the `binding` events sway sends on a subscribed connection are the hot key's
// presses and releases. Bound keys reach no other client, as grabbed keys do on X11. Key codes are
// physical keys: sway matches a `bindsym` by the symbol the active layout gives (on a French keyboard
// Ctrl+Shift and the key marked 5 reads Ctrl+5, its plain symbol being a parenthesis), a `bindcode`
// by the key, whatever the layout.
//
// A combination the user's own configuration binds (its text as get_config gives it, with its
// includes) is left to the user: registering it fails with eventHotKeyExistsErr. That is a `bindcode`
// of the same key, or a `bindsym` that sway would run for the key with the layout in use (the keymap
// sway gives its clients, read on a Wayland connection of the helper's own; a US keyboard until it tells
// one).
// sway 1.7 has no way to list bindings another client added at run time, so those are not seen, and a
// `bindcode` over one silently replaces it.
//
// Every binding is removed again when the backend goes. `swaymsg reload` drops run-time bindings: they
// are made again after it. A connection that breaks (sway restarting, or dropping a client that read
// too slowly) is a log line; the backend tries the socket again, less and less often, and binds
// everything again once it answers.

#include "hotkeys/HotKeyBackend.h"

#include "wayland/SwayConfig.h"
#include "wayland/SwayIpc.h"
#include "wayland/WaylandKeyboard.h"

#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QSocketNotifier;

namespace glimra::wayland {

class SwayHotKeys final : public carbon::HotKeyBackend {
    Q_OBJECT
public:
    // Where the keymap is read: a connection to sway's Wayland display, asked for again after sway
    // restarted; null when none answers.
    using ConnectSeat = std::function<std::shared_ptr<WaylandConnection>()>;

    // Connects to $SWAYSOCK; null, with a log line, when sway does not answer.
    static std::unique_ptr<SwayHotKeys> make(ConnectSeat seat);
    // The same on socketPath ($SWAYSOCK when empty), with the keymap from a connection of its own to the
    // Wayland display named ($WAYLAND_DISPLAY when empty).
    static std::unique_ptr<SwayHotKeys> make(const QString& socketPath = QString(),
                                             const QString& waylandDisplay = QString());
    ~SwayHotKeys() override;

    carbon::OSStatus add(Token token, carbon::UInt32 keyCode, carbon::UInt32 modifiers,
                         carbon::EventHotKeyID id) override;
    void remove(Token token) override;
    // sway keeps a run-time binding after its client died (killed, crashed): the combination, Escape
    // during a capture among them, would reach no application until sway's configuration is reloaded.
    void releaseLeftBehind(carbon::UInt32 keyCode, carbon::UInt32 modifiers) override;

private:
    struct Binding {
        carbon::UInt32 keyCode = 0;
        carbon::UInt32 modifiers = 0;
        QString keys;    // sway's form of the combination, by key code
        QString pressed; // the commands sway reports in its binding events
        QString released;
    };

    static std::unique_ptr<SwayHotKeys> make(const QString& socketPath, ConnectSeat seat);
    explicit SwayHotKeys(QString socketPath);
    // Reads the keymap sway gives its clients on a connection of its own (again when sway restarted).
    void connectKeyboard();
    // The keymap sway gives its clients, with the layout active on sway's keyboards.
    void followLayout(std::optional<uint32_t> activeLayout = std::nullopt);
    // Connects, subscribes and reads the user's bindings; false (logged) when sway does not answer.
    bool open();
    void close();
    // Runs one sway command; false, with sway's error logged, when it fails.
    bool run(const QString& command);
    bool bind(const Binding& binding);
    void unbind(const Binding& binding);
    bool heldByUser(carbon::UInt32 keyCode, carbon::UInt32 modifiers) const;
    void readEvents();
    void scheduleProcessing();
    void processPending();
    void connectionLost();
    void reconnect();

    QString m_path;
    ConnectSeat m_seat; // where the keymap comes from
    QString m_tag;      // tells this process's bindings apart in sway's events
    std::unique_ptr<SwayIpc> m_ipc;
    std::unique_ptr<WaylandKeyboard> m_keyboard;
    QPointer<QSocketNotifier> m_notifier; // a child: it may outlive the connection by a turn of the loop
    std::vector<SwayKeys> m_userBindings;
    std::map<Token, Binding> m_bindings;
    std::deque<SwayMessage> m_pending;
    // Events that came with a reply, which the socket notifier will not report again.
    QTimer m_processLater;
    QTimer m_retry;
};

} // namespace glimra::wayland
