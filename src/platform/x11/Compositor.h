#pragma once
// Whether a compositing manager runs: then translucent windows show the live desktop beneath them;
// without one their transparent pixels are whatever the X server leaves there (black on most).

#include <xcb/xcb.h>

namespace glimra::x11 {

// The X screen the DISPLAY variable names, the one Qt talks to.
int displayScreenNumber();

// A client owns the selection _NET_WM_CM_S<screenNumber>, as every EWMH compositing manager does.
bool compositingManagerRuns(xcb_connection_t* connection, int screenNumber);

} // namespace glimra::x11
