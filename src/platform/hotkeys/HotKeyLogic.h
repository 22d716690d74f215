#pragma once
// The parts of the hot keys that need no X server: modifier translation, the lock variants to grab,
// and deciding which key events are hot-key presses and releases.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace glimra::hotkeys {

using Keysym = uint32_t;
using Keycode = uint8_t;

// Core X modifier bits, the values of XCB_MOD_MASK_*.
inline constexpr uint16_t kShiftMask = 1 << 0;
inline constexpr uint16_t kLockMask = 1 << 1;
inline constexpr uint16_t kControlMask = 1 << 2;
inline constexpr uint16_t kMod1Mask = 1 << 3;
inline constexpr uint16_t kMod2Mask = 1 << 4;
inline constexpr uint16_t kMod3Mask = 1 << 5;
inline constexpr uint16_t kMod4Mask = 1 << 6;
inline constexpr uint16_t kMod5Mask = 1 << 7;

// Which modifier bits the current modifier map gives to Alt, Super and Num Lock.
struct ModifierLayout {
    uint16_t alt = kMod1Mask;
    uint16_t super = kMod4Mask;
    uint16_t numLock = 0; // no key produces Num_Lock

    bool operator==(const ModifierLayout&) const = default;
};

// rows[i] holds the key codes of modifier i (Shift, Lock, Control, Mod1 ... Mod5, as the server's
// modifier mapping lists them); keysymsOf gives every keysym a key code carries. Where no key of the
// map produces Alt or Super, the conventional Mod1 and Mod4 stay.
ModifierLayout modifierLayoutFromMap(const std::vector<std::vector<Keycode>>& rows,
                                     const std::function<std::vector<Keysym>(Keycode)>& keysymsOf);

// Core X modifier mask for a Carbon one (cmdKey, shiftKey, optionKey, controlKey); nothing when the
// mask has other bits.
std::optional<uint16_t> xModifiersFromCarbon(uint32_t carbonModifiers, const ModifierLayout& layout);

// Every mask to grab so that Caps Lock and Num Lock do not matter; the plain mask comes first.
std::vector<uint16_t> lockVariants(uint16_t modifiers, const ModifierLayout& layout);

// The part of a key event's state that tells hot keys apart: no locks, no pointer buttons.
uint16_t significantModifiers(uint16_t state, const ModifierLayout& layout);

// Keysym of the unshifted character a Mac virtual key code carries on a US keyboard; 0 if not mapped.
Keysym keysymForVirtualKey(uint32_t virtualKeyCode);
// The place of the physical key behind a Mac virtual key code, as xkb names it ("AE05" for the US
// keyboard's 5): the same key whatever the layout. Null if not mapped.
const char* keyNameForVirtualKey(uint32_t virtualKeyCode);
// The symbol Shift gives that key on a US keyboard (XK_percent for 5); 0 for letters and for keys whose
// shifted keysym is the key's own.
Keysym shiftedKeysymForVirtualKey(uint32_t virtualKeyCode);

struct KeyEvent {
    bool press = false;
    Keycode keycode = 0;
    uint16_t state = 0;
    uint32_t time = 0;
};

// Without detectable auto-repeat, a held key reaches the client as a release immediately followed by a
// press of the same key with the same time stamp.
bool isAutoRepeatPair(const KeyEvent& release, const KeyEvent& next);

// Turns key events into hot-key presses and releases. A hot key fires its press once when its key goes
// down with exactly its modifiers, and its release when that key comes up, whatever the modifiers are
// by then (users let go of them first as often as not). Presses of a key already down are auto-repeat.
class HotKeyMatcher {
public:
    using Token = uint64_t;

    // Replaces what the token was bound to. A key already down keeps its token until it comes up.
    void bind(Token token, std::vector<Keycode> keycodes, uint16_t modifiers);
    // Also forgets keys down for it: an unregistered hot key sends no release.
    void unbind(Token token);
    // Whether another token already owns one of these key code and modifier combinations.
    bool conflicts(const std::vector<Keycode>& keycodes, uint16_t modifiers,
                   std::optional<Token> except = std::nullopt) const;

    std::optional<Token> press(Keycode keycode, uint16_t significantModifiers);
    std::optional<Token> release(Keycode keycode);

private:
    struct Binding {
        std::vector<Keycode> keycodes;
        uint16_t modifiers = 0;
    };
    std::map<Token, Binding> m_bindings;
    std::map<Keycode, Token> m_down;
};

} // namespace glimra::hotkeys
