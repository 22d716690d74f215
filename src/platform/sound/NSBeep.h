#pragma once

namespace glimra {

// The system alert: rings the X bell. Needs a QGuiApplication; without one it does nothing.
void NSBeep();

} // namespace glimra
