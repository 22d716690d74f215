#pragma once
// The pointer's look: the arrow the resize panel puts back over the helper's windows, and hiding the
// pointer on the whole desktop.
//
// A cursor belongs to a window (X11 has no "current cursor" of an application), so set() takes the
// windows it applies to. Hiding is the desktop's (Desktop.h): on X11 the pointer is hidden everywhere,
// over other applications too, until this process shows it again or ends; a Wayland client shapes the
// pointer over its own surfaces only, so there it is blanked over every window of this process.

#include <Qt>

class QWindow;

namespace glimra {

class NSCursor {
public:
    static NSCursor arrowCursor() { return NSCursor(Qt::ArrowCursor); }

    void set(QWindow* window) const;
    // The shape over every window of this process, as far as X11 has an application's cursor.
    void set() const;

    // Hides the pointer on the whole desktop. Calls nest: each hide needs its unhide.
    static void hide();
    // Undoes one earlier hide; an unhide without a hide to undo does nothing.
    static void unhide();
    // Hides this process has made and not yet undone.
    static int hiddenCount();

private:
    explicit NSCursor(Qt::CursorShape shape) : shape_(shape) {}
    Qt::CursorShape shape_;
};

} // namespace glimra
