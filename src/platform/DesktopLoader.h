#pragma once
// The one place that chooses the desktop (Desktop.h) for the session: from the display server main
// chose before the application object was made (DisplayServer.h), or from the platform Qt runs on,
// and from the compositor the session names.

#include "Desktop.h"
#include "DisplayServer.h"
#include "hotkeys/HotKeyNames.h"

#include <memory>
#include <vector>

namespace glimra {

// The desktop of that display server: X11's; on Wayland sway's where SWAYSOCK is set, KWin's or GNOME's
// as XDG_CURRENT_DESKTOP names them, else any compositor's; the null desktop for Other. The environment
// variable GLIMRA_HOTKEYS=x11|sway|portal|none puts the hot keys of that road in the place of the
// desktop's own (for diagnosis).
std::unique_ptr<Desktop> loadDesktop(DisplayServer server);
// The same for the platform the running QGuiApplication talks to: the null desktop on any other
// (offscreen) and without a QGuiApplication.
std::unique_ptr<Desktop> loadDesktopForQtPlatform();

// For the log: "windows snap, screens copied directly, shortcuts grabbed on the root window".
QString describeCapabilities(const DesktopCapabilities& capabilities);

// The shell script that binds these commands in GNOME's own settings (wayland/GnomeShortcuts.h), for
// the user to read and run whatever desktop runs now: GNOME holds no shortcuts for other programs.
QString gnomeShortcutCommands(const std::vector<hotkeys::HotKeyCommand>& commands,
                              const QString& applicationId);

} // namespace glimra
