// The one place that picks the overlay desktop and the window server for the display server the
// application runs on.

#include "DisplayServer.h"
#include "Log.h"
#include "overlay/OverlayDesktop.h"
#include "wayland/WaylandOverlayDesktop.h"
#include "wayland/WaylandWindowServer.h"
#include "x11/X11OverlayDesktop.h"
#include "x11/X11WindowServer.h"

#include <QGuiApplication>

namespace glimra {

std::unique_ptr<WindowServer> WindowServer::connect() {
    switch (currentDisplayServer()) {
    case DisplayServer::Wayland:
        return wayland::WaylandWindowServer::connect();
    case DisplayServer::X11:
        return x11::X11WindowServer::connect();
    case DisplayServer::Other:
        break;
    }
    writeLogLine(QStringLiteral("No window server on the platform \"%1\": nothing can be captured")
                     .arg(qGuiApp ? QGuiApplication::platformName() : QString()));
    return nullptr;
}

std::unique_ptr<OverlayDesktop> makeOverlayDesktop(WindowServer& windowServer) {
    if (auto* x11 = dynamic_cast<x11::X11WindowServer*>(&windowServer))
        return x11::makeX11OverlayDesktop(*x11);
    if (dynamic_cast<wayland::WaylandWindowServer*>(&windowServer))
        return wayland::makeWaylandOverlayDesktop(windowServer);
    writeLogLine(QStringLiteral("The overlay has no desktop to show on"));
    return nullptr;
}

} // namespace glimra
