#include "x11/WindowShape.h"

#include <xcb/shape.h>

#include <vector>

namespace glimra::x11 {

namespace {

void applyShape(xcb_connection_t* c, xcb_window_t window, xcb_shape_kind_t kind,
                const std::optional<QRegion>& region) {
    if (!shapeExtensionPresent(c) || window == XCB_NONE)
        return;
    if (!region) {
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, kind, window, 0, 0, XCB_NONE);
        return;
    }
    std::vector<xcb_rectangle_t> rects;
    rects.reserve(std::size_t(region->rectCount()));
    for (const QRect& r : *region)
        rects.push_back({int16_t(r.x()), int16_t(r.y()), uint16_t(r.width()), uint16_t(r.height())});
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED, window, 0, 0,
                         uint32_t(rects.size()), rects.data());
}

} // namespace

bool shapeExtensionPresent(xcb_connection_t* c) {
    if (!c || xcb_connection_has_error(c))
        return false;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    return shape && shape->present;
}

void setInputShape(xcb_connection_t* c, xcb_window_t window, const std::optional<QRegion>& region) {
    applyShape(c, window, XCB_SHAPE_SK_INPUT, region);
}

void setBoundingShape(xcb_connection_t* c, xcb_window_t window, const std::optional<QRegion>& region) {
    applyShape(c, window, XCB_SHAPE_SK_BOUNDING, region);
}

} // namespace glimra::x11
