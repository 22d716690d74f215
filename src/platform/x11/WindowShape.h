#pragma once
// The X Shape extension on one window: which part of it receives the pointer (the input region) and
// which part shows at all (the bounding region). Regions are in the window's own pixels.

#include <QRegion>

#include <xcb/xcb.h>

#include <optional>

namespace glimra::x11 {

// Whether the server offers the extension at all; every call below is harmless without it.
bool shapeExtensionPresent(xcb_connection_t* connection);

// nullopt restores the whole window; an empty region lets every click through to what lies beneath.
void setInputShape(xcb_connection_t* connection, xcb_window_t window, const std::optional<QRegion>& region);

// nullopt restores the whole window; elsewhere the windows beneath show (and are painted live).
void setBoundingShape(xcb_connection_t* connection, xcb_window_t window,
                      const std::optional<QRegion>& region);

} // namespace glimra::x11
