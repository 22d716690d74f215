#include "HotKeyLogic.h"

#include "CarbonEvents.h"

#include <X11/keysym.h>

#include <algorithm>
#include <utility>

namespace glimra::hotkeys {

namespace {

struct UsKey {
    uint32_t code;
    Keysym keysym;
    Keysym shifted;   // the symbol Shift gives it, where that is not just the capital letter
    const char* name; // the key's place, as xkb names it: the same key in every layout
};

constexpr UsKey kUsKeys[] = {
    {carbon::kVK_ANSI_A, XK_a, 0, "AC01"},
    {carbon::kVK_ANSI_S, XK_s, 0, "AC02"},
    {carbon::kVK_ANSI_D, XK_d, 0, "AC03"},
    {carbon::kVK_ANSI_F, XK_f, 0, "AC04"},
    {carbon::kVK_ANSI_H, XK_h, 0, "AC06"},
    {carbon::kVK_ANSI_G, XK_g, 0, "AC05"},
    {carbon::kVK_ANSI_Z, XK_z, 0, "AB01"},
    {carbon::kVK_ANSI_X, XK_x, 0, "AB02"},
    {carbon::kVK_ANSI_C, XK_c, 0, "AB03"},
    {carbon::kVK_ANSI_V, XK_v, 0, "AB04"},
    {carbon::kVK_ANSI_B, XK_b, 0, "AB05"},
    {carbon::kVK_ANSI_Q, XK_q, 0, "AD01"},
    {carbon::kVK_ANSI_W, XK_w, 0, "AD02"},
    {carbon::kVK_ANSI_E, XK_e, 0, "AD03"},
    {carbon::kVK_ANSI_R, XK_r, 0, "AD04"},
    {carbon::kVK_ANSI_Y, XK_y, 0, "AD06"},
    {carbon::kVK_ANSI_T, XK_t, 0, "AD05"},
    {carbon::kVK_ANSI_1, XK_1, XK_exclam, "AE01"},
    {carbon::kVK_ANSI_2, XK_2, XK_at, "AE02"},
    {carbon::kVK_ANSI_3, XK_3, XK_numbersign, "AE03"},
    {carbon::kVK_ANSI_4, XK_4, XK_dollar, "AE04"},
    {carbon::kVK_ANSI_6, XK_6, XK_asciicircum, "AE06"},
    {carbon::kVK_ANSI_5, XK_5, XK_percent, "AE05"},
    {carbon::kVK_ANSI_Equal, XK_equal, XK_plus, "AE12"},
    {carbon::kVK_ANSI_9, XK_9, XK_parenleft, "AE09"},
    {carbon::kVK_ANSI_7, XK_7, XK_ampersand, "AE07"},
    {carbon::kVK_ANSI_Minus, XK_minus, XK_underscore, "AE11"},
    {carbon::kVK_ANSI_8, XK_8, XK_asterisk, "AE08"},
    {carbon::kVK_ANSI_0, XK_0, XK_parenright, "AE10"},
    {carbon::kVK_ANSI_RightBracket, XK_bracketright, XK_braceright, "AD12"},
    {carbon::kVK_ANSI_O, XK_o, 0, "AD09"},
    {carbon::kVK_ANSI_U, XK_u, 0, "AD07"},
    {carbon::kVK_ANSI_LeftBracket, XK_bracketleft, XK_braceleft, "AD11"},
    {carbon::kVK_ANSI_I, XK_i, 0, "AD08"},
    {carbon::kVK_ANSI_P, XK_p, 0, "AD10"},
    {carbon::kVK_Return, XK_Return, 0, "RTRN"},
    {carbon::kVK_ANSI_L, XK_l, 0, "AC09"},
    {carbon::kVK_ANSI_J, XK_j, 0, "AC07"},
    {carbon::kVK_ANSI_Quote, XK_apostrophe, XK_quotedbl, "AC11"},
    {carbon::kVK_ANSI_K, XK_k, 0, "AC08"},
    {carbon::kVK_ANSI_Semicolon, XK_semicolon, XK_colon, "AC10"},
    {carbon::kVK_ANSI_Backslash, XK_backslash, XK_bar, "BKSL"},
    {carbon::kVK_ANSI_Comma, XK_comma, XK_less, "AB08"},
    {carbon::kVK_ANSI_Slash, XK_slash, XK_question, "AB10"},
    {carbon::kVK_ANSI_N, XK_n, 0, "AB06"},
    {carbon::kVK_ANSI_M, XK_m, 0, "AB07"},
    {carbon::kVK_ANSI_Period, XK_period, XK_greater, "AB09"},
    {carbon::kVK_Tab, XK_Tab, 0, "TAB"},
    {carbon::kVK_Space, XK_space, 0, "SPCE"},
    {carbon::kVK_ANSI_Grave, XK_grave, XK_asciitilde, "TLDE"},
    {carbon::kVK_Delete, XK_BackSpace, 0, "BKSP"},
    {carbon::kVK_Escape, XK_Escape, 0, "ESC"},
    {carbon::kVK_F5, XK_F5, 0, "FK05"},
    {carbon::kVK_F6, XK_F6, 0, "FK06"},
    {carbon::kVK_F7, XK_F7, 0, "FK07"},
    {carbon::kVK_F3, XK_F3, 0, "FK03"},
    {carbon::kVK_F8, XK_F8, 0, "FK08"},
    {carbon::kVK_F9, XK_F9, 0, "FK09"},
    {carbon::kVK_F11, XK_F11, 0, "FK11"},
    {carbon::kVK_F10, XK_F10, 0, "FK10"},
    {carbon::kVK_F12, XK_F12, 0, "FK12"},
    {carbon::kVK_F4, XK_F4, 0, "FK04"},
    {carbon::kVK_F2, XK_F2, 0, "FK02"},
    {carbon::kVK_F1, XK_F1, 0, "FK01"},
};

// Buttons and the modifier bits no hot key uses stay out of the comparison.
constexpr uint16_t kCoreModifiers = 0xff;

} // namespace

ModifierLayout modifierLayoutFromMap(const std::vector<std::vector<Keycode>>& rows,
                                     const std::function<std::vector<Keysym>(Keycode)>& keysymsOf) {
    auto rowWith = [&](std::initializer_list<Keysym> wanted) -> uint16_t {
        // Shift, Lock and Control are never Alt, Super or Num Lock even when a map puts the keysym there.
        for (size_t row = 3; row < rows.size() && row < 8; ++row)
            for (Keycode keycode : rows[row]) {
                if (keycode == 0)
                    continue;
                for (Keysym keysym : keysymsOf(keycode))
                    if (std::find(wanted.begin(), wanted.end(), keysym) != wanted.end())
                        return uint16_t(1u << row);
            }
        return 0;
    };
    ModifierLayout layout;
    if (uint16_t alt = rowWith({XK_Alt_L, XK_Alt_R}))
        layout.alt = alt;
    else if (uint16_t meta = rowWith({XK_Meta_L, XK_Meta_R}))
        layout.alt = meta;
    if (uint16_t super = rowWith({XK_Super_L, XK_Super_R}))
        layout.super = super;
    layout.numLock = rowWith({XK_Num_Lock});
    return layout;
}

std::optional<uint16_t> xModifiersFromCarbon(uint32_t carbonModifiers, const ModifierLayout& layout) {
    constexpr uint32_t known = carbon::cmdKey | carbon::shiftKey | carbon::optionKey | carbon::controlKey;
    if (carbonModifiers & ~known)
        return std::nullopt;
    uint16_t mask = 0;
    if (carbonModifiers & carbon::cmdKey)
        mask |= kControlMask;
    if (carbonModifiers & carbon::shiftKey)
        mask |= kShiftMask;
    if (carbonModifiers & carbon::optionKey)
        mask |= layout.alt;
    if (carbonModifiers & carbon::controlKey)
        mask |= layout.super;
    return mask;
}

std::vector<uint16_t> lockVariants(uint16_t modifiers, const ModifierLayout& layout) {
    std::vector<uint16_t> masks;
    for (uint16_t locks : {uint16_t(0), kLockMask, layout.numLock, uint16_t(kLockMask | layout.numLock)}) {
        const uint16_t mask = modifiers | locks;
        if (std::find(masks.begin(), masks.end(), mask) == masks.end())
            masks.push_back(mask);
    }
    return masks;
}

uint16_t significantModifiers(uint16_t state, const ModifierLayout& layout) {
    return state & kCoreModifiers & uint16_t(~(kLockMask | layout.numLock));
}

Keysym keysymForVirtualKey(uint32_t virtualKeyCode) {
    for (const UsKey& key : kUsKeys)
        if (key.code == virtualKeyCode)
            return key.keysym;
    return 0;
}

const char* keyNameForVirtualKey(uint32_t virtualKeyCode) {
    for (const UsKey& key : kUsKeys)
        if (key.code == virtualKeyCode)
            return key.name;
    return nullptr;
}

Keysym shiftedKeysymForVirtualKey(uint32_t virtualKeyCode) {
    for (const UsKey& key : kUsKeys)
        if (key.code == virtualKeyCode)
            return key.shifted;
    return 0;
}

bool isAutoRepeatPair(const KeyEvent& release, const KeyEvent& next) {
    return !release.press && next.press && next.keycode == release.keycode && next.time == release.time;
}

void HotKeyMatcher::bind(Token token, std::vector<Keycode> keycodes, uint16_t modifiers) {
    m_bindings[token] = Binding{std::move(keycodes), modifiers};
}

void HotKeyMatcher::unbind(Token token) {
    m_bindings.erase(token);
    std::erase_if(m_down, [token](const auto& entry) { return entry.second == token; });
}

bool HotKeyMatcher::conflicts(const std::vector<Keycode>& keycodes, uint16_t modifiers,
                              std::optional<Token> except) const {
    for (const auto& [token, binding] : m_bindings) {
        if (token == except || binding.modifiers != modifiers)
            continue;
        for (Keycode keycode : keycodes)
            if (std::find(binding.keycodes.begin(), binding.keycodes.end(), keycode) !=
                binding.keycodes.end())
                return true;
    }
    return false;
}

std::optional<HotKeyMatcher::Token> HotKeyMatcher::press(Keycode keycode, uint16_t significantModifiers) {
    if (m_down.contains(keycode))
        return std::nullopt;
    for (const auto& [token, binding] : m_bindings) {
        if (binding.modifiers != significantModifiers)
            continue;
        if (std::find(binding.keycodes.begin(), binding.keycodes.end(), keycode) == binding.keycodes.end())
            continue;
        m_down[keycode] = token;
        return token;
    }
    return std::nullopt;
}

std::optional<HotKeyMatcher::Token> HotKeyMatcher::release(Keycode keycode) {
    auto it = m_down.find(keycode);
    if (it == m_down.end())
        return std::nullopt;
    const Token token = it->second;
    m_down.erase(it);
    return token;
}

} // namespace glimra::hotkeys
