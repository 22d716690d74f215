#include "x11/XcbConnection.h"

#include "Log.h"

namespace glimra::x11 {

void logLine(const QString& text) {
    writeLogLine(QStringLiteral("Window server: ") + text);
}

QString hexId(uint32_t id) {
    return QStringLiteral("0x") + QString::number(id, 16);
}

std::unique_ptr<XcbConnection> XcbConnection::open() {
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (!c || xcb_connection_has_error(c)) {
        if (c)
            xcb_disconnect(c);
        const QByteArray display = qgetenv("DISPLAY");
        logLine(
            QStringLiteral("cannot connect to the X display \"%1\"").arg(QString::fromLocal8Bit(display)));
        return nullptr;
    }
    const xcb_screen_t* screen = nullptr;
    auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; it.rem; ++i, xcb_screen_next(&it))
        if (i == screenNumber)
            screen = it.data;
    if (!screen) {
        xcb_disconnect(c);
        logLine(QStringLiteral("the X display has no screen %1").arg(screenNumber));
        return nullptr;
    }
    return std::unique_ptr<XcbConnection>(new XcbConnection(c, screen));
}

XcbConnection::XcbConnection(xcb_connection_t* c, const xcb_screen_t* screen) : c_(c), screen_(screen) {}

XcbConnection::~XcbConnection() {
    xcb_disconnect(c_);
}

// Errors of requests nobody waits for arrive as events; nothing here selects events, so whatever is
// queued is such an error and only needs dropping, lest the queue grow for ever.
bool XcbConnection::ready(const char* operation) {
    while (xcb_generic_event_t* e = xcb_poll_for_event(c_))
        std::free(e);
    if (broken()) {
        logLine(QStringLiteral("%1 failed: the connection to the X server is broken").arg(operation));
        return false;
    }
    return true;
}

bool XcbConnection::broken() const {
    return xcb_connection_has_error(c_) != 0;
}

QRect XcbConnection::rootRect() {
    Reply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, root()), nullptr));
    return g ? QRect(0, 0, g->width, g->height) : QRect();
}

xcb_get_property_cookie_t XcbConnection::requestProperty(xcb_window_t window, xcb_atom_t property,
                                                         uint32_t longs) {
    return xcb_get_property(c_, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, longs);
}

Reply<xcb_get_property_reply_t> XcbConnection::propertyReply(xcb_get_property_cookie_t cookie) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(c_, cookie, &error));
    std::free(error);
    return r;
}

std::vector<uint32_t> XcbConnection::values32(xcb_get_property_cookie_t cookie) {
    auto r = propertyReply(cookie);
    if (!r || r->format != 32)
        return {};
    const auto* v = static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
    return std::vector<uint32_t>(v, v + xcb_get_property_value_length(r.get()) / 4);
}

std::optional<uint32_t> XcbConnection::cardinal(xcb_get_property_cookie_t cookie) {
    const std::vector<uint32_t> v = values32(cookie);
    return v.empty() ? std::nullopt : std::optional<uint32_t>(v.front());
}

QString XcbConnection::text(xcb_get_property_cookie_t cookie) {
    auto r = propertyReply(cookie);
    if (!r || r->format != 8)
        return QString();
    QByteArray bytes(static_cast<const char*>(xcb_get_property_value(r.get())),
                     xcb_get_property_value_length(r.get()));
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return r->type == XCB_ATOM_STRING ? QString::fromLatin1(bytes) : QString::fromUtf8(bytes);
}

} // namespace glimra::x11
