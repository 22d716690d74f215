#include "CrosshairSelectionGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace crosshair {

double truncatedCoordinate(double value) {
    if (!std::isfinite(value))
        return 0;
    constexpr double lowest = std::numeric_limits<int32_t>::min();
    constexpr double highest = std::numeric_limits<int32_t>::max();
    return std::trunc(std::clamp(value, lowest, highest));
}

CGPoint truncatedPoint(CGPoint p) {
    return {truncatedCoordinate(p.x), truncatedCoordinate(p.y)};
}

CGRect rectSpannedBy(CGPoint a, CGPoint b) {
    return {{std::min(a.x, b.x), std::min(a.y, b.y)}, {std::abs(a.x - b.x), std::abs(a.y - b.y)}};
}

CGPoint pointReachingScreenEdges(CGPoint p, const std::vector<CGRect>& screens) {
    const auto onAnyScreen = [&](CGPoint q) {
        return std::any_of(screens.begin(), screens.end(),
                           [&](const CGRect& s) { return NSPointInRect(q, s); });
    };
    for (const CGRect& s : screens) {
        if (!NSPointInRect(p, s))
            continue;
        CGPoint reached = p;
        if (p.x >= NSMaxX(s) - 1 && !onAnyScreen({NSMaxX(s) + 0.5, p.y}))
            reached.x = NSMaxX(s);
        if (p.y <= NSMinY(s) + 1 && !onAnyScreen({p.x, NSMinY(s) - 0.5}))
            reached.y = NSMinY(s);
        return reached;
    }
    return p;
}

CGRect sanitizedRect(CGRect r) {
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    return r;
}

CGRect withMinimumSize(CGRect r) {
    r.size.width = std::max(r.size.width, 1.0);
    r.size.height = std::max(r.size.height, 1.0);
    return r;
}

bool isWindowSnapSize(const CGRect& r) {
    return r.size.width <= 1.0 && r.size.height <= 1.0;
}

CGPoint cornerPoint(const CGRect& r, Corner corner) {
    switch (corner) {
    case kTopLeftCorner:
        return {NSMinX(r), NSMaxY(r)};
    case kTopRightCorner:
        return {NSMaxX(r), NSMaxY(r)};
    case kBottomLeftCorner:
        return {NSMinX(r), NSMinY(r)};
    case kBottomRightCorner:
        return {NSMaxX(r), NSMinY(r)};
    case kNoCorner:
        break;
    }
    return r.origin;
}

HandleMetrics HandleMetrics::forImageWidth(double width) {
    if (!(width > 0) || !std::isfinite(width))
        return {};
    return {width, std::floor(double(float(width * 0.5)))};
}

CGRect HandleMetrics::square(CGPoint corner) const {
    return NSMakeRect(corner.x - center, corner.y - center, size, size);
}

Corner handleAtPoint(CGPoint p, const CGRect& selection, const HandleMetrics& handles) {
    for (Corner corner : {kTopLeftCorner, kTopRightCorner, kBottomLeftCorner, kBottomRightCorner})
        if (NSPointInRect(p, handles.square(cornerPoint(selection, corner))))
            return corner;
    return kNoCorner;
}

CGRect resizedRect(const CornerDrag& drag, CGPoint pointer) {
    const CGRect& r0 = drag.initialRect;
    const double dX = pointer.x - drag.initialMouse.x;
    const double dY = pointer.y - drag.initialMouse.y;
    const bool leftMoves = drag.corner == kTopLeftCorner || drag.corner == kBottomLeftCorner;
    const bool topMoves = drag.corner == kTopLeftCorner || drag.corner == kTopRightCorner;
    if (drag.corner == kNoCorner)
        return r0;

    CGRect r = r0;
    if (leftMoves) {
        r.origin.x += dX;
        r.size.width -= dX;
    } else {
        r.size.width += dX;
    }
    if (topMoves) {
        r.size.height += dY;
    } else {
        r.origin.y += dY;
        r.size.height -= dY;
    }

    const double q = drag.ratio;
    if (!drag.ratioLocked || !(q > 0) || !std::isfinite(q) || r.size.width == 0)
        return r;

    // The lock grows whichever dimension is too small for the ratio, from the edge that moves.
    if (q > std::abs(r.size.height / r.size.width)) {
        const double height = truncatedCoordinate(q * r.size.width);
        if (topMoves) {
            r.size.height = height;
        } else {
            const double d = truncatedCoordinate(r.size.height - height);
            r.origin.y += d;
            r.size.height -= d;
        }
    } else {
        const double width = truncatedCoordinate(r.size.height * (1 / q));
        if (!leftMoves) {
            r.size.width = width;
        } else {
            const double d = truncatedCoordinate(r.size.width - width);
            r.origin.x += d;
            r.size.width -= d;
        }
    }

    // The derived dimension took the other one's sign; it belongs to the side of the unmoved edge the
    // pointer is on.
    const bool crossedHorizontally = leftMoves ? dX > r0.size.width : -dX > r0.size.width;
    if (crossedHorizontally ? r.size.width > 0 : r.size.width < 0) {
        r.size.width = -r.size.width;
        if (leftMoves)
            r.origin.x = NSMaxX(r0) - r.size.width;
    }
    const bool crossedVertically = topMoves ? -dY > r0.size.height : dY > r0.size.height;
    if (crossedVertically ? r.size.height > 0 : r.size.height < 0) {
        r.size.height = -r.size.height;
        if (!topMoves)
            r.origin.y = NSMaxY(r0) - r.size.height;
    }
    return r;
}

CGRect resizedWithinBounds(const CGRect& selection, CGSize size, CGSize bounds) {
    const double width = std::min(size.width, bounds.width);
    const double height = std::min(size.height, bounds.height);
    const auto inside = [](double origin, double length, double boundsLength) {
        return std::max(0.0, std::min(origin, boundsLength - length));
    };
    return NSMakeRect(inside(selection.origin.x, width, bounds.width),
                      inside(selection.origin.y, height, bounds.height), width, height);
}

CGRect flippedIntoOverlay(const CGRect& r, double boundsHeight) {
    return NSMakeRect(r.origin.x, boundsHeight - r.origin.y - r.size.height, r.size.width, r.size.height);
}

CGRect timerDisplayRect(const CGRect& s) {
    constexpr double side = 45;
    constexpr double gap = 20;
    const double x = s.origin.x + s.size.width * 0.5 - side * 0.5;
    const double y = std::max(s.origin.y - gap - side, 0.0);
    return NSIntegralRect(NSMakeRect(x, y, side, side));
}

CGPoint resizePanelOrigin(CGPoint m, const CGRect& b) {
    return {double(std::floor(float(m.x - (b.origin.x + b.size.width * 0.5)))),
            double(std::floor(float(m.y - (b.origin.y + b.size.height * 0.5))))};
}

CGPoint resizePanelOriginOnScreens(const CGRect& f, const std::vector<CGRect>& screenFrames) {
    for (const CGRect& s : screenFrames) {
        if (NSContainsRect(s, f))
            break;
        if (NSIntersectsRect(s, f))
            return {std::max(NSMinX(s), std::min(NSMinX(f), NSMaxX(s) - NSWidth(f))),
                    std::max(NSMinY(s), std::min(NSMinY(f), NSMaxY(s) - NSHeight(f)))};
    }
    return f.origin;
}

} // namespace crosshair
