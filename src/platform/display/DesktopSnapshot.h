#pragma once
// The desktop as it looked at one moment: the pixels of every screen, kept so that an overlay can
// paint over a frozen picture and a capture can be cut from exactly what the user saw, with the list
// of windows as it was then where the display server can only tell it before the overlay shows.

#include "display/DisplayGeometry.h"
#include "display/WindowInfo.h"

#include <QImage>
#include <QRect>
#include <QRectF>

#include <optional>
#include <vector>

namespace glimra {

class DesktopSnapshot {
public:
    // Pixels of a native rectangle: the whole X root window in one, or one output each where every
    // output has buffers of its own (Wayland).
    struct Plane {
        QRect native;
        QImage pixels; // native.size() pixels
    };

    // screens say where each screen's pixels lie in the planes and in global display coordinates.
    DesktopSnapshot(std::vector<Plane> planes, std::vector<ScreenGeometry> screens,
                    std::optional<std::vector<WindowInfo>> windows = std::nullopt);

    const std::vector<ScreenGeometry>& screens() const { return screens_; }
    const std::vector<Plane>& planes() const { return planes_; }
    // The windows front to back as they were; nullopt where the snapshot has no list of its own.
    const std::optional<std::vector<WindowInfo>>& windows() const { return windows_; }

    // The pixels of a native rectangle inside one plane, sharing this snapshot's memory (no copy);
    // null when no plane holds all of it.
    QImage nativePixels(const QRect& native) const;

    // A rectangle in global display coordinates (points) as a grab would have imaged it then: at the
    // highest scale of the screens it touches, black where no screen is. Null (with a log line) for an
    // empty or impossible rectangle. A rectangle that is exactly one plane's screen shares its pixels.
    QImage imageOfRect(const QRectF& rectInGlobalDisplayPoints) const;

private:
    const Plane* planeHolding(const QRect& native) const;

    std::vector<Plane> planes_;
    std::vector<ScreenGeometry> screens_;
    std::optional<std::vector<WindowInfo>> windows_;
};

} // namespace glimra
