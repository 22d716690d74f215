#pragma once
// The overlay desktop of a Wayland session: screens and snapshots through the Wayland window server
// (which must outlive it), the windows through Qt's own connection.

#include "overlay/OverlayDesktop.h"

namespace glimra::wayland {

std::unique_ptr<OverlayDesktop> makeWaylandOverlayDesktop(WindowServer& windowServer);

} // namespace glimra::wayland
