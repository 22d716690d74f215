#pragma once
// The X11 overlay desktop: screens and snapshots through the X11 window server (which must outlive it),
// the windows through Qt's own connection.

#include "overlay/OverlayDesktop.h"

namespace glimra::x11 {

class X11WindowServer;

// nullptr (with a log line) when Qt does not talk to an X server.
std::unique_ptr<OverlayDesktop> makeX11OverlayDesktop(X11WindowServer& windowServer);

} // namespace glimra::x11
