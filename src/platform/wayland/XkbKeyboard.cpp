#include "wayland/XkbKeyboard.h"

#include <QChar>

#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <utility>

namespace glimra::wayland {

namespace {

// Keys with no character of their own, and the keypad's, which stand for other keys.
constexpr std::pair<uint32_t, int> kNamedKeys[] = {
    {XKB_KEY_Escape, Qt::Key_Escape},
    {XKB_KEY_Tab, Qt::Key_Tab},
    {XKB_KEY_ISO_Left_Tab, Qt::Key_Backtab},
    {XKB_KEY_BackSpace, Qt::Key_Backspace},
    {XKB_KEY_Return, Qt::Key_Return},
    {XKB_KEY_Insert, Qt::Key_Insert},
    {XKB_KEY_Delete, Qt::Key_Delete},
    {XKB_KEY_Pause, Qt::Key_Pause},
    {XKB_KEY_Print, Qt::Key_Print},
    {XKB_KEY_Clear, Qt::Key_Clear},
    {XKB_KEY_Home, Qt::Key_Home},
    {XKB_KEY_End, Qt::Key_End},
    {XKB_KEY_Left, Qt::Key_Left},
    {XKB_KEY_Up, Qt::Key_Up},
    {XKB_KEY_Right, Qt::Key_Right},
    {XKB_KEY_Down, Qt::Key_Down},
    {XKB_KEY_Prior, Qt::Key_PageUp},
    {XKB_KEY_Next, Qt::Key_PageDown},
    {XKB_KEY_Menu, Qt::Key_Menu},
    {XKB_KEY_Shift_L, Qt::Key_Shift},
    {XKB_KEY_Shift_R, Qt::Key_Shift},
    {XKB_KEY_Control_L, Qt::Key_Control},
    {XKB_KEY_Control_R, Qt::Key_Control},
    {XKB_KEY_Alt_L, Qt::Key_Alt},
    {XKB_KEY_Alt_R, Qt::Key_Alt},
    {XKB_KEY_Meta_L, Qt::Key_Meta},
    {XKB_KEY_Meta_R, Qt::Key_Meta},
    {XKB_KEY_Super_L, Qt::Key_Super_L},
    {XKB_KEY_Super_R, Qt::Key_Super_R},
    {XKB_KEY_ISO_Level3_Shift, Qt::Key_AltGr},
    {XKB_KEY_Caps_Lock, Qt::Key_CapsLock},
    {XKB_KEY_Num_Lock, Qt::Key_NumLock},
    {XKB_KEY_Scroll_Lock, Qt::Key_ScrollLock},
    {XKB_KEY_KP_Enter, Qt::Key_Enter},
    {XKB_KEY_KP_Tab, Qt::Key_Tab},
    {XKB_KEY_KP_Space, Qt::Key_Space},
    {XKB_KEY_KP_Home, Qt::Key_Home},
    {XKB_KEY_KP_End, Qt::Key_End},
    {XKB_KEY_KP_Left, Qt::Key_Left},
    {XKB_KEY_KP_Up, Qt::Key_Up},
    {XKB_KEY_KP_Right, Qt::Key_Right},
    {XKB_KEY_KP_Down, Qt::Key_Down},
    {XKB_KEY_KP_Prior, Qt::Key_PageUp},
    {XKB_KEY_KP_Next, Qt::Key_PageDown},
    {XKB_KEY_KP_Begin, Qt::Key_Clear},
    {XKB_KEY_KP_Insert, Qt::Key_Insert},
    {XKB_KEY_KP_Delete, Qt::Key_Delete},
    {XKB_KEY_KP_Equal, Qt::Key_Equal},
    {XKB_KEY_KP_Multiply, Qt::Key_Asterisk},
    {XKB_KEY_KP_Add, Qt::Key_Plus},
    {XKB_KEY_KP_Separator, Qt::Key_Comma},
    {XKB_KEY_KP_Subtract, Qt::Key_Minus},
    {XKB_KEY_KP_Decimal, Qt::Key_Period},
    {XKB_KEY_KP_Divide, Qt::Key_Slash},
};

bool onTheKeypad(uint32_t keysym) {
    return keysym >= XKB_KEY_KP_Space && keysym <= XKB_KEY_KP_9;
}

} // namespace

int qtKeyForKeysym(uint32_t keysym) {
    for (const auto& [sym, key] : kNamedKeys)
        if (sym == keysym)
            return key;
    if (keysym >= XKB_KEY_KP_0 && keysym <= XKB_KEY_KP_9)
        return Qt::Key_0 + int(keysym - XKB_KEY_KP_0);
    if (keysym >= XKB_KEY_F1 && keysym <= XKB_KEY_F35)
        return Qt::Key_F1 + int(keysym - XKB_KEY_F1);
    const uint32_t ucs4 = xkb_keysym_to_utf32(keysym);
    if (ucs4 >= 0x20 && ucs4 != 0x7f)
        return int(QChar::toUpper(char32_t(ucs4)));
    return Qt::Key_unknown;
}

XkbKeyboard::XkbKeyboard() : context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {}

XkbKeyboard::~XkbKeyboard() {
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

bool XkbKeyboard::setKeymap(const char* text, std::size_t size) {
    if (!context_ || !text || size == 0)
        return false;
    // The mapped text ends in a NUL the size counts.
    xkb_keymap* keymap = xkb_keymap_new_from_buffer(context_, text, strnlen(text, size),
                                                    XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    xkb_state* state = keymap ? xkb_state_new(keymap) : nullptr;
    if (!state) {
        xkb_keymap_unref(keymap);
        return false;
    }
    xkb_state_unref(state_);
    xkb_keymap_unref(keymap_);
    keymap_ = keymap;
    state_ = state;
    return true;
}

void XkbKeyboard::updateModifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group) {
    if (state_)
        xkb_state_update_mask(state_, depressed, latched, locked, 0, 0, group);
}

Qt::KeyboardModifiers XkbKeyboard::modifiers() const {
    Qt::KeyboardModifiers out;
    if (!state_)
        return out;
    const auto active = [this](const char* name) {
        return xkb_state_mod_name_is_active(state_, name, XKB_STATE_MODS_EFFECTIVE) > 0;
    };
    if (active(XKB_MOD_NAME_SHIFT))
        out |= Qt::ShiftModifier;
    if (active(XKB_MOD_NAME_CTRL))
        out |= Qt::ControlModifier;
    if (active(XKB_MOD_NAME_ALT))
        out |= Qt::AltModifier;
    if (active(XKB_MOD_NAME_LOGO))
        out |= Qt::MetaModifier;
    return out;
}

std::unique_ptr<QKeyEvent> XkbKeyboard::event(uint32_t evdevCode, bool pressed, bool autoRepeat) const {
    if (!state_)
        return nullptr;
    const xkb_keycode_t code = evdevCode + 8;
    const xkb_keysym_t keysym = xkb_state_key_get_one_sym(state_, code);
    std::array<char, 64> utf8{};
    xkb_state_key_get_utf8(state_, code, utf8.data(), utf8.size());
    Qt::KeyboardModifiers modifiers = this->modifiers();
    if (onTheKeypad(keysym))
        modifiers |= Qt::KeypadModifier;
    return std::make_unique<QKeyEvent>(pressed ? QEvent::KeyPress : QEvent::KeyRelease,
                                       qtKeyForKeysym(keysym), modifiers, code, keysym, 0,
                                       QString::fromUtf8(utf8.data()), autoRepeat);
}

bool XkbKeyboard::repeats(uint32_t evdevCode) const {
    return keymap_ && xkb_keymap_key_repeats(keymap_, evdevCode + 8);
}

} // namespace glimra::wayland
