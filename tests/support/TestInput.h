#pragma once
// Keys and the pointer as a person works them, on the display server the test session runs: XTest on
// X11, virtual devices on Wayland. An input test written against this runs in both sessions.

#include <cstdint>
#include <initializer_list>
#include <memory>

namespace glimra::test {

class TestInput {
public:
    virtual ~TestInput() = default;
    virtual bool ok() const = 0;
    // X keysyms (XK_...) on both display servers. Each event has reached the display server when the
    // call returns.
    virtual void key(uint32_t keysym, bool press) = 0;
    // The display server's global coordinates: root pixels on X11, logical layout coordinates on Wayland.
    virtual void motion(int x, int y) = 0;
    // 1 left, 2 middle, 3 right.
    virtual void button(uint8_t number, bool press) = 0;

    // Modifiers down, key down, modifiers up, key up: the release comes with the modifiers already up.
    void type(std::initializer_list<uint32_t> modifiers, uint32_t key);
    void tap(uint32_t keysym) { type({}, keysym); }
    void click(int x, int y, uint8_t number = 1);
};

// The input of the session the test runs in: on Wayland (WAYLAND_DISPLAY set) KWin's or GNOME's own
// by XDG_CURRENT_DESKTOP, else virtual devices; X11 otherwise.
std::unique_ptr<TestInput> sessionInput();

} // namespace glimra::test
