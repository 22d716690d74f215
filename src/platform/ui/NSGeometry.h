#pragma once
// Points, sizes and rectangles in y-up coordinates (origin at the bottom-left, "top" is the maximum
// y), with the rectangle arithmetic layout code is written in. Qt's y-down rectangles meet them only
// through flippedRect(), at the edge where a view's frame is read from or written to a widget.

#include <QPointF>
#include <QRectF>
#include <QSizeF>

namespace glimra {

struct NSPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const NSPoint&, const NSPoint&) = default;
};

struct NSSize {
    double width = 0;
    double height = 0;
    friend bool operator==(const NSSize&, const NSSize&) = default;
};

struct NSRect {
    NSPoint origin;
    NSSize size;
    friend bool operator==(const NSRect&, const NSRect&) = default;
};

enum NSRectEdge { NSMinXEdge = 0, NSMinYEdge = 1, NSMaxXEdge = 2, NSMaxYEdge = 3 };

inline constexpr NSRect NSZeroRect{};

inline NSRect NSMakeRect(double x, double y, double w, double h) {
    return {{x, y}, {w, h}};
}
inline double NSMinX(const NSRect& r) {
    return r.origin.x;
}
inline double NSMinY(const NSRect& r) {
    return r.origin.y;
}
inline double NSMaxX(const NSRect& r) {
    return r.origin.x + r.size.width;
}
inline double NSMaxY(const NSRect& r) {
    return r.origin.y + r.size.height;
}
inline bool NSIsEmptyRect(const NSRect& r) {
    return !(r.size.width > 0 && r.size.height > 0);
}
inline bool NSEqualRects(const NSRect& a, const NSRect& b) {
    return a == b;
}
inline bool NSEqualSizes(const NSSize& a, const NSSize& b) {
    return a == b;
}

// The smallest rectangle holding both; an empty rectangle adds nothing.
NSRect NSUnionRect(const NSRect& a, const NSRect& b);
// Whole numbers: origin rounded down, far edges rounded up; an empty rectangle gives NSZeroRect.
NSRect NSIntegralRect(const NSRect& r);

// A rectangle of one space in the other, the two being y-up and y-down about the same height.
// The same formula serves both directions.
inline NSRect flippedRect(const QRectF& r, double height) {
    return NSMakeRect(r.x(), height - r.y() - r.height(), r.width(), r.height());
}
inline QRectF flippedRect(const NSRect& r, double height) {
    return {r.origin.x, height - r.origin.y - r.size.height, r.size.width, r.size.height};
}

} // namespace glimra
