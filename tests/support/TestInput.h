#pragma once
// Keys and the pointer as a person works them, on the display server the test session runs: XTest on
// X11, virtual devices on Wayland. An input test written against this runs in both sessions.

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <memory>

namespace glimra::test {

class TestInput {
public:
    virtual ~TestInput() = default;
    virtual bool ok() const = 0;
    // X keysyms (XK_...) on both display servers, the key that gives it in the keyboard's layout. Each
    // event has reached the display server when the call returns.
    virtual void key(uint32_t keysym, bool press) = 0;
    // A physical key by its evdev code (KEY_...), whatever the layout puts on it.
    virtual void keyCode(uint32_t evdevCode, bool press) = 0;
    // The display server's global coordinates: root pixels on X11, logical layout coordinates on Wayland.
    virtual void motion(int x, int y) = 0;
    // 1 left, 2 middle, 3 right.
    virtual void button(uint8_t number, bool press) = 0;

    // Modifiers down, key down, modifiers up, key up: the release comes with the modifiers already up.
    void type(std::initializer_list<uint32_t> modifiers, uint32_t keysym) { press(modifiers, keysym, false); }
    void tap(uint32_t keysym) { type({}, keysym); }
    // The same with the key given by its evdev code.
    void typeCode(std::initializer_list<uint32_t> modifiers, uint32_t code) { press(modifiers, code, true); }
    void click(int x, int y, uint8_t number = 1);

private:
    void press(std::initializer_list<uint32_t> modifiers, uint32_t key, bool byCode);
};

// A keyboard layout as xkb's rules name it, and the layouts whose number row tests type on: German,
// French AZERTY (digits with Shift), Dvorak and a non-Latin one.
struct KeyboardLayoutName {
    const char* name;
    const char* layout;
    const char* variant;
    const char* description; // xkb's name of it, as a keymap gives it
};
inline constexpr KeyboardLayoutName kKeyboardLayouts[] = {{"Us", "us", "", "English (US)"},
                                                          {"German", "de", "", "German"},
                                                          {"French", "fr", "", "French"},
                                                          {"Dvorak", "us", "dvorak", "English (Dvorak)"},
                                                          {"Russian", "ru", "", "Russian"}};

// The input of the session the test runs in: on Wayland (WAYLAND_DISPLAY set) KWin's or GNOME's own
// by XDG_CURRENT_DESKTOP, else virtual devices; X11 otherwise.
std::unique_ptr<TestInput> sessionInput();
// XTest on the X display named display (DISPLAY when empty).
std::unique_ptr<TestInput> xtestInput(const QString& display);

} // namespace glimra::test
