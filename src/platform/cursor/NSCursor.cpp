#include "cursor/NSCursor.h"

#include "Desktop.h"

#include <QCursor>
#include <QGuiApplication>
#include <QWindow>

namespace glimra {

void NSCursor::set(QWindow* window) const {
    if (window)
        window->setCursor(QCursor(shape_));
}

void NSCursor::set() const {
    for (QWindow* window : QGuiApplication::topLevelWindows())
        set(window);
}

void NSCursor::hide() {
    Desktop::current().hideCursor();
}

void NSCursor::unhide() {
    Desktop::current().unhideCursor();
}

int NSCursor::hiddenCount() {
    return Desktop::current().hiddenCursorCount();
}

} // namespace glimra
