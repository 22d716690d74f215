#pragma once
// One window of the desktop's window list, as the display server describes it: the frontmost window
// under a point is what a click in the region capture snaps.

#include <QRectF>
#include <QString>

#include <cstdint>

namespace glimra {

// A window's number as its window server hands it out (in its window list, or for a window of the
// helper's own through OverlayDesktop::windowNumberOf): to everyone else only a name to compare and to
// give back. On X11 the client's own window id (the id its application, _NET_ACTIVE_WINDOW,
// QWidget::winId() and xdotool know, which stays the same when the window manager re-frames it; windows
// that no window manager frames, such as override-redirect menus and overlays, are listed under their
// own id); on sway the container's id.
using WindowNumber = uint32_t;
// No window at all.
inline constexpr WindowNumber kNoWindow = 0;

// One window of the window list.
struct WindowInfo {
    WindowNumber number = kNoWindow;
    // The outer frame (decorations included) in global display coordinates, points.
    QRectF bounds;
    QString name;        // the title (on X11 _NET_WM_NAME, else WM_NAME); empty without one
    qint64 ownerPid = 0; // the owning process, 0 when not known
    float alpha = 1.0f;  // the window's opacity (X11: _NET_WM_WINDOW_OPACITY / 0xffffffff); 1.0 when not set
    enum class Kind { Normal, Dock, Desktop, Other } kind = Kind::Normal; // X11: from _NET_WM_WINDOW_TYPE
    bool onScreen = false;                                                // mapped and not hidden
};

} // namespace glimra
