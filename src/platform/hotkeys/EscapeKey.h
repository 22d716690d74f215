#pragma once
// Escape for the whole desktop while a capture runs. The capture's windows get the keyboard only once
// they show, and give it up when the user clicks another application or a panel goes away; held
// here, Escape reaches the capture wherever the keyboard focus is, and no other window sees it.

#include <functional>
#include <memory>

namespace carbon {
class HotKeyCenter;
}

namespace glimra {

class EscapeKey {
public:
    virtual ~EscapeKey() = default;

    // From now until release(), Escape released without modifiers calls onEscape on the main thread
    // (which may release the key from inside the call). False, with the reason logged, when the key
    // cannot be held (another program holds it): then it reaches only the window that has the
    // keyboard. Grabbing again while held keeps the key and replaces the handler.
    virtual bool grab(std::function<void()> onEscape) = 0;
    // Gives Escape back to the focused window; harmless when nothing is held.
    virtual void release() = 0;
};

// Escape as a hot key of the application's center (or of the center given): on X11 grabbed on the root
// window in every Caps Lock and Num Lock state, on sway bound for the time it is held. Where the desktop
// would ask the user before giving a key (the portal's shortcuts), grab() does nothing and answers
// false, saying why once. Made on the main thread, once the application object exists.
std::unique_ptr<EscapeKey> makeEscapeKey();
std::unique_ptr<EscapeKey> makeEscapeKey(carbon::HotKeyCenter& center);

} // namespace glimra
