#include "HotKeyLogic.h"

#include "CarbonEvents.h"

#include <X11/keysym.h>

#include <algorithm>
#include <utility>

namespace glimra::hotkeys {

namespace {

constexpr std::pair<uint32_t, Keysym> kUsKeys[] = {
    {carbon::kVK_ANSI_A, XK_a},
    {carbon::kVK_ANSI_S, XK_s},
    {carbon::kVK_ANSI_D, XK_d},
    {carbon::kVK_ANSI_F, XK_f},
    {carbon::kVK_ANSI_H, XK_h},
    {carbon::kVK_ANSI_G, XK_g},
    {carbon::kVK_ANSI_Z, XK_z},
    {carbon::kVK_ANSI_X, XK_x},
    {carbon::kVK_ANSI_C, XK_c},
    {carbon::kVK_ANSI_V, XK_v},
    {carbon::kVK_ANSI_B, XK_b},
    {carbon::kVK_ANSI_Q, XK_q},
    {carbon::kVK_ANSI_W, XK_w},
    {carbon::kVK_ANSI_E, XK_e},
    {carbon::kVK_ANSI_R, XK_r},
    {carbon::kVK_ANSI_Y, XK_y},
    {carbon::kVK_ANSI_T, XK_t},
    {carbon::kVK_ANSI_1, XK_1},
    {carbon::kVK_ANSI_2, XK_2},
    {carbon::kVK_ANSI_3, XK_3},
    {carbon::kVK_ANSI_4, XK_4},
    {carbon::kVK_ANSI_6, XK_6},
    {carbon::kVK_ANSI_5, XK_5},
    {carbon::kVK_ANSI_Equal, XK_equal},
    {carbon::kVK_ANSI_9, XK_9},
    {carbon::kVK_ANSI_7, XK_7},
    {carbon::kVK_ANSI_Minus, XK_minus},
    {carbon::kVK_ANSI_8, XK_8},
    {carbon::kVK_ANSI_0, XK_0},
    {carbon::kVK_ANSI_RightBracket, XK_bracketright},
    {carbon::kVK_ANSI_O, XK_o},
    {carbon::kVK_ANSI_U, XK_u},
    {carbon::kVK_ANSI_LeftBracket, XK_bracketleft},
    {carbon::kVK_ANSI_I, XK_i},
    {carbon::kVK_ANSI_P, XK_p},
    {carbon::kVK_Return, XK_Return},
    {carbon::kVK_ANSI_L, XK_l},
    {carbon::kVK_ANSI_J, XK_j},
    {carbon::kVK_ANSI_Quote, XK_apostrophe},
    {carbon::kVK_ANSI_K, XK_k},
    {carbon::kVK_ANSI_Semicolon, XK_semicolon},
    {carbon::kVK_ANSI_Backslash, XK_backslash},
    {carbon::kVK_ANSI_Comma, XK_comma},
    {carbon::kVK_ANSI_Slash, XK_slash},
    {carbon::kVK_ANSI_N, XK_n},
    {carbon::kVK_ANSI_M, XK_m},
    {carbon::kVK_ANSI_Period, XK_period},
    {carbon::kVK_Tab, XK_Tab},
    {carbon::kVK_Space, XK_space},
    {carbon::kVK_ANSI_Grave, XK_grave},
    {carbon::kVK_Delete, XK_BackSpace},
    {carbon::kVK_Escape, XK_Escape},
    {carbon::kVK_F5, XK_F5},
    {carbon::kVK_F6, XK_F6},
    {carbon::kVK_F7, XK_F7},
    {carbon::kVK_F3, XK_F3},
    {carbon::kVK_F8, XK_F8},
    {carbon::kVK_F9, XK_F9},
    {carbon::kVK_F11, XK_F11},
    {carbon::kVK_F10, XK_F10},
    {carbon::kVK_F12, XK_F12},
    {carbon::kVK_F4, XK_F4},
    {carbon::kVK_F2, XK_F2},
    {carbon::kVK_F1, XK_F1},
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
    for (const auto& [code, keysym] : kUsKeys)
        if (code == virtualKeyCode)
            return keysym;
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
