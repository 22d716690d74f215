#pragma once
// Plain rectangles and points in the y-up frames the capture and the interface toolkit reason in
// (origin bottom-left, y growing upwards), with the handful of rectangle functions their arithmetic
// is written against. Sizes may be negative while a drag crosses an edge; the functions say how they
// treat that. Qt's y-down types meet these only at the few places that convert.

#include <algorithm>
#include <cmath>

struct CGPoint {
    double x = 0;
    double y = 0;
    friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGSize {
    double width = 0;
    double height = 0;
    friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    friend bool operator==(const CGRect&, const CGRect&) = default;
};

using NSPoint = CGPoint;
using NSSize = CGSize;
using NSRect = CGRect;

inline constexpr CGRect NSZeroRect{};

inline CGPoint NSMakePoint(double x, double y) {
    return {x, y};
}
inline CGSize NSMakeSize(double w, double h) {
    return {w, h};
}
inline CGRect NSMakeRect(double x, double y, double w, double h) {
    return {{x, y}, {w, h}};
}

inline double NSMinX(const CGRect& r) {
    return r.origin.x;
}
inline double NSMinY(const CGRect& r) {
    return r.origin.y;
}
inline double NSMaxX(const CGRect& r) {
    return r.origin.x + r.size.width;
}
inline double NSMaxY(const CGRect& r) {
    return r.origin.y + r.size.height;
}
inline double NSMidX(const CGRect& r) {
    return r.origin.x + r.size.width * 0.5;
}
inline double NSMidY(const CGRect& r) {
    return r.origin.y + r.size.height * 0.5;
}
inline double NSWidth(const CGRect& r) {
    return r.size.width;
}
inline double NSHeight(const CGRect& r) {
    return r.size.height;
}

inline bool NSEqualRects(const CGRect& a, const CGRect& b) {
    return a == b;
}
inline bool NSEqualSizes(const CGSize& a, const CGSize& b) {
    return a == b;
}
inline bool NSEqualPoints(const CGPoint& a, const CGPoint& b) {
    return a == b;
}

enum NSRectEdge { NSMinXEdge = 0, NSMinYEdge = 1, NSMaxXEdge = 2, NSMaxYEdge = 3 };

// A rectangle with no positive area.
inline bool NSIsEmptyRect(const CGRect& r) {
    return !(r.size.width > 0) || !(r.size.height > 0);
}

// Minimum edges inside, maximum edges outside; an empty rectangle holds nothing.
inline bool NSPointInRect(const CGPoint& p, const CGRect& r) {
    return !NSIsEmptyRect(r) && p.x >= NSMinX(r) && p.x < NSMaxX(r) && p.y >= NSMinY(r) && p.y < NSMaxY(r);
}

// The smallest rectangle holding both; an empty one yields the other, so folding from NSZeroRect
// does not pull the result towards the origin.
inline CGRect NSUnionRect(const CGRect& a, const CGRect& b) {
    if (NSIsEmptyRect(a))
        return NSIsEmptyRect(b) ? NSZeroRect : b;
    if (NSIsEmptyRect(b))
        return a;
    const double x0 = std::min(NSMinX(a), NSMinX(b));
    const double y0 = std::min(NSMinY(a), NSMinY(b));
    const double x1 = std::max(NSMaxX(a), NSMaxX(b));
    const double y1 = std::max(NSMaxY(a), NSMaxY(b));
    return {{x0, y0}, {x1 - x0, y1 - y0}};
}

// The overlap; NSZeroRect when there is none.
inline CGRect NSIntersectionRect(const CGRect& a, const CGRect& b) {
    const double x0 = std::max(NSMinX(a), NSMinX(b));
    const double y0 = std::max(NSMinY(a), NSMinY(b));
    const double x1 = std::min(NSMaxX(a), NSMaxX(b));
    const double y1 = std::min(NSMaxY(a), NSMaxY(b));
    if (x1 <= x0 || y1 <= y0)
        return NSZeroRect;
    return {{x0, y0}, {x1 - x0, y1 - y0}};
}

inline bool NSIntersectsRect(const CGRect& a, const CGRect& b) {
    return !NSIsEmptyRect(NSIntersectionRect(a, b));
}

// Whether b lies wholly inside a (edges may touch); an empty b lies nowhere.
inline bool NSContainsRect(const CGRect& a, const CGRect& b) {
    return !NSIsEmptyRect(b) && NSMinX(b) >= NSMinX(a) && NSMinY(b) >= NSMinY(a) && NSMaxX(b) <= NSMaxX(a) &&
           NSMaxY(b) <= NSMaxY(a);
}

// Origin rounded down, far edges rounded up; an empty rectangle becomes NSZeroRect.
inline CGRect NSIntegralRect(const CGRect& r) {
    if (NSIsEmptyRect(r))
        return NSZeroRect;
    const double x0 = std::floor(NSMinX(r));
    const double y0 = std::floor(NSMinY(r));
    return {{x0, y0}, {std::ceil(NSMaxX(r)) - x0, std::ceil(NSMaxY(r)) - y0}};
}

inline CGRect NSOffsetRect(const CGRect& r, double dx, double dy) {
    return {{r.origin.x + dx, r.origin.y + dy}, r.size};
}

inline CGRect NSInsetRect(const CGRect& r, double dx, double dy) {
    return {{r.origin.x + dx, r.origin.y + dy}, {r.size.width - 2 * dx, r.size.height - 2 * dy}};
}
