#pragma once

namespace glimra {

// The system alert: rings the X bell, or on Wayland plays the desktop's alert sound. Needs a
// QGuiApplication; without one it does nothing.
void NSBeep();

} // namespace glimra
