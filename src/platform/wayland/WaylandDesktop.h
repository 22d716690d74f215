#pragma once
// The desktop of a Wayland session, with Qt on its Wayland platform, and its compositor's parts: sway
// (the window list and the focused output over its IPC, the hot keys as its bindings), KWin (screens
// copied through ScreenShot2), GNOME (the shortcuts the user binds in its settings, GnomeShortcuts.h),
// and any other compositor by the protocols it offers. Screens are copied through the first road the
// compositor offers (OutputCopier.h), the overlay drawn on the layer shell where there is one; a client
// sees the pointer only over its own surfaces, so the mouse monitor reports nothing and a hidden pointer
// is a blank one over the helper's windows.
//
// The overlay's seat and the keymap that names the hot keys share one connection of the helper's own;
// the window server keeps another, so that a copy, which waits on its connection, never runs the
// overlay's input in its middle.

#include "Desktop.h"

#include <memory>

namespace glimra::wayland {

enum class Compositor { Sway, KWin, Gnome, Other };

class WaylandDesktop final : public Desktop {
public:
    explicit WaylandDesktop(Compositor compositor);
    ~WaylandDesktop() override;

    QString name() const override;
    DesktopCapabilities capabilities() override;
    std::unique_ptr<WindowServer> makeWindowServer() override;
    std::unique_ptr<OverlayDesktop> makeOverlayDesktop(WindowServer& windowServer) override;
    std::unique_ptr<PanelDesktop> makePanelDesktop() override;
    std::unique_ptr<MouseEventSource> makeMouseEventSource() override;
    Qt::WindowFlags panelWindowFlags() const override;
    void beep() override;

protected:
    std::unique_ptr<carbon::HotKeyBackend> makeOwnHotKeyBackend() override;
    bool hidePointer() override;
    bool showPointer() override;

private:
    class SeatConnection;

    Compositor compositor_;
    // Shared with what the desktop hands out, which may outlive it.
    std::shared_ptr<SeatConnection> seat_;
};

} // namespace glimra::wayland
