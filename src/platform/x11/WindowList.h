#pragma once
// The windows on the desktop front to back, read from the window manager's EWMH client list and the
// root window's children, and the rectangle a single window shows on screen.

#include <QRect>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace glimra::x11 {

class ScreenList;
class XcbConnection;

// One window of the window list.
struct WindowInfo {
    // The client's own X window id: the id its application, _NET_ACTIVE_WINDOW, QWidget::winId() and
    // xdotool know, which stays the same when the window manager re-frames it. Windows that no window
    // manager frames (override-redirect menus, overlays) are listed under their own id.
    uint32_t number = 0;
    // The outer frame (decorations included) in global display coordinates, points.
    QRectF bounds;
    QString name;        // _NET_WM_NAME, else WM_NAME; empty when neither is set
    qint64 ownerPid = 0; // _NET_WM_PID, 0 when not set
    float alpha = 1.0f;  // _NET_WM_WINDOW_OPACITY / 0xffffffff; 1.0 when not set
    enum class Kind { Normal, Dock, Desktop, Other } kind = Kind::Normal; // from _NET_WM_WINDOW_TYPE
    bool onScreen = false;                                                // mapped and not hidden
};

class WindowList {
public:
    // Bounds are measured against the screens' scales as the list is read.
    WindowList(XcbConnection& connection, ScreenList& screens);

    // See WindowServer::copyWindowInfo.
    std::optional<std::vector<WindowInfo>> read(bool onScreenOnly, bool excludeDesktopElements);

    // The window that shows a window on screen - a managed client's frame, or the window itself - and
    // its rectangle in root pixels. nullopt (with a log line) when the window does not exist, is
    // minimised or is not mapped.
    struct Shown {
        uint32_t window = 0;
        QRect rect;
    };
    std::optional<Shown> shown(uint32_t window);

private:
    bool windowManagerRuns();
    std::optional<std::vector<uint32_t>> rootChildren();
    std::unordered_map<uint32_t, uint32_t> topLevels(const std::vector<uint32_t>& windows,
                                                     const std::unordered_set<uint32_t>& rootChildren);
    WindowInfo::Kind kindOf(const std::vector<uint32_t>& types, bool overrideRedirect) const;
    bool hidden(const std::vector<uint32_t>& states) const;

    XcbConnection& x_;
    ScreenList& screens_;
    std::vector<uint32_t> atoms_;
};

} // namespace glimra::x11
