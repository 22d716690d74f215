#pragma once
// Whether a display server can be reached, asked before the application object is made: Qt ends the
// process (SIGABRT) when none of its platforms can connect, and a program started by the session bus
// in a session without a display should rather say so and exit with a status.

#include <QString>

namespace glimra {

// Why no display can be reached, or an empty string when one can: an X server ($DISPLAY) or a Wayland
// compositor ($WAYLAND_DISPLAY), whichever the platforms named in QT_QPA_PLATFORM (both when it is
// unset) connect to. A platform that needs neither (offscreen, vnc, ...) is taken at its word.
QString whyNoDisplay();

} // namespace glimra
