#pragma once
// The X11 overlay desktop: screens, snapshots and windows' own pixels through the X11 window server
// (which must outlive it), the overlay's windows through Qt's own connection, which they live on.

#include "overlay/OverlayDesktop.h"

struct xcb_connection_t;

namespace glimra {
class WindowServer;
}

namespace glimra::x11 {

// nullptr (with a log line) without Qt's connection.
std::unique_ptr<OverlayDesktop> makeX11OverlayDesktop(WindowServer& windowServer,
                                                      xcb_connection_t* qtConnection);

} // namespace glimra::x11
