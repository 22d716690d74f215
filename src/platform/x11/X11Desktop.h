#pragma once
// The desktop of an X11 session, with Qt on its xcb platform: the window server on a connection of its
// own, the overlay's and panels' windows shaped and stacked through Qt's connection, hot keys grabbed
// on the root window, the pointer followed through XInput 2 and hidden through XFixes, the X bell, and
// XEmbed system trays besides StatusNotifierItem hosts.

#include "Desktop.h"

#include <optional>

struct xcb_connection_t;

namespace glimra::x11 {

class X11Desktop final : public Desktop {
public:
    QString name() const override { return QStringLiteral("X11"); }
    DesktopCapabilities capabilities() override;
    std::unique_ptr<WindowServer> makeWindowServer() override;
    std::unique_ptr<OverlayDesktop> makeOverlayDesktop(WindowServer& windowServer) override;
    std::unique_ptr<PanelDesktop> makePanelDesktop() override;
    std::unique_ptr<MouseEventSource> makeMouseEventSource() override;
    Qt::WindowFlags panelWindowFlags() const override;
    void beep() override;
    bool hasXEmbedTrays() const override { return true; }
    bool xembedTrayRuns() override;

protected:
    std::unique_ptr<carbon::HotKeyBackend> makeOwnHotKeyBackend() override;
    bool hidePointer() override;
    bool showPointer() override;

private:
    // Hide and show need XFixes 4; the server holds every client to the version it asked for.
    bool xfixesReady(xcb_connection_t* c);

    std::optional<bool> xfixes_;
};

// Qt's own connection to the X server: the one its windows live on, and whose end takes a hidden
// pointer back. nullptr where Qt does not run on X11.
xcb_connection_t* qtConnection();

} // namespace glimra::x11
