#pragma once
// The overlay desktop of a Wayland session: screens and snapshots through the Wayland window server
// (which must outlive it), the overlay on the layer shell over the seat's connection where the
// compositor has one, else the windows through Qt's own connection.

#include "overlay/OverlayDesktop.h"

namespace glimra {
class WindowServer;
}

namespace glimra::wayland {

class WaylandConnection;

// seat: the connection the overlay's surfaces, pointer and keys live on (may be null: no layer shell).
std::unique_ptr<OverlayDesktop> makeWaylandOverlayDesktop(WindowServer& windowServer,
                                                          std::shared_ptr<WaylandConnection> seat);

} // namespace glimra::wayland
