#pragma once
// The pointer's look: the three shapes the capture shows over its own windows, and hiding the
// pointer on the whole desktop.
//
// X11 has no "current cursor" of an application: a cursor belongs to a window, so set() takes the
// windows it applies to. Hiding goes through XFixes and hides the pointer everywhere, over other
// applications too, until this process shows it again or its connection to the X server ends. A
// Wayland client shapes the pointer over its own surfaces only: there hiding blanks it over every
// window of this process.

#include <Qt>

class QWindow;

namespace glimra {

class NSCursor {
public:
    static NSCursor arrowCursor() { return NSCursor(Qt::ArrowCursor); }
    static NSCursor openHandCursor() { return NSCursor(Qt::OpenHandCursor); }
    static NSCursor closedHandCursor() { return NSCursor(Qt::ClosedHandCursor); }

    Qt::CursorShape shape() const { return shape_; }
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
