#include "wayland/WaylandDesktop.h"

#include "display/WindowServer.h"
#include "hotkeys/HotKeyBackend.h"
#include "hotkeys/MouseEventSource.h"
#include "panel/PanelDesktop.h"
#include "sound/NSSound.h"
#include "wayland/PortalHotKeys.h"
#include "wayland/SwayHotKeys.h"
#include "wayland/WaylandConnection.h"
#include "wayland/WaylandOverlayDesktop.h"
#include "wayland/WaylandWindowServer.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)

namespace glimra::wayland {

// The connection whoever asks shares for as long as one of them holds it: a new one once they all let
// go, or once the compositor went away (sway restarting).
class WaylandDesktop::SeatConnection {
public:
    std::shared_ptr<WaylandConnection> get() {
        std::shared_ptr<WaylandConnection> connection = current_.lock();
        if (!connection || connection->broken()) {
            connection = WaylandConnection::connect();
            current_ = connection;
        }
        return connection;
    }

private:
    std::weak_ptr<WaylandConnection> current_;
};

WaylandDesktop::WaylandDesktop(Compositor compositor)
    : compositor_(compositor), seat_(std::make_shared<SeatConnection>()) {}

WaylandDesktop::~WaylandDesktop() = default;

QString WaylandDesktop::name() const {
    switch (compositor_) {
    case Compositor::Sway:
        return QStringLiteral("sway");
    case Compositor::KWin:
        return QStringLiteral("KWin");
    case Compositor::Gnome:
        return QStringLiteral("GNOME");
    case Compositor::Other:
        break;
    }
    return QStringLiteral("Wayland");
}

DesktopCapabilities WaylandDesktop::capabilities() {
    DesktopCapabilities can;
    can.snapsWindows = compositor_ == Compositor::Sway;
    // The direct roads of OutputCopier.h: sway's screencopy, KWin's ScreenShot2; GNOME has neither, and
    // another compositor says whether it offers a copy protocol.
    switch (compositor_) {
    case Compositor::Sway:
    case Compositor::KWin:
        can.copiesScreensDirectly = true;
        break;
    case Compositor::Gnome:
        break;
    case Compositor::Other:
        if (const std::shared_ptr<WaylandConnection> connection = seat_->get())
            can.copiesScreensDirectly = connection->offers("ext_image_copy_capture_manager_v1") ||
                                        connection->offers("zwlr_screencopy_manager_v1");
        break;
    }
    can.shortcuts = compositor_ == Compositor::Sway ? DesktopCapabilities::Shortcuts::Compositor
                    : portalOffered()               ? DesktopCapabilities::Shortcuts::Portal
                                                    : DesktopCapabilities::Shortcuts::None;
    return can;
}

std::unique_ptr<WindowServer> WaylandDesktop::makeWindowServer() {
    return WaylandWindowServer::connect(compositor_ == Compositor::Sway);
}

std::unique_ptr<OverlayDesktop> WaylandDesktop::makeOverlayDesktop(WindowServer& windowServer) {
    return makeWaylandOverlayDesktop(windowServer, seat_->get());
}

std::unique_ptr<PanelDesktop> WaylandDesktop::makePanelDesktop() {
    // A Wayland compositor always shows what lies beneath a translucent window.
    return std::make_unique<TranslucentPanelDesktop>();
}

std::unique_ptr<carbon::HotKeyBackend> WaylandDesktop::makeOwnHotKeyBackend() {
    // On sway a SWAYSOCK that does not answer (left from another session) leaves the portal.
    if (compositor_ == Compositor::Sway)
        if (std::unique_ptr<SwayHotKeys> bindings = SwayHotKeys::make([seat = seat_] { return seat->get(); }))
            return bindings;
    if (portalOffered())
        return std::make_unique<PortalHotKeys>();
    qCWarning(lcHotKeys, "Hot keys are unavailable: this Wayland desktop offers neither sway's IPC nor the "
                         "desktop portal");
    return std::make_unique<carbon::NoHotKeys>();
}

std::unique_ptr<MouseEventSource> WaylandDesktop::makeMouseEventSource() {
    // Wayland shows no client the pointer outside its own surfaces. The overlays cover every output, so
    // their own windows see every movement.
    return std::make_unique<NoMouseEvents>();
}

Qt::WindowFlags WaylandDesktop::panelWindowFlags() const {
    // The compositor places and stacks every window; Qt takes the hint where its shell integration can.
    return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::BypassWindowManagerHint;
}

void WaylandDesktop::beep() {
    // A Wayland client has no bell: the desktop's alert sound stands in.
    NSSound::playAlert();
}

bool WaylandDesktop::hidePointer() {
    // A client shapes the pointer over its own surfaces only: over the overlay, which covers every
    // output, a blank one is a hidden pointer.
    QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
    return true;
}

bool WaylandDesktop::showPointer() {
    QGuiApplication::restoreOverrideCursor();
    return true;
}

} // namespace glimra::wayland
