#include "KeyboardLayout.h"

#include <QChar>

#include <xkbcommon/xkbcommon.h>

namespace glimra::hotkeys {

namespace {

using namespace carbon;

std::shared_ptr<xkb_keymap> shared(xkb_keymap* keymap) {
    return std::shared_ptr<xkb_keymap>(keymap, [](xkb_keymap* k) { xkb_keymap_unref(k); });
}

std::shared_ptr<xkb_keymap> usKeymap() {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                       &xkb_context_unref);
    const xkb_rule_names us{"evdev", "pc105", "us", "", ""};
    return context ? shared(xkb_keymap_new_from_names(context.get(), &us, XKB_KEYMAP_COMPILE_NO_FLAGS))
                   : nullptr;
}

// The keys xkb names by their function rather than by a character.
int qtKeyForFunctionKeysym(Keysym keysym) {
    if (keysym >= XKB_KEY_F1 && keysym <= XKB_KEY_F35)
        return Qt::Key_F1 + int(keysym - XKB_KEY_F1);
    if (keysym >= XKB_KEY_KP_0 && keysym <= XKB_KEY_KP_9)
        return Qt::Key_0 + int(keysym - XKB_KEY_KP_0);
    // Qt numbers these dead keys in xkb's order.
    if (keysym >= XKB_KEY_dead_grave && keysym <= XKB_KEY_dead_horn)
        return Qt::Key_Dead_Grave + int(keysym - XKB_KEY_dead_grave);
    switch (keysym) {
    case XKB_KEY_Escape:
        return Qt::Key_Escape;
    case XKB_KEY_Return:
        return Qt::Key_Return;
    case XKB_KEY_Tab:
        return Qt::Key_Tab;
    case XKB_KEY_BackSpace:
        return Qt::Key_Backspace;
    }
    return 0;
}

// The digit a symbol stands for, in any script; nothing for other symbols.
std::optional<int> digitOf(Keysym keysym) {
    const uint32_t ucs4 = xkb_keysym_to_utf32(keysym);
    if (ucs4 && QChar::isDigit(char32_t(ucs4)))
        return QChar::digitValue(char32_t(ucs4));
    return std::nullopt;
}

// Qt's key for a symbol, as Qt's xkb support maps key events: Latin-1 by its capital, other characters
// by their capital, digits of any script as Qt's digit keys.
int qtKeyForKeysym(Keysym keysym) {
    if (const int key = qtKeyForFunctionKeysym(keysym))
        return key;
    if (keysym > 0 && keysym <= 0xff) {
        const Keysym upper = xkb_keysym_to_upper(keysym);
        return int(upper <= 0xff ? upper : keysym);
    }
    if (const std::optional<int> digit = digitOf(keysym))
        return Qt::Key_0 + *digit;
    if (const uint32_t ucs4 = xkb_keysym_to_utf32(keysym); ucs4 >= 0x20)
        return int(QChar::toUpper(char32_t(ucs4)));
    return 0;
}

} // namespace

KeyboardLayout::KeyboardLayout(xkb_keymap* keymap, uint32_t activeLayout)
    : m_keymap(keymap ? shared(xkb_keymap_ref(keymap)) : nullptr), m_active(keymap ? activeLayout : 0) {}

xkb_keymap* KeyboardLayout::keymap() const {
    if (!m_keymap)
        m_keymap = usKeymap();
    return m_keymap.get();
}

uint32_t KeyboardLayout::layoutOf(uint32_t keycode) const {
    // A key with fewer layouts than the keymap shows its first one in the others, as xkb's default
    // (wrapping the group) has it for the keys that matter here.
    return m_active < xkb_keymap_num_layouts_for_key(keymap(), keycode) ? m_active : 0;
}

uint32_t KeyboardLayout::keycode(UInt32 virtualKey) const {
    const char* name = keyNameForVirtualKey(virtualKey);
    if (!name || !keymap())
        return 0;
    const xkb_keycode_t code = xkb_keymap_key_by_name(keymap(), name);
    return code == XKB_KEYCODE_INVALID ? 0 : code;
}

Keysym KeyboardLayout::keysym(UInt32 virtualKey, uint32_t level) const {
    const uint32_t code = keycode(virtualKey);
    if (!code)
        return 0;
    const xkb_keysym_t* syms = nullptr;
    return xkb_keymap_key_get_syms_by_level(keymap(), code, layoutOf(code), level, &syms) == 1 ? syms[0] : 0;
}

std::optional<Keysym> KeyboardLayout::shiftedKeysym(UInt32 virtualKey) const {
    const uint32_t code = keycode(virtualKey);
    if (!code)
        return std::nullopt;
    std::unique_ptr<xkb_state, decltype(&xkb_state_unref)> state(xkb_state_new(keymap()), &xkb_state_unref);
    const xkb_mod_index_t shift = xkb_keymap_mod_get_index(keymap(), XKB_MOD_NAME_SHIFT);
    if (!state || shift == XKB_MOD_INVALID)
        return std::nullopt;
    xkb_state_update_mask(state.get(), 1u << shift, 0, 0, 0, 0, m_active);
    if (xkb_state_mod_index_is_consumed(state.get(), code, shift) != 1)
        return std::nullopt;
    const Keysym keysym = xkb_state_key_get_one_sym(state.get(), code);
    return keysym ? std::optional<Keysym>(keysym) : std::nullopt;
}

int KeyboardLayout::qtKey(UInt32 virtualKey) const {
    // The number row's digits in the Latin script, plain or with Shift (French AZERTY): a Thai key that
    // gives a Thai digit with Shift is named by its letter, as the user sees it.
    for (uint32_t level : {0u, 1u})
        if (const Keysym digit = keysym(virtualKey, level); digit >= XKB_KEY_0 && digit <= XKB_KEY_9)
            return Qt::Key_0 + int(digit - XKB_KEY_0);
    if (const int key = qtKeyForKeysym(keysym(virtualKey, 0)))
        return key;
    return qtKeyForKeysym(keysymForVirtualKey(virtualKey));
}

QKeySequence keySequence(UInt32 virtualKey, UInt32 modifiers, const KeyboardLayout& layout) {
    const int key = layout.qtKey(virtualKey);
    if (!key)
        return QKeySequence();
    // Command is Ctrl, Control is Super (Qt's Meta), Option is Alt, as the hot keys have them.
    int combined = key;
    if (modifiers & cmdKey)
        combined |= Qt::CTRL;
    if (modifiers & shiftKey)
        combined |= Qt::SHIFT;
    if (modifiers & optionKey)
        combined |= Qt::ALT;
    if (modifiers & controlKey)
        combined |= Qt::META;
    return QKeySequence(combined);
}

QString describeHotKey(UInt32 virtualKey, UInt32 modifiers, const KeyboardLayout& layout) {
    const QString text = keySequence(virtualKey, modifiers, layout).toString(QKeySequence::PortableText);
    return text.isEmpty() ? QStringLiteral("the key of code 0x%1").arg(virtualKey, 2, 16, QLatin1Char('0'))
                          : text;
}

} // namespace glimra::hotkeys
