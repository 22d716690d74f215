#include "cursor/NSCursor.h"

#include "DisplayServer.h"
#include "Log.h"

#include <QCursor>
#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>

namespace glimra {

namespace {

// The count of the server's own: XFixes counts hides per client and refuses a show beyond them, so
// this process keeps its side of the count to stay balanced.
int hiddenByUs = 0;

// Qt's connection: a hide lasts as long as the connection that made it, which is the application's.
xcb_connection_t* qtConnection() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// Hide and show need XFixes 4; the server holds every client to the version it asked for.
bool xfixesReady(xcb_connection_t* c) {
    static bool ready = [c] {
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_xfixes_id);
        if (!ext || !ext->present)
            return false;
        xcb_xfixes_query_version_reply_t* v =
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr);
        const bool ok = v && v->major_version >= 4;
        std::free(v);
        return ok;
    }();
    return ready;
}

xcb_window_t rootOf(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

} // namespace

void NSCursor::set(QWindow* window) const {
    if (window)
        window->setCursor(QCursor(shape_));
}

void NSCursor::set() const {
    for (QWindow* window : QGuiApplication::topLevelWindows())
        set(window);
}

void NSCursor::hide() {
    // A Wayland client shapes the pointer over its own surfaces only: over the overlay, which covers
    // every output, a blank one is a hidden pointer.
    if (currentDisplayServer() == DisplayServer::Wayland) {
        QGuiApplication::setOverrideCursor(QCursor(Qt::BlankCursor));
        ++hiddenByUs;
        return;
    }
    xcb_connection_t* c = qtConnection();
    if (!c || !xfixesReady(c)) {
        writeLogLine(QStringLiteral("Cannot hide the pointer: the X server offers no XFixes 4"));
        return;
    }
    xcb_xfixes_hide_cursor(c, rootOf(c));
    xcb_flush(c);
    ++hiddenByUs;
}

void NSCursor::unhide() {
    if (hiddenByUs == 0)
        return;
    if (currentDisplayServer() == DisplayServer::Wayland) {
        QGuiApplication::restoreOverrideCursor();
        --hiddenByUs;
        return;
    }
    xcb_connection_t* c = qtConnection();
    if (!c)
        return;
    xcb_xfixes_show_cursor(c, rootOf(c));
    xcb_flush(c);
    --hiddenByUs;
}

int NSCursor::hiddenCount() {
    return hiddenByUs;
}

} // namespace glimra
