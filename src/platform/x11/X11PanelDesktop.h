#pragma once
// The panel desktop of X11: a translucent window shows the windows beneath it only under a compositing
// manager; without one the panel is cut to its box (X Shape), through Qt's connection, which its
// windows live on.

#include "panel/PanelDesktop.h"

#include <memory>

struct xcb_connection_t;

namespace glimra::x11 {

// Over Qt's connection; where Qt has none, a desktop that needs no cutting.
std::unique_ptr<PanelDesktop> makeX11PanelDesktop(xcb_connection_t* qtConnection);

} // namespace glimra::x11
