#pragma once
// A Wayland keyboard as Qt key events: the keymap the compositor sends, the modifiers it reports, and
// each key turned into the Qt key, modifiers and text a Qt window would get for it. For surfaces the
// helper draws on its own connection, whose keys Qt never sees.

#include <QKeyEvent>
#include <QString>

#include <cstdint>
#include <memory>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace glimra::wayland {

// Qt's key for an xkb keysym, as Qt's own integrations name keys: printable characters by their
// upper-case code point, the keypad's keys by the keys they stand for, editing, navigation, function
// and modifier keys by theirs; Qt::Key_unknown for none of these.
int qtKeyForKeysym(uint32_t keysym);

class XkbKeyboard {
public:
    XkbKeyboard();
    ~XkbKeyboard();
    XkbKeyboard(const XkbKeyboard&) = delete;
    XkbKeyboard& operator=(const XkbKeyboard&) = delete;

    // The compositor's keymap (XKB_KEYMAP_FORMAT_TEXT_V1 text, as wl_keyboard's keymap event maps it);
    // false (the old one kept) when it does not compile.
    bool setKeymap(const char* text, std::size_t size);
    void updateModifiers(uint32_t depressed, uint32_t latched, uint32_t locked, uint32_t group);

    // The event for the key of that evdev code (wl_keyboard's key), null without a keymap.
    std::unique_ptr<QKeyEvent> event(uint32_t evdevCode, bool pressed, bool autoRepeat = false) const;
    // Whether holding the key repeats it.
    bool repeats(uint32_t evdevCode) const;
    Qt::KeyboardModifiers modifiers() const;

private:
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
};

} // namespace glimra::wayland
