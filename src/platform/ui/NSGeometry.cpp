#include "NSGeometry.h"

#include <algorithm>
#include <cmath>

namespace glimra {

NSRect NSUnionRect(const NSRect& a, const NSRect& b) {
    if (NSIsEmptyRect(a))
        return NSIsEmptyRect(b) ? NSZeroRect : b;
    if (NSIsEmptyRect(b))
        return a;
    const double x = std::min(NSMinX(a), NSMinX(b));
    const double y = std::min(NSMinY(a), NSMinY(b));
    return NSMakeRect(x, y, std::max(NSMaxX(a), NSMaxX(b)) - x, std::max(NSMaxY(a), NSMaxY(b)) - y);
}

NSRect NSIntegralRect(const NSRect& r) {
    if (NSIsEmptyRect(r))
        return NSZeroRect;
    const double x = std::floor(NSMinX(r));
    const double y = std::floor(NSMinY(r));
    return NSMakeRect(x, y, std::ceil(NSMaxX(r)) - x, std::ceil(NSMaxY(r)) - y);
}

} // namespace glimra
