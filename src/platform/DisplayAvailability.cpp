#include "DisplayAvailability.h"

#include <QByteArray>
#include <QStringList>

#include <xcb/xcb.h>

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace glimra {
namespace {

// The whole connection set-up, authorisation included: what Qt's xcb platform needs to start.
bool canReachX11(QString* why) {
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty()) {
        *why = QStringLiteral("DISPLAY is not set");
        return false;
    }
    xcb_connection_t* connection = xcb_connect(display.constData(), nullptr);
    const bool reached = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    if (!reached)
        *why = QStringLiteral("cannot connect to the X display %1").arg(QString::fromLocal8Bit(display));
    return reached;
}

// The socket the Wayland client library connects to; a compositor listening on it is enough to know.
bool canReachWayland(QString* why) {
    if (qEnvironmentVariableIsSet("WAYLAND_SOCKET")) // a connection handed over by the compositor
        return true;
    const QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty()) {
        *why = QStringLiteral("WAYLAND_DISPLAY is not set");
        return false;
    }
    const QByteArray path = name.startsWith('/') ? name : qgetenv("XDG_RUNTIME_DIR") + '/' + name;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    bool reached = false;
    if (size_t(path.size()) < sizeof address.sun_path) {
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        reached = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0)
            close(fd);
    }
    if (!reached)
        *why = QStringLiteral("cannot connect to the Wayland display %1").arg(QString::fromLocal8Bit(path));
    return reached;
}

} // namespace

QString whyNoDisplay() {
    bool x11 = true;
    bool wayland = true;
    // "wayland;xcb", "xcb:option=value": the platforms Qt tries, in order.
    const QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    if (!platforms.isEmpty()) {
        x11 = wayland = false;
        for (const QByteArray& platform : platforms.split(';')) {
            if (platform.startsWith("xcb"))
                x11 = true;
            else if (platform.startsWith("wayland"))
                wayland = true;
            else
                return {};
        }
    }
    QStringList reasons;
    QString why;
    if (x11) {
        if (canReachX11(&why))
            return {};
        reasons << why;
    }
    if (wayland) {
        if (canReachWayland(&why))
            return {};
        reasons << why;
    }
    return reasons.join(QStringLiteral("; "));
}

} // namespace glimra
