#pragma once
// Which managers of the X screen run, by the selections they own. Above all whether a compositing
// manager runs: then translucent windows show the live desktop beneath them; without one their
// transparent pixels are whatever the X server leaves there (black on most).

#include <xcb/xcb.h>

#include <string>

namespace glimra::x11 {

// The X screen the DISPLAY variable names, the one Qt talks to.
int displayScreenNumber();

// Whether a client owns the selection of that name, as a screen's managers announce themselves (its
// compositing manager, its system tray).
bool selectionOwned(xcb_connection_t* connection, const std::string& name);

// A client owns the selection _NET_WM_CM_S<screenNumber>, as every EWMH compositing manager does.
bool compositingManagerRuns(xcb_connection_t* connection, int screenNumber);

} // namespace glimra::x11
