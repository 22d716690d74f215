#pragma once
// The desktop as it looked at one moment: the pixels of every screen, kept so that an overlay can
// paint over a frozen picture and a capture can be cut from exactly what the user saw.

#include "x11/DisplayGeometry.h"

#include <QImage>
#include <QRect>
#include <QRectF>

#include <vector>

namespace glimra {

class DesktopSnapshot {
public:
    // pixels shows the native rectangle whose top-left corner is nativeOrigin; screens say where each
    // screen's pixels lie in it and in global display coordinates.
    DesktopSnapshot(QImage pixels, QPoint nativeOrigin, std::vector<x11::ScreenGeometry> screens);

    const std::vector<x11::ScreenGeometry>& screens() const { return screens_; }
    // The whole picture and where it lies, in native pixels.
    const QImage& pixels() const { return pixels_; }
    QRect nativeRect() const { return QRect(nativeOrigin_, pixels_.size()); }

    // The pixels of a native rectangle inside nativeRect(), sharing this snapshot's memory (no copy);
    // null when the rectangle is not inside.
    QImage nativePixels(const QRect& native) const;

    // A rectangle in global display coordinates (points) as WindowServer::createImage would have
    // grabbed it then: at the highest scale of the screens it touches, black where no screen is. Null
    // (with a log line) for an empty or impossible rectangle.
    QImage imageOfRect(const QRectF& rectInGlobalDisplayPoints) const;

private:
    QImage pixels_;
    QPoint nativeOrigin_;
    std::vector<x11::ScreenGeometry> screens_;
};

} // namespace glimra
