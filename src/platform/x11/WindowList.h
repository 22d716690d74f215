#pragma once
// The windows on the desktop front to back, read from the window manager's EWMH client list and the
// root window's children, and the rectangle a single window shows on screen.

#include "display/WindowInfo.h"

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

class WindowList {
public:
    // Bounds are measured against the screens' scales as the list is read.
    WindowList(XcbConnection& connection, ScreenList& screens);

    // See X11WindowServer::copyWindowInfo.
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
