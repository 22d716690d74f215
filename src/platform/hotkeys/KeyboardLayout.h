#pragma once
// The keyboard layout in use, as xkbcommon describes it. Hot keys are physical keys (Carbon's virtual
// key codes name the key by what it carries on a US keyboard): the layout tells which key code that
// key has, and what the user sees on it, so that the key keeps its place whatever the layout and is
// named as the layout shows it.

#include "CarbonEvents.h"
#include "HotKeyLogic.h"

#include <QKeySequence>
#include <QString>

#include <memory>
#include <optional>

struct xkb_keymap;

namespace glimra::hotkeys {

class KeyboardLayout {
public:
    // The keymap (a reference is taken) with its active layout, xkb's group. Without a keymap, a US
    // keyboard on Linux's key codes stands in, made when first asked.
    explicit KeyboardLayout(xkb_keymap* keymap = nullptr, uint32_t activeLayout = 0);

    // The keymap's key code of the physical key (evdev's code + 8 on Linux); 0 when the key code names no
    // key or the keymap lacks it.
    uint32_t keycode(carbon::UInt32 virtualKey) const;
    // The symbol the active layout gives that key at level 0 (plain) or 1 (usually Shift); 0 for none.
    Keysym keysym(carbon::UInt32 virtualKey, uint32_t level) const;
    // The symbol the key gives with Shift when Shift picks another level of it (and so is used up, as
    // sway and KWin see it); nothing otherwise.
    std::optional<Keysym> shiftedKeysym(carbon::UInt32 virtualKey) const;
    // Qt's key for the name of the key: the digit (0-9) when the layout has one on the key's first two
    // levels, else the first level's symbol as Qt's xkb support maps it; the US keyboard's symbol when
    // the layout gives none.
    int qtKey(carbon::UInt32 virtualKey) const;

    xkb_keymap* keymap() const;
    uint32_t activeLayout() const { return m_active; }

private:
    uint32_t layoutOf(uint32_t keycode) const;

    // Shared between copies; made on first use when there is none.
    mutable std::shared_ptr<xkb_keymap> m_keymap;
    uint32_t m_active = 0;
};

// The combination as Qt names it with this layout: "Ctrl+Shift+5" (Super is Qt's Meta); empty for a key
// without a name.
QKeySequence keySequence(carbon::UInt32 virtualKey, carbon::UInt32 modifiers, const KeyboardLayout& layout);
// For log lines: its portable text, "Ctrl+Shift+5".
QString describeHotKey(carbon::UInt32 virtualKey, carbon::UInt32 modifiers, const KeyboardLayout& layout);

} // namespace glimra::hotkeys
