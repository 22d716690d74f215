#pragma once
// Which display server the helper talks to, chosen once at start-up, before the application object is
// made: the desktop (Desktop.h), and with it grabs, screens, windows, the overlay and hot keys, follows
// from it.
//
// In a Wayland session the helper is a native Wayland client: XWayland's root window shows only the X11
// windows and its key grabs fire only while an X11 window has the keyboard, so it is never used.
// GLIMRA_PLATFORM=x11|wayland overrides the choice (tests, diagnosis). Qt is told through
// QT_QPA_PLATFORM, unless that names a platform of neither kind (offscreen, vnc: taken at its word).
//
// Qt ends the process (SIGABRT) when none of its platforms can connect; asked beforehand, a program the
// session bus started in a session without a display says so and exits with a status instead.

#include <QString>

namespace glimra {

enum class DisplayServer { X11, Wayland, Other };

struct DisplayServerChoice {
    DisplayServer server = DisplayServer::Other;
    // Why no display can be reached; empty when the chosen one can.
    QString whyNot;
    // Anything worth a line in the log about the choice (an override, a fallback); may be empty.
    QString note;
};

// Chooses from the environment, checks that the chosen display answers (falling back to the other kind
// when only that one does and nothing forced the choice) and sets QT_QPA_PLATFORM to match. Everything
// of the desktop follows from the answer, through the desktop loaded for it (DesktopLoader.h).
DisplayServerChoice chooseDisplayServer();

} // namespace glimra
