#include "x11/X11Desktop.h"

#include "Log.h"
#include "hotkeys/HotKeyBackend.h"
#include "x11/Compositor.h"
#include "x11/X11HotKeys.h"
#include "x11/X11MouseEvents.h"
#include "x11/X11OverlayDesktop.h"
#include "x11/X11PanelDesktop.h"
#include "x11/X11WindowServer.h"

#include <QApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <string>

namespace glimra::x11 {

namespace {

xcb_window_t rootOf(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

} // namespace

xcb_connection_t* qtConnection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

DesktopCapabilities X11Desktop::capabilities() {
    return {true, true, DesktopCapabilities::Shortcuts::KeyGrabs};
}

std::unique_ptr<WindowServer> X11Desktop::makeWindowServer() {
    return X11WindowServer::connect();
}

std::unique_ptr<OverlayDesktop> X11Desktop::makeOverlayDesktop(WindowServer& windowServer) {
    return makeX11OverlayDesktop(windowServer, qtConnection());
}

std::unique_ptr<PanelDesktop> X11Desktop::makePanelDesktop() {
    return makeX11PanelDesktop(qtConnection());
}

std::unique_ptr<carbon::HotKeyBackend> X11Desktop::makeOwnHotKeyBackend() {
    return carbon::orNoHotKeys(X11HotKeys::make());
}

std::unique_ptr<MouseEventSource> X11Desktop::makeMouseEventSource() {
    return std::make_unique<X11MouseEvents>();
}

Qt::WindowFlags X11Desktop::panelWindowFlags() const {
    // Override-redirect: no frame, no placement, never activated by the window manager; it takes the
    // keyboard when asked.
    return Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::X11BypassWindowManagerHint;
}

void X11Desktop::beep() {
    // The X bell, through Qt's connection.
    QApplication::beep();
}

bool X11Desktop::xfixesReady(xcb_connection_t* c) {
    if (!xfixes_) {
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_xfixes_id);
        xcb_xfixes_query_version_reply_t* v =
            ext && ext->present
                ? xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr)
                : nullptr;
        xfixes_ = v && v->major_version >= 4;
        std::free(v);
    }
    return *xfixes_;
}

bool X11Desktop::hidePointer() {
    // Through Qt's connection: XFixes counts hides per client and shows the pointer again when the
    // client that hid it goes, so a hide lasts as long as the application.
    xcb_connection_t* c = qtConnection();
    if (!c || !xfixesReady(c)) {
        writeLogLine(QStringLiteral("Cannot hide the pointer: the X server offers no XFixes 4"));
        return false;
    }
    xcb_xfixes_hide_cursor(c, rootOf(c));
    xcb_flush(c);
    return true;
}

bool X11Desktop::showPointer() {
    xcb_connection_t* c = qtConnection();
    if (!c)
        return false;
    xcb_xfixes_show_cursor(c, rootOf(c));
    xcb_flush(c);
    return true;
}

bool X11Desktop::xembedTrayRuns() {
    // The tray of the screen Qt talks to.
    return selectionOwned(qtConnection(), "_NET_SYSTEM_TRAY_S" + std::to_string(displayScreenNumber()));
}

} // namespace glimra::x11
