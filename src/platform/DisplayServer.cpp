#include "DisplayServer.h"

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

bool canReach(DisplayServer server, QString* why) {
    return server == DisplayServer::Wayland ? canReachWayland(why) : canReachX11(why);
}

const char* qtPlatform(DisplayServer server) {
    return server == DisplayServer::Wayland ? "wayland" : "xcb";
}

QString nameOf(DisplayServer server) {
    return server == DisplayServer::Wayland ? QStringLiteral("Wayland") : QStringLiteral("X11");
}

} // namespace

namespace {

QtMessageHandler qtHandlerBeforeOurs = nullptr;

// Every window of the helper is painted in software (Qt's raster engine into shared memory). Qt's
// Wayland platform would still load the system's EGL and GL drivers (Mesa's: libLLVM, a DRI driver,
// some 44 MB resident) for the first window it shows; without a client buffer integration it loads
// none. Qt names the missing integration twice in its log, which says nothing to a user here.
void paintWithoutGl() {
    if (qEnvironmentVariableIsSet("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION"))
        return;
    qputenv("QT_WAYLAND_CLIENT_BUFFER_INTEGRATION", "none");
    qtHandlerBeforeOurs =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (qstrcmp(context.category, "qt.qpa.wayland") == 0 &&
                (message.startsWith(QLatin1String("Failed to load client buffer integration: \"none\"")) ||
                 message.startsWith(QLatin1String("Available client buffer integrations"))))
                return;
            if (qtHandlerBeforeOurs)
                qtHandlerBeforeOurs(type, context, message);
            else
                qt_message_output(type, context, message);
        });
}

} // namespace

DisplayServerChoice chooseDisplayServer() {
    DisplayServerChoice choice;
    // A platform that is neither X11 nor Wayland (offscreen, vnc, ...) is taken at its word.
    const QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    if (!platforms.isEmpty() && !platforms.startsWith("xcb") && !platforms.startsWith("wayland"))
        return choice;

    const QByteArray forced = qgetenv("GLIMRA_PLATFORM").toLower();
    if (forced == "x11" || forced == "wayland") {
        choice.server = forced == "x11" ? DisplayServer::X11 : DisplayServer::Wayland;
        choice.note = QStringLiteral("Runs on %1, as GLIMRA_PLATFORM asks").arg(nameOf(choice.server));
        canReach(choice.server, &choice.whyNot);
    } else {
        if (!forced.isEmpty())
            choice.note = QStringLiteral("GLIMRA_PLATFORM=%1 is neither x11 nor wayland; it is ignored")
                              .arg(QString::fromLocal8Bit(forced));
        // A Wayland session, whatever DISPLAY says: XWayland's root shows only the X11 windows.
        const bool waylandSession = qgetenv("XDG_SESSION_TYPE") == "wayland" ||
                                    qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
                                    qEnvironmentVariableIsSet("WAYLAND_SOCKET");
        const DisplayServer preferred = waylandSession ? DisplayServer::Wayland : DisplayServer::X11;
        const DisplayServer other =
            preferred == DisplayServer::Wayland ? DisplayServer::X11 : DisplayServer::Wayland;
        QString whyPreferred;
        QString whyOther;
        if (canReach(preferred, &whyPreferred)) {
            choice.server = preferred;
        } else if (canReach(other, &whyOther)) {
            choice.server = other;
            choice.note = QStringLiteral("Runs on %1: %2").arg(nameOf(other), whyPreferred);
        } else {
            choice.server = preferred;
            choice.whyNot = whyPreferred + QStringLiteral("; ") + whyOther;
        }
    }
    if (choice.whyNot.isEmpty())
        qputenv("QT_QPA_PLATFORM", qtPlatform(choice.server));
    if (choice.whyNot.isEmpty() && choice.server == DisplayServer::Wayland)
        paintWithoutGl();
    return choice;
}

} // namespace glimra
