#pragma once

namespace glimra {

// The system alert, as the desktop gives it (Desktop.h): the X bell, on Wayland the desktop's alert
// sound; nothing without a display.
void NSBeep();

} // namespace glimra
