#pragma once
// The keymap the compositor gives the seat's keyboard, on a Wayland connection of the helper's own
// (the seat's, which the overlay shares; WaylandDesktop.h): what the keys show, for naming them. Compositors
// send it to every client of the seat, and again whenever another keyboard (or layout) takes over; the active
// layout within it reaches only a client with the keyboard focus, which this one never has, so the owner may
// tell it (sway's IPC does).

#include <QString>

#include <functional>
#include <memory>

struct xkb_keymap;

namespace glimra::wayland {

class WaylandConnection;

class WaylandKeyboard {
public:
    // Binds the seat on that connection (kept as long as the keyboard) and waits for its keymap for one
    // round trip; nullptr (with a log line) without a connection or a seat. On the thread of the
    // application's event loop, later keymaps are read as they come.
    static std::unique_ptr<WaylandKeyboard> connect(std::shared_ptr<WaylandConnection> connection);
    ~WaylandKeyboard();
    WaylandKeyboard(const WaylandKeyboard&) = delete;
    WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

    // The latest keymap, nullptr before the compositor sent one (a seat without a keyboard yet).
    xkb_keymap* keymap() const;
    // The compositor went away (sway restarting): a new connection is needed.
    bool broken() const;
    // Called after each new keymap, from the dispatch that read it.
    void setKeymapChanged(std::function<void()> callback);

    struct Private;

private:
    explicit WaylandKeyboard(std::unique_ptr<Private> d);
    std::unique_ptr<Private> d;
};

} // namespace glimra::wayland
