#include "ModifierState.h"

#include <QGuiApplication>

namespace glimra {

Qt::KeyboardModifiers ModifierState::current() const {
    // Without a GUI application there is no window system to ask.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return Qt::NoModifier;
    return QGuiApplication::queryKeyboardModifiers();
}

} // namespace glimra
