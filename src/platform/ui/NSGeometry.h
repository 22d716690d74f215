#pragma once
// The y-up geometry of CGGeometry.h as the interface toolkit spells it (inside namespace glimra), and
// the one place where Qt's y-down rectangles meet it: flippedRect(), at the edge where a view's frame
// is read from or written to a widget.

#include "CGGeometry.h"

#include <QRectF>

namespace glimra {

using ::NSPoint;
using ::NSRect;
using ::NSSize;
using ::NSRectEdge;
using ::NSMinXEdge;
using ::NSMinYEdge;
using ::NSMaxXEdge;
using ::NSMaxYEdge;
using ::NSZeroRect;
using ::NSMakeRect;
using ::NSMinX;
using ::NSMinY;
using ::NSMaxX;
using ::NSMaxY;
using ::NSIsEmptyRect;
using ::NSEqualRects;
using ::NSEqualSizes;
using ::NSUnionRect;
using ::NSIntegralRect;

// A rectangle of one space in the other, the two being y-up and y-down about the same height.
// The same formula serves both directions.
inline NSRect flippedRect(const QRectF& r, double height) {
    return NSMakeRect(r.x(), height - r.y() - r.height(), r.width(), r.height());
}
inline QRectF flippedRect(const NSRect& r, double height) {
    return {r.origin.x, height - r.origin.y - r.size.height, r.size.width, r.size.height};
}

} // namespace glimra
