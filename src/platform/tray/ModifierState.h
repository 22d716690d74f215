#pragma once
// Where the status menu learns which modifier keys are down as it opens. The real source asks the
// window system at that moment (the menu opening is not a key event, so no event carries the flags);
// tests hand the menu code a source of their own.

#include <Qt>

namespace glimra {

class ModifierState {
public:
    virtual ~ModifierState() = default;

    // The modifier keys held on the keyboard right now.
    virtual Qt::KeyboardModifiers current() const;

    // The Option key of the description is Alt here.
    bool isOptionKeyDown() const { return current().testFlag(Qt::AltModifier); }
};

} // namespace glimra
